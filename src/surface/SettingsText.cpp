#include "SettingsText.h"

#include <charconv>
#include <climits>
#include <vector>

namespace tavrin {
namespace {

// Longer than any list of the eight settings by far: a text that is not
// settings is refused before it is split.
constexpr std::size_t LongestText = 1000;

bool IsSpace(char C)
{
    return C == ' ' || C == '\t' || C == '\n' || C == '\r' || C == '\f' || C == '\v';
}

std::vector<std::string_view> Words(std::string_view Text)
{
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (at < Text.size()) {
        if (IsSpace(Text[at])) {
            ++at;
            continue;
        }
        std::size_t end = at;
        while (end < Text.size() && !IsSpace(Text[end]))
            ++end;
        words.push_back(Text.substr(at, end - at));
        at = end;
    }
    return words;
}

std::invalid_argument Unreadable(const std::string& Why)
{
    return std::invalid_argument("These are not Tavrin settings: " + Why + ".");
}

} // namespace

std::optional<Slider> FindSliderOption(std::string_view Name)
{
    for (int i = 0; i < SliderCount; ++i)
        if (SliderOptions[std::size_t(i)] == Name)
            return Slider(i);
    return std::nullopt;
}

std::optional<std::int64_t> ParseInteger(std::string_view Text)
{
    if (!Text.empty() && Text.front() == '+')
        Text.remove_prefix(1);
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(Text.data(), Text.data() + Text.size(), value);
    if (Text.empty() || end != Text.data() + Text.size())
        return std::nullopt;
    if (error == std::errc::result_out_of_range)
        return Text.front() == '-' ? INT64_MIN : INT64_MAX;
    return value;
}

std::string SettingsText(const SliderPositions& Positions)
{
    std::string text;
    for (int i = 0; i < SliderCount; ++i) {
        const std::int32_t position = Positions.Value[std::size_t(i)];
        if (position == SliderRanges[std::size_t(i)].Initial)
            continue;
        if (!text.empty())
            text += ' ';
        text += SliderOptions[std::size_t(i)];
        text += ' ';
        text += std::to_string(position);
    }
    return text.empty() ? std::string(RenderOption) : text;
}

SliderPositions ReadSettingsText(std::string_view Text)
{
    if (Text.size() > LongestText)
        throw Unreadable("the text is too long");
    const std::vector<std::string_view> words = Words(Text);
    if (words.empty())
        throw Unreadable("the text is empty");
    SliderPositions positions;
    for (std::size_t i = 0; i < words.size(); ++i) {
        std::string_view name = words[i];
        std::optional<std::string_view> value;
        if (const auto equals = name.find('='); equals != std::string_view::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
        }
        if (name == RenderOption && !value)
            continue;
        const std::optional<Slider> slider = FindSliderOption(name);
        if (!slider)
            throw Unreadable("'" + std::string(words[i]) + "' is not a slider option");
        if (!value) {
            if (i + 1 == words.size())
                throw Unreadable(std::string(name) + " has no value");
            value = words[++i];
        }
        const std::optional<std::int64_t> number = ParseInteger(*value);
        if (!number)
            throw Unreadable(std::string(name) + " takes a whole number, not '" +
                             std::string(*value) + "'");
        positions[*slider] = ClampToSlider(*slider, *number);
    }
    return positions;
}

} // namespace tavrin
