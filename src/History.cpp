#include "History.h"

THistory::THistory(const TSettings& Start) : States{Start} {}

void THistory::Record(const TSettings& Now)
{
    RunSlider.reset();
    Push(Now);
}

bool THistory::Push(const TSettings& Now)
{
    if (Now == States[Current])
        return false;
    // A new step forgets the steps that were undone.
    States.erase(States.begin() + std::ptrdiff_t(Current) + 1, States.end());
    States.push_back(Now);
    ++Current;
    if (States.size() > Limit + 1) {
        States.pop_front();
        --Current;
    }
    return true;
}

void THistory::Nudge(int Slider, const TSettings& Now)
{
    if (RunSlider != Slider) {
        RunSlider.reset();
        if (Push(Now))
            RunSlider = Slider;
        return;
    }
    States[Current] = Now;
    // Pressed back to where the run began: no step at all.
    if (States[Current] == States[Current - 1]) {
        States.pop_back();
        --Current;
        RunSlider.reset();
    }
}

std::optional<TSettings> THistory::Undo()
{
    RunSlider.reset();
    if (!CanUndo())
        return std::nullopt;
    return States[--Current];
}

std::optional<TSettings> THistory::Redo()
{
    RunSlider.reset();
    if (!CanRedo())
        return std::nullopt;
    return States[++Current];
}
