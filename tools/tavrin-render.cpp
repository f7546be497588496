// tavrin-render: the control panel's render without the windows.
//   tavrin-render INPUT.bmp OUTPUT.bmp [--x-slice N] ... [--angle N] [--render]
// With no slider option and no --render, OUTPUT is INPUT as loaded.
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Render.h"
#include "TWin.h"

namespace {

using tavrin::Slider;

constexpr const char* Usage =
    "Usage: tavrin-render INPUT.bmp OUTPUT.bmp [--x-slice N] [--y-slice N] [--tavrin-x N]\n"
    "                     [--tavrin-y N] [--lock-xy N] [--x-position N] [--y-position N]\n"
    "                     [--angle N] [--render]\n"
    "Loads INPUT, renders it as the control panel would with the given slider positions\n"
    "(each clamped to its slider's range; sliders not given keep their initial positions)\n"
    "and saves the result as a 24-bit bitmap. Without a slider option or --render,\n"
    "OUTPUT is INPUT as loaded.\n"
    "  --help      show this help\n"
    "  --version   show the version\n";

struct SliderOption {
    std::string_view Name;
    Slider Which;
};

constexpr SliderOption SliderOptions[] = {
    {"--x-slice", Slider::XSlice},       {"--y-slice", Slider::YSlice},
    {"--tavrin-x", Slider::TavrinX},     {"--tavrin-y", Slider::TavrinY},
    {"--lock-xy", Slider::LockXY},       {"--x-position", Slider::XPosition},
    {"--y-position", Slider::YPosition}, {"--angle", Slider::Angle},
};

struct Job {
    std::string Input;
    std::string Output;
    tavrin::SliderPositions Positions;
    bool Render = false;
};

struct UsageError {
    std::string Message;
};

// Any whole number is taken; one beyond 64 bits is clamped like one beyond the slider.
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

const SliderOption* FindSliderOption(std::string_view Name)
{
    for (const SliderOption& option : SliderOptions)
        if (option.Name == Name)
            return &option;
    return nullptr;
}

Job ParseArguments(const std::vector<std::string_view>& Args)
{
    Job job;
    std::vector<std::string_view> files;
    for (std::size_t i = 0; i < Args.size(); ++i) {
        std::string_view arg = Args[i];
        if (arg.size() < 2 || arg.substr(0, 2) != "--") {
            files.push_back(arg);
            continue;
        }
        std::string_view name = arg;
        std::optional<std::string_view> value;
        if (const auto equals = arg.find('='); equals != std::string_view::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
        }
        if (name == "--render" && !value) {
            job.Render = true;
            continue;
        }
        const SliderOption* option = FindSliderOption(name);
        if (!option)
            throw UsageError{"unknown option " + std::string(arg)};
        if (!value) {
            if (i + 1 == Args.size())
                throw UsageError{"option " + std::string(name) + " needs a value"};
            value = Args[++i];
        }
        const std::optional<std::int64_t> number = ParseInteger(*value);
        if (!number)
            throw UsageError{"option " + std::string(name) + " takes an integer, not '" +
                             std::string(*value) + "'"};
        job.Positions[option->Which] = tavrin::ClampToSlider(option->Which, *number);
        job.Render = true;
    }
    if (files.size() != 2)
        throw UsageError{"expected INPUT.bmp and OUTPUT.bmp"};
    job.Input = files[0];
    job.Output = files[1];
    return job;
}

void Run(const Job& Job)
{
    tavrin::TWin source;
    source.LoadFromFile(Job.Input);
    if (!Job.Render) {
        source.SaveToFile(Job.Output);
        return;
    }
    tavrin::TWin output(source.Width(), source.Height());
    tavrin::Render(source, output, Job.Positions);
    output.SaveToFile(Job.Output);
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    for (std::string_view arg : args) {
        if (arg == "--help" || arg == "-h") {
            std::cout << Usage;
            return 0;
        }
        if (arg == "--version") {
            std::cout << "tavrin-render " TAVRIN_VERSION "\n";
            return 0;
        }
    }
    Job job;
    try {
        job = ParseArguments(args);
    } catch (const UsageError& error) {
        std::cerr << "tavrin-render: " << error.Message << "\n" << Usage;
        return 2;
    }
    try {
        Run(job);
    } catch (const std::exception& error) {
        std::cerr << "tavrin-render: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
