// tavrin-render: the control panel's render without the windows.
//   tavrin-render [--x-slice N] ... [--angle N] [--render] [--quality N] INPUT OUTPUT
//   tavrin-render --sweep angle:0:360 [--fps N] [--size N] ... INPUT OUTPUT.mp4
// With no slider option and no --render, OUTPUT is INPUT as loaded.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

#include <QFile>

#include "ImageFiles.h"
#include "Render.h"
#include "SettingsText.h"
#include "SweepExport.h"
#include "TWin.h"

namespace {

using tavrin::Slider;

constexpr const char* Usage =
    "Usage: tavrin-render [OPTION]... INPUT OUTPUT\n"
    "  or:  tavrin-render --sweep NAME:FROM:TO[:STEP] [OPTION]... INPUT OUTPUT\n"
    "  or:  tavrin-render --formats\n"
    "Loads INPUT, renders it as the control panel would with the given slider positions\n"
    "(each clamped to its slider's range; sliders not given keep their initial positions)\n"
    "and saves the result. Without a slider option or --render, OUTPUT is INPUT as loaded.\n"
    "INPUT may be any image file Tavrin reads, recognised by its content. OUTPUT's\n"
    "extension, in any letter case, chooses the format written: .bmp (24-bit), .png,\n"
    ".jpg/.jpeg (quality 92 unless --quality is given), .webp (lossless unless --quality\n"
    "is given), .tif/.tiff. --name=N works as well as --name N.\n"
    "\n"
    "With --sweep, one slider runs from FROM to TO in steps of STEP (1 unless given;\n"
    "either direction; TO is the last frame when a step lands on it) while the others\n"
    "stay as the options set them; every frame is the render of its positions, clamped.\n"
    "NAME is a slider option without its dashes: x-slice, y-slice, tavrin-x, tavrin-y,\n"
    "lock-xy, x-position, y-position or angle. At most 10000 frames, counted before\n"
    "clamping. OUTPUT chooses the format:\n"
    "  NAME.webp       animated WebP, lossless unless --quality is given, looping forever\n"
    "  NAME.gif        animated GIF, looping forever; frames of more than 256 colours are\n"
    "                  reduced to 256, others are stored exactly\n"
    "  NAME.mp4        H.264 video (yuv420p), made by the ffmpeg program, which must be\n"
    "                  on PATH; an odd width or height is padded to even with black\n"
    "  NAME.webm       VP9 video, made by ffmpeg likewise\n"
    "  NAME-%04d.png   one still per frame, numbered from 1 (%d, %4d, %04d ...; %% is %),\n"
    "                  in any format that OUTPUT may have for a still (see --formats)\n"
    "\n"
    "Slider options:\n"
    "  --x-slice N     slices across, 1 to 30 (initially 1)\n"
    "  --y-slice N     slices down, 0 to 30 (initially 0, which counts as 1)\n"
    "  --tavrin-x N    1 mirrors the slices across, 0 tiles them\n"
    "  --tavrin-y N    1 mirrors the slices down, 0 tiles them\n"
    "  --lock-xy N     1 mirrors both ways, whatever --tavrin-x and --tavrin-y say\n"
    "  --x-position N  moves the picture right by N pixels, -1500 to 1500\n"
    "  --y-position N  moves the picture down by N pixels, -1500 to 1500\n"
    "  --angle N       turns the picture by N degrees, 0 to 360\n"
    "  --render        renders even when no slider option is given\n"
    "\n"
    "Sweep options:\n"
    "  --sweep NAME:FROM:TO[:STEP]  the slider to sweep, whole numbers, STEP 1 or more\n"
    "  --fps N         frames a second, 1 to 100 (25 unless given)\n"
    "  --size N        fits every frame within N pixels on its longer side (16 to 32767;\n"
    "                  0, the default, is full size), averaging the pixels each one covers\n"
    "  --progress      shows frames done and time left even when standard error is not\n"
    "                  a terminal (on a terminal it is always shown)\n"
    "  --yes           writes an export estimated past 1 GiB without asking\n"
    "  Ctrl+C stops an export; it leaves no new file and keeps any old one.\n"
    "\n"
    "Other options:\n"
    "  --quality N     1 to 100: the quality of a JPEG, or a lossy WebP at that quality;\n"
    "                  for a video the constant-quality factor CRF = 51 x (100 - N) / 100\n"
    "                  for H.264 and 63 x (100 - N) / 100 for VP9, rounded; unless given\n"
    "                  65, which is CRF 18 and 22, not to be told from the frames\n"
    "  --formats       lists the formats that can be read and written\n"
    "  --help          shows this help\n"
    "  --version       shows the version\n"
    "\n"
    "Exit status: 0 done, 1 a file could not be read or written, 2 bad arguments.\n";

struct Job {
    std::string Input;
    std::string Output;
    tavrin::SliderPositions Positions;
    bool Render = false;
    std::optional<tavrin::TSweep> Sweep;
    tavrin::TAnimationOptions Animation;
    bool Progress = false;
    bool Yes = false;
};

struct UsageError {
    std::string Message;
};

std::int64_t ParseNumber(std::string_view Option, std::string_view Text)
{
    const std::optional<std::int64_t> number = tavrin::ParseInteger(Text);
    if (!number)
        throw UsageError{"option " + std::string(Option) + " takes an integer, not '" +
                         std::string(Text) + "'"};
    return *number;
}

int ParseBetween(std::string_view Option, std::string_view Text, int Low, int High)
{
    const std::int64_t number = ParseNumber(Option, Text);
    if (number < Low || number > High)
        throw UsageError{"option " + std::string(Option) + " takes " + std::to_string(Low) +
                         " to " + std::to_string(High) + ", not " + std::string(Text)};
    return int(number);
}

// NAME:FROM:TO[:STEP], NAME a slider option without its dashes.
tavrin::TSweep ParseSweep(std::string_view Text)
{
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t colon = Text.find(':', start);
        parts.push_back(Text.substr(start, colon - start));
        if (colon == std::string_view::npos)
            break;
        start = colon + 1;
    }
    if (parts.size() != 3 && parts.size() != 4)
        throw UsageError{"--sweep takes NAME:FROM:TO or NAME:FROM:TO:STEP, not '" +
                         std::string(Text) + "'"};
    const std::optional<Slider> slider = tavrin::FindSliderOption("--" + std::string(parts[0]));
    if (!slider)
        throw UsageError{"--sweep: no slider is called '" + std::string(parts[0]) + "'"};
    tavrin::TSweep sweep{*slider, ParseNumber("--sweep", parts[1]),
                         ParseNumber("--sweep", parts[2]), 1};
    if (parts.size() == 4)
        sweep.Step = ParseNumber("--sweep", parts[3]);
    if (sweep.Step < 1)
        throw UsageError{"--sweep: STEP must be 1 or more"};
    return sweep;
}

// The options that take no value.
struct FlagOption {
    std::string_view Name;
    bool Job::*Field;
};

constexpr FlagOption FlagOptions[] = {
    {tavrin::RenderOption, &Job::Render}, {"--progress", &Job::Progress}, {"--yes", &Job::Yes}};

const FlagOption* FindFlagOption(std::string_view Name)
{
    for (const FlagOption& option : FlagOptions)
        if (option.Name == Name)
            return &option;
    return nullptr;
}

bool IsSweepOption(std::string_view Name)
{
    return Name == "--sweep" || Name == "--fps" || Name == "--quality" || Name == "--size";
}

void SetSweepOption(Job& Job, std::string_view Name, std::string_view Value)
{
    if (Name == "--fps") {
        Job.Animation.Fps = ParseBetween(Name, Value, 1, 100);
        return;
    }
    if (Name == "--size") {
        Job.Animation.Size = ParseBetween(Name, Value, 0, tavrin::TWin::MaxSide);
        return;
    }
    if (Name == "--quality") {
        Job.Animation.Quality = ParseBetween(Name, Value, 1, 100);
        return;
    }
    if (Job.Sweep)
        throw UsageError{"--sweep may be given only once"};
    Job.Sweep = ParseSweep(Value);
}

Job ParseArguments(const std::vector<std::string_view>& Args)
{
    Job job;
    std::vector<std::string_view> files;
    bool sweepOptions = false;
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
        if (const FlagOption* flag = FindFlagOption(name); flag && !value) {
            job.*flag->Field = true;
            sweepOptions |= flag->Name != tavrin::RenderOption;
            continue;
        }
        const std::optional<Slider> slider = tavrin::FindSliderOption(name);
        if (!slider && !IsSweepOption(name))
            throw UsageError{"unknown option " + std::string(arg)};
        if (!value) {
            if (i + 1 == Args.size())
                throw UsageError{"option " + std::string(name) + " needs a value"};
            value = Args[++i];
        }
        if (slider) {
            job.Positions[*slider] = tavrin::ClampToSlider(*slider, ParseNumber(name, *value));
            job.Render = true;
        } else {
            SetSweepOption(job, name, *value);
            sweepOptions |= name != "--quality"; // a still has a quality too
        }
    }
    if (files.size() != 2)
        throw UsageError{"expected INPUT and OUTPUT"};
    if (sweepOptions && !job.Sweep)
        throw UsageError{"--fps, --size, --progress and --yes go with --sweep"};
    job.Input = files[0];
    job.Output = files[1];
    if (job.Sweep) {
        try {
            tavrin::CheckExport({*job.Sweep, job.Positions, job.Animation}, job.Output);
        } catch (const tavrin::SurfaceError& error) {
            throw UsageError{error.what()};
        }
    }
    return job;
}

// "frame 12/360, 0:07 left", redrawn in place at most a few times a second.
class ProgressLine {
public:
    explicit ProgressLine(bool Shown) : Shown(Shown) {}

    void Show(std::int64_t Done, std::int64_t Total)
    {
        if (!Shown)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (Done < Total && now - Drawn < std::chrono::milliseconds(250))
            return;
        Drawn = now;
        const double seconds = std::chrono::duration<double>(now - Start).count();
        const std::string left =
            tavrin::MinutesAndSeconds(seconds / double(Done) * double(Total - Done));
        std::fprintf(stderr, "\rframe %lld/%lld, %s left ", (long long)Done, (long long)Total,
                     left.c_str());
        if (Done == Total)
            std::fputc('\n', stderr);
        std::fflush(stderr);
    }

private:
    bool Shown;
    std::chrono::steady_clock::time_point Start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point Drawn;
};

// An export past 1 GiB is written with --yes, or when the user at the
// terminal says so.
bool MayWrite(const Job& Job, std::uint64_t Bytes)
{
    if (Bytes <= tavrin::LargeExportBytes || Job.Yes)
        return true;
    if (!isatty(STDIN_FILENO) || !isatty(STDERR_FILENO))
        return false;
    std::fprintf(stderr, "tavrin-render: %s will take about %.1f GiB. Write it? [y/N] ",
                 Job.Output.c_str(), double(Bytes) / double(tavrin::LargeExportBytes));
    std::string answer;
    std::getline(std::cin, answer);
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

volatile std::sig_atomic_t Interrupted = 0;

extern "C" void Interrupt(int)
{
    Interrupted = 1;
}

void RunSweep(const Job& Job, const tavrin::TWin& Source)
{
    const tavrin::TSweepExport sweep{*Job.Sweep, Job.Positions, Job.Animation};
    const std::uint64_t bitmaps = tavrin::ExportBitmapBytes(Source, sweep);
    const std::uint64_t bytes = bitmaps <= tavrin::LargeExportBytes
                                    ? bitmaps
                                    : tavrin::EstimateExportBytes(Source, sweep, Job.Output);
    if (!MayWrite(Job, bytes))
        throw tavrin::SurfaceError(Job.Output + " would take about " +
                                   std::to_string(bytes >> 20) +
                                   " MiB; not written (--yes writes it)");
    tavrin::TWin output(Source.Width(), Source.Height());
    ProgressLine line(Job.Progress || isatty(STDERR_FILENO));
    const int quality = Job.Animation.Quality.value_or(tavrin::DefaultQuality);
    // Ctrl+C cancels the export, which then takes its temporary files away.
    std::signal(SIGINT, Interrupt);
    std::signal(SIGTERM, Interrupt);
    const bool written = tavrin::ExportSweep(
        Source, output, sweep, Job.Output,
        [&](std::int64_t Done, std::int64_t Total) {
            line.Show(Done, Total);
            return !Interrupted;
        },
        [&](const tavrin::TWin& Frame, const std::string& Name) {
            tavrin::WriteImageFile(Frame, QFile::decodeName(Name.c_str()), quality);
        });
    if (!written)
        throw tavrin::SurfaceError("interrupted: " + Job.Output + " was not written");
}

void Run(const Job& Job)
{
    const tavrin::TWin source = tavrin::ReadImageFile(QFile::decodeName(Job.Input.c_str()));
    if (Job.Sweep) {
        RunSweep(Job, source);
        return;
    }
    const QString output = QFile::decodeName(Job.Output.c_str());
    const int quality = Job.Animation.Quality.value_or(tavrin::DefaultQuality);
    if (!Job.Render) {
        tavrin::WriteImageFile(source, output, quality);
        return;
    }
    tavrin::TWin rendered(source.Width(), source.Height());
    tavrin::Render(source, rendered, Job.Positions);
    tavrin::WriteImageFile(rendered, output, quality);
}

void ListFormats()
{
    std::cout << "Reads:  " << tavrin::ReadableExtensions().join(' ').toStdString() << "\n";
    QStringList written;
    for (const tavrin::TWritableFormat& format : tavrin::WritableFormats())
        written << format.Extensions;
    written.sort();
    std::cout << "Writes: " << written.join(' ').toStdString() << "\n";
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
        if (arg == "--formats") {
            ListFormats();
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
