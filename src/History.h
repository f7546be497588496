// The undo history of the control panel's settings: one entry for each step
// the user took, up to a limit, the oldest forgotten first.
#pragma once

#include <array>
#include <cstddef>
#include <deque>
#include <optional>

#include "Render.h"

// What a step can change: the eight slider positions and the memory bank.
struct TSettings {
    tavrin::SliderPositions Sliders;
    std::array<int, tavrin::SliderCount> Bank{};
    bool operator==(const TSettings&) const = default;
};

class THistory {
public:
    // Steps that can be undone at the most.
    static constexpr std::size_t Limit = 300;

    explicit THistory(const TSettings& Start = {});

    // A step has ended with the settings at Now: a drag let go, a Reset, a
    // memory swap, a paste. A step that changed nothing is not kept.
    void Record(const TSettings& Now);
    // A key press, arrow click or wheel turn has moved slider Slider: one
    // step with the presses on that slider just before it, if nothing else
    // came between.
    void Nudge(int Slider, const TSettings& Now);
    // Whatever comes next begins a step of its own.
    void EndRun() { RunSlider.reset(); }
    // The slider whose run of presses is still open, if any.
    std::optional<int> OpenRun() const { return RunSlider; }

    bool CanUndo() const { return Current > 0; }
    bool CanRedo() const { return Current + 1 < States.size(); }
    // The settings one step back or forward, or nothing at either end.
    std::optional<TSettings> Undo();
    std::optional<TSettings> Redo();

private:
    // Keeps Now as a new step unless the settings are there already.
    bool Push(const TSettings& Now);

    // Where each step left the settings; States[Current] is where they are.
    std::deque<TSettings> States;
    std::size_t Current = 0;
    std::optional<int> RunSlider;
};
