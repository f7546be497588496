// slider-latency: the whole road of a slider step, from key press to pixels
// on the screen. For each screen and image size it starts its own X server
// (Xvfb) at that screen size, opens a synthetic picture of that size in the
// real program, and moves the Angle slider from the keyboard:
//   - one press at a time, timing each until the canvas shows the new angle;
//   - a burst of presses, timing until the canvas shows the last one;
//   - where the canvas is larger than the screen, a drag that brings a new
//     screenful into view, timing each frame until the new part shows.
// "Shows" means that small blocks of the screen hold exactly the pixels of
// the render, read back from the X server. With a zoom below 100 % (--zooms),
// a step shows the live view, and the burst is also timed until the view at
// rest, the exact area average of the render, shows. The base of the ratios is
// tavrin-bench's Render/b (angle 37) at the image size, run first. Beside
// the wall clock it takes the processor time of the program and the server
// over the burst, which a busy machine disturbs less.
//
// With --first-pixels it times the launch instead: from starting the program
// on a JPEG photo until its window shows the picture, at actual size and at
// Fit on Screen, beside a plain image viewer (feh) started the same way on
// the same file, the two taking turns.
// Qt first: the X headers define names that Qt's use.
#include <QString>

#include "ImageFiles.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Downscale.h"
#include "PlaceTurned.h"
#include "Render.h"
#include "Synthetic.h"
#include "TWin.h"
#include "ZoomView.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct TSize {
    int Width = 0;
    int Height = 0;
};

std::string Name(TSize Size)
{
    return std::to_string(Size.Width) + "x" + std::to_string(Size.Height);
}

struct TOptions {
    std::vector<TSize> Screens{{1920, 1080}, {4096, 3072}};
    std::vector<TSize> Images{{1920, 1080}, {4000, 3000}, {8000, 6000}};
    std::vector<std::string> Zooms{"100"}; // "fit" or a percentage up to 100
    int Steps = 12;
    int Burst = 30;
    int DragMoves = 4;
    bool FirstPixels = false;
    int Launches = 5;
    fs::path Program;
    fs::path Bench;
};

// Thrown, so that the servers and programs started are stopped on the way out.
[[noreturn]] void Fail(const std::string& Message)
{
    throw std::runtime_error(Message);
}

std::vector<TSize> ParseSizes(const std::string& List)
{
    std::vector<TSize> sizes;
    std::istringstream in(List);
    for (std::string item; std::getline(in, item, ',');) {
        TSize size;
        char x = 0;
        std::istringstream one(item);
        if (!(one >> size.Width >> x >> size.Height) || x != 'x' || size.Width < 64 ||
            size.Height < 64 || size.Width > 16384 || size.Height > 16384)
            Fail("bad size '" + item + "' (WxH, 64 to 16384 each way)");
        sizes.push_back(size);
    }
    return sizes;
}

TOptions ParseOptions(int Argc, char** Argv)
{
    TOptions options;
    const fs::path here = fs::canonical("/proc/self/exe").parent_path();
    options.Program = here.parent_path() / "src" / "tavrin";
    options.Bench = here / "tavrin-bench";
    for (int i = 1; i < Argc; ++i) {
        const std::string a = Argv[i];
        const auto value = [&](const char* Option) -> std::optional<std::string> {
            const std::string prefix = std::string(Option) + "=";
            if (a.rfind(prefix, 0) == 0)
                return a.substr(prefix.size());
            return std::nullopt;
        };
        if (auto v = value("--screens"))
            options.Screens = ParseSizes(*v);
        else if (auto v = value("--images"))
            options.Images = ParseSizes(*v);
        else if (auto v = value("--zooms")) {
            options.Zooms.clear();
            std::istringstream in(*v);
            for (std::string zoom; std::getline(in, zoom, ',');) {
                const double percent = std::atof(zoom.c_str());
                if (zoom != "fit" && !(percent >= 6.25 && percent <= 100))
                    Fail("bad zoom '" + zoom + "' (fit, or a percentage from 6.25 to 100)");
                options.Zooms.push_back(zoom);
            }
        } else if (auto v = value("--steps"))
            options.Steps = std::clamp(std::atoi(v->c_str()), 1, 100);
        else if (auto v = value("--burst"))
            options.Burst = std::clamp(std::atoi(v->c_str()), 1, 200);
        else if (auto v = value("--drag-moves"))
            options.DragMoves = std::clamp(std::atoi(v->c_str()), 1, 50);
        else if (a == "--first-pixels")
            options.FirstPixels = true;
        else if (auto v = value("--launches"))
            options.Launches = std::clamp(std::atoi(v->c_str()), 1, 50);
        else if (auto v = value("--program"))
            options.Program = *v;
        else if (auto v = value("--bench"))
            options.Bench = *v;
        else
            Fail("unknown argument '" + a +
                 "'; options: --screens=WxH,.. --images=WxH,.. --zooms=fit|PERCENT,.. --steps=N --burst=N "
                 "--drag-moves=N --program=PATH --bench=PATH; --first-pixels [--launches=N]");
    }
    if (options.Steps + options.Burst + 2 > 360)
        Fail("the Angle slider has 360 steps: fewer steps and burst presses");
    return options;
}

double Milliseconds(Clock::duration D)
{
    return std::chrono::duration<double, std::milli>(D).count();
}

// Starts a program with its output thrown away; returns its process id.
pid_t Spawn(const std::vector<std::string>& Arguments, const std::vector<std::string>& Environment)
{
    const pid_t pid = fork();
    if (pid < 0)
        Fail("cannot start " + Arguments[0]);
    if (pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        for (const std::string& e : Environment)
            putenv(strdup(e.c_str()));
        std::vector<char*> argv;
        for (const std::string& a : Arguments)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

void Stop(pid_t Pid)
{
    if (Pid <= 0)
        return;
    kill(Pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (waitpid(Pid, nullptr, WNOHANG) == Pid)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(Pid, SIGKILL);
    waitpid(Pid, nullptr, 0);
}

struct TChild {
    pid_t Pid;
    ~TChild() { Stop(Pid); }
};

// An X server of the screen size, on the first display number from 50 up
// that is free and where the server starts.
struct TServer {
    pid_t Pid = -1;
    std::string Address;

    explicit TServer(TSize Screen)
    {
        const std::string screen = Name(Screen) + "x24";
        for (int number = 50; number < 150; ++number) {
            const std::string n = std::to_string(number);
            if (fs::exists("/tmp/.X11-unix/X" + n) || fs::exists("/tmp/.X" + n + "-lock"))
                continue;
            Address = ":" + n;
            Pid = Spawn({"Xvfb", Address, "-screen", "0", screen, "-nolisten", "tcp", "-noreset"}, {});
            for (int i = 0; i < 100; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                if (waitpid(Pid, nullptr, WNOHANG) == Pid)
                    break; // taken meanwhile: the next number
                if (Display* d = XOpenDisplay(Address.c_str())) {
                    XCloseDisplay(d);
                    return;
                }
            }
            Stop(Pid);
            Pid = -1;
        }
        Fail("Xvfb did not start (is it installed?)");
    }
    ~TServer() { Stop(Pid); }
};

struct TWindowBox {
    Window Id = 0;
    int X = 0, Y = 0, Width = 0, Height = 0;
};

// The viewable top-level windows; no window manager runs, so they are the
// root's children.
std::vector<TWindowBox> TopLevels(Display* D)
{
    std::vector<TWindowBox> boxes;
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(D, DefaultRootWindow(D), &root, &parent, &children, &count))
        return boxes;
    for (unsigned i = 0; i < count; ++i) {
        XWindowAttributes a;
        if (XGetWindowAttributes(D, children[i], &a) && a.map_state == IsViewable)
            boxes.push_back({children[i], a.x, a.y, a.width, a.height});
    }
    if (children)
        XFree(children);
    return boxes;
}

// A 4 x 4 block of the screen and the pixels it should show (blue, green, red).
struct TBlock {
    int X = 0, Y = 0;
    std::vector<std::uint8_t> Want;
};
constexpr int BlockSide = 4;

bool Shows(Display* D, const TBlock& Block)
{
    XImage* image = XGetImage(D, DefaultRootWindow(D), Block.X, Block.Y, BlockSide, BlockSide,
                              AllPlanes, ZPixmap);
    if (!image)
        return false;
    bool same = true;
    for (int y = 0; y < BlockSide && same; ++y)
        for (int x = 0; x < BlockSide && same; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            const std::uint8_t* want = Block.Want.data() + 3 * (y * BlockSide + x);
            same = (pixel & 0xFF) == want[0] && ((pixel >> 8) & 0xFF) == want[1] &&
                   ((pixel >> 16) & 0xFF) == want[2];
        }
    XDestroyImage(image);
    return same;
}

// Waits until every block shows what it should; the time since Start, or
// nothing after a generous time.
std::optional<double> WaitShown(Display* D, const std::vector<TBlock>& Blocks, Clock::time_point Start,
                                double GiveUpMs = 60000)
{
    if (Blocks.empty())
        Fail("no part of the visible canvas changes: nothing to wait for");
    std::vector<bool> done(Blocks.size(), false);
    for (;;) {
        bool all = true;
        for (std::size_t i = 0; i < Blocks.size(); ++i) {
            if (!done[i])
                done[i] = Shows(D, Blocks[i]);
            all = all && done[i];
        }
        const double elapsed = Milliseconds(Clock::now() - Start);
        if (all)
            return elapsed;
        if (elapsed > GiveUpMs)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
}

// The canvas and what the program shows in it at an angle (the other sliders
// at their start positions, where the render is the turned picture). Below
// 100 % a step shows the live view, the source downscaled to the view's size
// and turned; at rest the area average of the render.
class TCanvasModel {
public:
    TCanvasModel(const tavrin::TWin& Source, tavrin::TViewSize View) : Source(Source), View(View)
    {
        if (View.Width < Source.Width()) {
            Reduced = tavrin::TWin(View.Width, View.Height);
            tavrin::AreaDownscale(Source, Reduced);
        }
    }

    // The pixels of a block at view position (X, Y) as a step shows them.
    std::vector<std::uint8_t> At(int Angle, int X, int Y) const
    {
        const tavrin::TWin& shown = Reduced.Empty() ? Source : Reduced;
        std::vector<std::uint8_t> pixels(3 * BlockSide * BlockSide);
        const tavrin::TDestArea area{pixels.data(), 3 * std::size_t(BlockSide), shown.Width(),
                                     shown.Height(), {X, Y, X + BlockSide, Y + BlockSide}};
        tavrin::PlaceTurnedOnBlackArea(shown, area, shown.Width() / 2, shown.Height() / 2, float(Angle));
        return pixels;
    }

    // The same at rest; the view of one angle at a time is kept.
    std::vector<std::uint8_t> Resting(int Angle, int X, int Y)
    {
        if (Reduced.Empty())
            return At(Angle, X, Y);
        if (RestingAngle != Angle) {
            tavrin::TWin output(Source.Width(), Source.Height());
            tavrin::SliderPositions p;
            p[tavrin::Slider::Angle] = Angle;
            tavrin::Render(Source, output, p);
            RestingView = tavrin::TWin(View.Width, View.Height);
            tavrin::AreaDownscale(output, RestingView);
            RestingAngle = Angle;
        }
        std::vector<std::uint8_t> pixels;
        for (int y = Y; y < Y + BlockSide; ++y)
            pixels.insert(pixels.end(), RestingView.Row(y) + 3 * X, RestingView.Row(y) + 3 * (X + BlockSide));
        return pixels;
    }

private:
    const tavrin::TWin& Source;
    tavrin::TViewSize View;
    tavrin::TWin Reduced;
    tavrin::TWin RestingView;
    int RestingAngle = -1;
};

// Blocks on a grid over the part of the screen where the canvas shows (away
// from the panel) whose pixels differ between the two angles, at most Most.
std::vector<TBlock> ChangingBlocks(const TCanvasModel& Model, const TWindowBox& Canvas,
                                   const TWindowBox& Panel, TSize Screen, int From, int To,
                                   int Left, int Most = 8)
{
    std::vector<TBlock> blocks;
    const int right = std::min(Screen.Width, Canvas.X + Canvas.Width) - BlockSide;
    const int bottom = std::min(Screen.Height, Canvas.Y + Canvas.Height) - BlockSide;
    const int left = std::max({Left, Canvas.X, 0});
    const int top = std::max(Canvas.Y, 0);
    for (int gy = 0; gy < 9 && int(blocks.size()) < Most; ++gy)
        for (int gx = 0; gx < 9 && int(blocks.size()) < Most; ++gx) {
            // From the bottom right, the last part painted, inward.
            const int x = right - (right - left) * gx / 8;
            const int y = bottom - (bottom - top) * gy / 8;
            if (x < left || y < top || (x + BlockSide > Panel.X - 8 && x < Panel.X + Panel.Width + 8 &&
                                        y + BlockSide > Panel.Y - 8 && y < Panel.Y + Panel.Height + 8))
                continue;
            TBlock block{x, y, Model.At(To, x - Canvas.X, y - Canvas.Y)};
            if (From < 0 || block.Want != Model.At(From, x - Canvas.X, y - Canvas.Y))
                blocks.push_back(std::move(block));
        }
    return blocks;
}

struct TResult {
    TSize Screen, Image;
    std::string Zoom;
    double Exact = 0; // from the burst's last step shown to the view at rest
    double ExactProcessorMs = 0; // the program's meanwhile
    std::vector<double> Single;
    double Burst = 0;
    double BurstProcessorMs = 0; // the program's and the X server's
    std::vector<double> DragFrames;
    long PeakKiB = 0;
    double RenderB = 0;
};

double Median(std::vector<double> V)
{
    if (V.empty())
        return 0;
    std::sort(V.begin(), V.end());
    return V[V.size() / 2];
}

// Processor time the process has used, all its threads, in milliseconds.
double ProcessorMs(pid_t Pid)
{
    std::ifstream stat("/proc/" + std::to_string(Pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // Fields after the command name, which ends with the last ')': state is
    // field 3, user and system time fields 14 and 15.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i >= 14)
            ticks += std::atof(field.c_str());
    return ticks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

long PeakResidentKiB(pid_t Pid)
{
    std::ifstream status("/proc/" + std::to_string(Pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return 0;
}

void Key(Display* D, KeySym Symbol, int Times)
{
    const KeyCode code = XKeysymToKeycode(D, Symbol);
    for (int i = 0; i < Times; ++i) {
        XTestFakeKeyEvent(D, code, True, CurrentTime);
        XTestFakeKeyEvent(D, code, False, CurrentTime);
    }
    XFlush(D);
}

TResult Measure(const TOptions& Options, TSize Screen, TSize Image, const std::string& Zoom,
                const fs::path& File, const tavrin::TWin& Source, const fs::path& Scratch)
{
    TResult result;
    result.Screen = Screen;
    result.Image = Image;
    result.Zoom = Zoom;
    // No window manager: the available geometry is the whole screen.
    const double zoom = Zoom == "fit"
                            ? tavrin::FitZoom(Image.Width, Image.Height, {Screen.Width, Screen.Height})
                            : std::atof(Zoom.c_str()) / 100;
    const tavrin::TViewSize view = tavrin::ViewSize(Image.Width, Image.Height, zoom);
    std::vector<std::string> arguments{Options.Program.string(), File.string()};
    if (Zoom != "100")
        arguments.insert(arguments.begin() + 1, {"--zoom", Zoom});
    TServer server(Screen);
    const fs::path runtime = Scratch / ("runtime-" + Name(Screen));
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all);
    const TChild program{Spawn(arguments,
                               {"DISPLAY=" + server.Address, "QT_QPA_PLATFORM=xcb",
                                "XDG_RUNTIME_DIR=" + runtime.string(),
                                // what the program remembers stays in the scratch folder
                                "XDG_CONFIG_HOME=" + (Scratch / "config").string(),
                                "XDG_DATA_HOME=" + (Scratch / "data").string()})};
    Display* d = XOpenDisplay(server.Address.c_str());
    if (!d)
        Fail("cannot open display " + server.Address);
    const std::unique_ptr<Display, int (*)(Display*)> connection(d, XCloseDisplay);

    // The canvas has the picture's size, the panel is the small window.
    TWindowBox canvas, panel;
    const Clock::time_point start = Clock::now();
    while (!canvas.Id || !panel.Id) {
        if (Milliseconds(Clock::now() - start) > 120000)
            Fail("the program's windows did not appear on " + server.Address);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        for (const TWindowBox& box : TopLevels(d)) {
            if (box.Width == view.Width && box.Height == view.Height)
                canvas = box;
            else if (box.Width >= 300 && box.Width < 500 && box.Height >= 200 && box.Height < 400)
                panel = box;
        }
    }
    TCanvasModel model(Source, view);
    if (!WaitShown(d, ChangingBlocks(model, canvas, panel, Screen, -1, 0, 0), Clock::now()))
        Fail("the picture did not show");

    // A click in the Angle slider's trough (the panel's lowest row) gives it
    // the focus and moves it by one.
    XSetInputFocus(d, panel.Id, RevertToPointerRoot, CurrentTime);
    XTestFakeMotionEvent(d, -1, panel.X + 200, panel.Y + panel.Height - 17, CurrentTime);
    XTestFakeButtonEvent(d, 1, True, CurrentTime);
    XTestFakeButtonEvent(d, 1, False, CurrentTime);
    XFlush(d);
    int angle = 1;
    if (!WaitShown(d, ChangingBlocks(model, canvas, panel, Screen, 0, angle, 0), Clock::now()))
        Fail("the click on the Angle slider did not turn the picture");

    for (int i = 0; i < Options.Steps; ++i) {
        // The program at rest, below 100 % also with the exact view done.
        std::this_thread::sleep_for(std::chrono::milliseconds(zoom < 1 ? 800 : 150));
        const auto blocks = ChangingBlocks(model, canvas, panel, Screen, angle, angle + 1, 0);
        const Clock::time_point pressed = Clock::now();
        Key(d, XK_Right, 1);
        ++angle;
        const auto shown = WaitShown(d, blocks, pressed);
        if (!shown)
            Fail("step to angle " + std::to_string(angle) + " never showed");
        result.Single.push_back(*shown);
    }

    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    {
        const auto blocks = ChangingBlocks(model, canvas, panel, Screen, angle, angle + Options.Burst, 0);
        if (zoom < 1)
            model.Resting(angle + Options.Burst, 0, 0); // made before the clock runs
        const double used = ProcessorMs(program.Pid) + ProcessorMs(server.Pid);
        const Clock::time_point pressed = Clock::now();
        Key(d, XK_Right, Options.Burst);
        angle += Options.Burst;
        const auto shown = WaitShown(d, blocks, pressed);
        if (!shown)
            Fail("the burst never showed its last step");
        result.Burst = *shown;
        const double programAtShown = ProcessorMs(program.Pid);
        result.BurstProcessorMs = programAtShown + ProcessorMs(server.Pid) - used;
        if (zoom < 1) {
            // Blocks where the view at rest differs from the live one.
            std::vector<TBlock> resting;
            for (const TBlock& block : ChangingBlocks(model, canvas, panel, Screen, -1, angle, 0, 81)) {
                TBlock exact{block.X, block.Y, model.Resting(angle, block.X - canvas.X, block.Y - canvas.Y)};
                if (exact.Want != block.Want && resting.size() < 8)
                    resting.push_back(std::move(exact));
            }
            const auto exact = WaitShown(d, resting, pressed);
            if (!exact)
                Fail("the view at rest never showed");
            result.Exact = *exact - *shown;
            result.ExactProcessorMs = ProcessorMs(program.Pid) - programAtShown;
        }
    }

    // The drag: the mouse holds the canvas near the screen's right edge and
    // moves left in a few jumps; each frame is timed until the part that came
    // into view on the right shows the render.
    if (view.Width > Screen.Width) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        int x = Screen.Width - 10;
        const int y = Screen.Height - 10;
        const int jump = (Screen.Width - 20) / Options.DragMoves;
        XTestFakeMotionEvent(d, -1, x, y, CurrentTime);
        XTestFakeButtonEvent(d, 1, True, CurrentTime);
        XFlush(d);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        for (int i = 0; i < Options.DragMoves; ++i) {
            TWindowBox moved = canvas;
            moved.X -= jump * (i + 1);
            const auto blocks = ChangingBlocks(model, moved, panel, Screen, -1, angle, Screen.Width - jump);
            x -= jump;
            const Clock::time_point motion = Clock::now();
            XTestFakeMotionEvent(d, -1, x, y, CurrentTime);
            XFlush(d);
            const auto shown = WaitShown(d, blocks, motion);
            if (!shown)
                Fail("a dragged part never showed");
            result.DragFrames.push_back(*shown);
        }
        XTestFakeButtonEvent(d, 1, False, CurrentTime);
        XFlush(d);
    }
    result.PeakKiB = PeakResidentKiB(program.Pid);
    return result;
}

// Render/b in milliseconds per image size, from tavrin-bench's report.
std::vector<double> RenderB(const TOptions& Options)
{
    std::string sizes;
    for (const TSize& image : Options.Images) {
        if (!sizes.empty())
            sizes += ',';
        sizes += Name(image);
    }
    const std::string command = Options.Bench.string() + " --sizes=" + sizes +
                                " --benchmark_filter='^Render/b/' --benchmark_format=json";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        Fail("cannot run " + Options.Bench.string());
    std::string report;
    char buffer[4096];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        report.append(buffer, n);
    if (pclose(pipe) != 0)
        Fail(Options.Bench.string() + " failed");
    std::vector<double> times;
    for (const TSize& image : Options.Images) {
        const std::size_t at = report.find("\"name\": \"Render/b/" + Name(image) + "\"");
        const std::size_t cpu = report.find("\"cpu_time\":", at);
        if (at == std::string::npos || cpu == std::string::npos)
            Fail("no Render/b/" + Name(image) + " in tavrin-bench's report");
        times.push_back(std::atof(report.c_str() + cpu + 11));
    }
    return times;
}

// A photo-like picture for the launch: smooth shading that any viewer's
// scaling shows alike, with grain that makes the JPEG as costly to decode as
// a photo's.
double Shade(int Channel, double X, double Y)
{
    const double waves[3] = {std::sin(X * 3.1) * std::cos(Y * 2.3), std::cos(X * 1.7 + Y * 2.9),
                             std::sin((X - Y) * 2.2)};
    return 128 + 80 * waves[Channel];
}

tavrin::TWin GrainyPicture(int Width, int Height)
{
    tavrin::TWin picture(Width, Height);
    std::uint32_t state = 2463534242u;
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x)
            for (int c = 0; c < 3; ++c) {
                state ^= state << 13;
                state ^= state >> 17;
                state ^= state << 5;
                const double grain = int(state >> 27) - 16;
                picture.Row(y)[3 * x + c] =
                    std::uint8_t(std::clamp(Shade(c, double(x) / Width, double(y) / Height) + grain, 0.0, 255.0));
            }
    return picture;
}

// Whether the window shows the picture: of nine blocks spread over its part
// on the screen, at least seven are within a few levels of the shading they
// should show (Fit: the whole picture scaled to fit the window; otherwise at
// actual size), the picture centred in the window.
bool ShowsPicture(Display* D, const TWindowBox& Window, TSize Screen, TSize Image, bool Fit)
{
    const int shownWidth = std::min(Window.X + Window.Width, Screen.Width) - Window.X;
    const int shownHeight = std::min(Window.Y + Window.Height, Screen.Height) - Window.Y;
    if (Window.X < 0 || Window.Y < 0 || shownWidth < 64 || shownHeight < 64)
        return false;
    int good = 0;
    for (int gy = 1; gy <= 3; ++gy)
        for (int gx = 1; gx <= 3; ++gx) {
            const int x = Window.X + shownWidth * gx / 4, y = Window.Y + shownHeight * gy / 4;
            XImage* image = XGetImage(D, DefaultRootWindow(D), x, y, BlockSide, BlockSide, AllPlanes, ZPixmap);
            if (!image)
                continue;
            double mean[3] = {0, 0, 0};
            for (int by = 0; by < BlockSide; ++by)
                for (int bx = 0; bx < BlockSide; ++bx) {
                    const unsigned long pixel = XGetPixel(image, bx, by);
                    for (int c = 0; c < 3; ++c)
                        mean[c] += double((pixel >> (8 * c)) & 0xFF) / (BlockSide * BlockSide);
                }
            XDestroyImage(image);
            // The picture centred in its window, as both programs place it.
            const double zoom = Fit ? std::min(double(Window.Width) / Image.Width,
                                               double(Window.Height) / Image.Height)
                                    : 1.0;
            const double px = double(x - Window.X) + BlockSide / 2.0 - (Window.Width - Image.Width * zoom) / 2;
            const double py = double(y - Window.Y) + BlockSide / 2.0 - (Window.Height - Image.Height * zoom) / 2;
            const double u = px / zoom / Image.Width, v = py / zoom / Image.Height;
            bool close = true;
            for (int c = 0; c < 3; ++c)
                close = close && std::abs(mean[c] - Shade(c, u, v)) < 12;
            good += close;
        }
    return good >= 7;
}

// From starting Arguments until a window of at least 64 x 64 shows the
// picture; milliseconds.
double LaunchToPicture(const TServer& Server, TSize Screen, const std::vector<std::string>& Arguments,
                       const fs::path& Runtime, TSize Image, bool Fit)
{
    Display* d = XOpenDisplay(Server.Address.c_str());
    if (!d)
        Fail("cannot open display " + Server.Address);
    const std::unique_ptr<Display, int (*)(Display*)> connection(d, XCloseDisplay);
    const Clock::time_point start = Clock::now();
    const TChild program{Spawn(Arguments, {"DISPLAY=" + Server.Address, "QT_QPA_PLATFORM=xcb",
                                           "XDG_RUNTIME_DIR=" + Runtime.string()})};
    for (;;) {
        for (const TWindowBox& box : TopLevels(d))
            if (ShowsPicture(d, box, Screen, Image, Fit))
                return Milliseconds(Clock::now() - start);
        if (Milliseconds(Clock::now() - start) > 60000)
            Fail(Arguments[0] + " never showed the picture");
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

int RunFirstPixels(const TOptions& Options, const fs::path& Scratch)
{
    std::printf("| photo | screen | zoom | tavrin ms (median, min-max) | feh ms (median, min-max) "
                "| tavrin / feh |\n|---|---|---|---:|---:|---:|\n");
    for (const TSize& screen : Options.Screens)
        for (const TSize& image : Options.Images) {
            const fs::path file = Scratch / ("photo-" + Name(image) + ".jpg");
            tavrin::WriteImageFile(GrainyPicture(image.Width, image.Height), QString::fromStdString(file.string()));
            const TServer server(screen);
            const fs::path runtime = Scratch / "runtime";
            fs::create_directories(runtime);
            fs::permissions(runtime, fs::perms::owner_all);
            for (const bool fit : {false, true}) {
                std::vector<double> ours, peer;
                std::vector<std::string> tavrin{Options.Program.string(), file.string()};
                std::vector<std::string> feh{"feh", "--borderless", file.string()};
                if (fit) {
                    tavrin.insert(tavrin.begin() + 1, {"--zoom", "fit"});
                    feh.insert(feh.begin() + 1, "--scale-down");
                }
                for (int i = 0; i < Options.Launches; ++i) {
                    ours.push_back(LaunchToPicture(server, screen, tavrin, runtime, image, fit));
                    peer.push_back(LaunchToPicture(server, screen, feh, runtime, image, fit));
                }
                const auto [ourLow, ourHigh] = std::minmax_element(ours.begin(), ours.end());
                const auto [peerLow, peerHigh] = std::minmax_element(peer.begin(), peer.end());
                std::printf("| %s JPEG | %s | %s | %.0f (%.0f-%.0f) | %.0f (%.0f-%.0f) | %.2f |\n",
                            Name(image).c_str(), Name(screen).c_str(), fit ? "fit" : "100 %",
                            Median(ours), *ourLow, *ourHigh, Median(peer), *peerLow, *peerHigh,
                            Median(ours) / Median(peer));
                std::fflush(stdout);
            }
            fs::remove(file);
        }
    return 0;
}

} // namespace

int Run(int argc, char** argv)
{
    const TOptions options = ParseOptions(argc, argv);
    // A failed request reads as "not shown yet", instead of ending the run
    // with the servers and programs still there.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    if (!fs::exists(options.Program) || !fs::exists(options.Bench))
        Fail("needs the program and tavrin-bench: " + options.Program.string() + ", " +
             options.Bench.string());
    char pattern[] = "/tmp/slider-latency-XXXXXX";
    if (!mkdtemp(pattern))
        Fail("no temporary folder");
    const fs::path scratch = pattern;
    // Removed however the run ends: the pictures are large.
    const std::unique_ptr<const fs::path, void (*)(const fs::path*)> removal(
        &scratch, [](const fs::path* Folder) { fs::remove_all(*Folder); });
    if (options.FirstPixels)
        return RunFirstPixels(options, scratch);

    std::printf("Render/b (tavrin-bench, processor time):\n");
    const std::vector<double> renderB = RenderB(options);
    for (std::size_t i = 0; i < options.Images.size(); ++i)
        std::printf("  %s: %.2f ms\n", Name(options.Images[i]).c_str(), renderB[i]);
    std::fflush(stdout);

    std::vector<TResult> results;
    for (std::size_t i = 0; i < options.Images.size(); ++i) {
        const TSize image = options.Images[i];
        const tavrin::TWin source = SyntheticPicture(image.Width, image.Height);
        const fs::path file = scratch / ("synthetic-" + Name(image) + ".bmp");
        source.SaveToFile(file.string());
        for (const TSize& screen : options.Screens)
            for (const std::string& zoom : options.Zooms) {
                TResult r = Measure(options, screen, image, zoom, file, source, scratch);
                r.RenderB = renderB[i];
                std::fprintf(stderr, "  %s on %s at %s: step %.1f ms, burst %.1f ms\n",
                             Name(image).c_str(), Name(screen).c_str(), zoom.c_str(), Median(r.Single),
                             r.Burst);
                results.push_back(std::move(r));
            }
        fs::remove(file);
    }

    std::printf("\n| image | screen | zoom | single step ms (median, min-max) | burst of %d ms "
                "| ms per step | per step / Render/b | processor ms per step | processor / Render/b "
                "| at rest ms after the burst (processor ms) | drag frame ms (max) | peak RSS MB |\n",
                options.Burst);
    std::printf("|---|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const TResult& r : results) {
        const auto [low, high] = std::minmax_element(r.Single.begin(), r.Single.end());
        const double perStep = r.Burst / options.Burst;
        std::string drag = "-";
        if (!r.DragFrames.empty()) {
            char text[32];
            std::snprintf(text, sizeof text, "%.1f", *std::max_element(r.DragFrames.begin(), r.DragFrames.end()));
            drag = text;
        }
        const double processor = r.BurstProcessorMs / options.Burst;
        std::printf("| %s | %s | %s | %.1f (%.1f-%.1f) | %.0f | %.1f | %.1f | %.1f | %.1f | %s | %s | %ld |\n",
                    Name(r.Image).c_str(), Name(r.Screen).c_str(), r.Zoom.c_str(), Median(r.Single),
                    *low, *high, r.Burst, perStep, perStep / r.RenderB, processor, processor / r.RenderB,
                    r.Zoom == "100" ? "-" : (std::to_string(int(r.Exact)) + " (" +
                                             std::to_string(int(r.ExactProcessorMs)) + ")").c_str(),
                    drag.c_str(),
                    r.PeakKiB / 1024);
    }
    // The step of each image over that of the first image on the same screen
    // at the first zoom.
    std::printf("\nms per step over that of the %s image at %s on the same screen:\n",
                Name(options.Images.front()).c_str(), options.Zooms.front().c_str());
    for (const TResult& r : results)
        for (const TResult& base : results)
            if (base.Screen.Width == r.Screen.Width && base.Screen.Height == r.Screen.Height &&
                base.Image.Width == options.Images.front().Width &&
                base.Image.Height == options.Images.front().Height && base.Zoom == options.Zooms.front())
                std::printf("  %s on %s at %s: %.2f (processor %.2f)\n", Name(r.Image).c_str(),
                            Name(r.Screen).c_str(), r.Zoom.c_str(), r.Burst / base.Burst,
                            r.BurstProcessorMs / base.BurstProcessorMs);
    return 0;
}

int main(int argc, char** argv)
{
    try {
        return Run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "slider-latency: %s\n", error.what());
        return 1;
    }
}
