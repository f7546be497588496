// The canvas on Wayland, under a headless compositor of the test's own with
// no X server beside it. There the program never learns where the window
// is: after a system move the compositor may show any part of it. So after
// every slider step, at 100 % and zoomed in, the whole buffer handed to the
// compositor holds the render.
#include <QBackingStore>
#include <QGuiApplication>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <csignal>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "AppTestSupport.h"
#include "ProgramFixture.h"
#include "Render.h"

using tavrin::Slider;

namespace {

// Larger than the compositor's screen both ways, odd-sized.
constexpr int Width = 803, Height = 611, Seed = 9;

// Weston on no hardware, started before the application object so that the
// windows go to it; it ends with the test, even a crashed one.
class TWeston {
public:
    TWeston()
    {
        const QByteArray weston =
            QFile::encodeName(QStandardPaths::findExecutable(QStringLiteral("weston")));
        if (weston.isEmpty())
            return;
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(Runtime.path()));
        qunsetenv("DISPLAY");
        const QByteArray log =
            "--log=" + QFile::encodeName(Runtime.filePath(QStringLiteral("weston.log")));
        Pid = fork();
        if (Pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            execl(weston.constData(), "weston", "--backend=headless-backend.so", "--no-config",
                  "--socket=tavrin-test", "--idle-time=0", "--width=640", "--height=480",
                  log.constData(), nullptr);
            _exit(127);
        }
        const QString socket = Runtime.filePath(QStringLiteral("tavrin-test"));
        for (int tries = 0; tries < 200 && !QFile::exists(socket); ++tries)
            usleep(50000);
        qputenv("WAYLAND_DISPLAY", "tavrin-test");
        qputenv("QT_QPA_PLATFORM", "wayland");
    }
    ~TWeston()
    {
        if (Pid <= 0)
            return;
        kill(Pid, SIGTERM);
        waitpid(Pid, nullptr, 0);
    }

private:
    QTemporaryDir Runtime;
    pid_t Pid = -1;
};

// Each pixel of the buffer last handed to the compositor, as painted and not
// painted again, against the render scaled up Zoom times.
bool Committed(QWidget& Canvas, const tavrin::TWin& Expected, int Zoom, QString& Failure)
{
    QPaintDevice* device = Canvas.backingStore()->paintDevice();
    if (device->devType() != QInternal::Image) {
        Failure = QStringLiteral("the backing store is not an image");
        return false;
    }
    const QImage& buffer = *static_cast<QImage*>(device);
    if (buffer.size() != QSize(Expected.Width() * Zoom, Expected.Height() * Zoom)) {
        Failure = QStringLiteral("a buffer of %1 x %2").arg(buffer.width()).arg(buffer.height());
        return false;
    }
    for (int y = 0; y < buffer.height(); ++y)
        for (int x = 0; x < buffer.width(); ++x)
            if ((buffer.pixel(x, y) & 0xFFFFFF) != SurfacePixel(Expected, x / Zoom, y / Zoom)) {
                Failure = QStringLiteral("window pixel %1,%2 at zoom %3").arg(x).arg(y).arg(Zoom);
                return false;
            }
    return true;
}

} // namespace

class TestWayland : public QObject {
    Q_OBJECT
private slots:
    void everyStepReachesTheWholeWindow();
};

void TestWayland::everyStepReachesTheWholeWindow()
{
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        QSKIP("weston is not installed (scripts/setup.sh installs it)");
    QTemporaryDir dir;
    TRecordingPlayer player;
    TProgram program(MakeBitmap(dir, QStringLiteral("large.bmp"), Width, Height, Seed), player);
    QVERIFY(program.Start());
    QVERIFY(QTest::qWaitForWindowExposed(&program.Canvas));

    const std::pair<Slider, int> steps[2][3] = {
        {{Slider::XSlice, 3}, {Slider::Angle, 37}, {Slider::TavrinY, 1}},
        {{Slider::YPosition, 25}, {Slider::TavrinX, 1}, {Slider::Angle, 200}}};
    tavrin::SliderPositions positions;
    for (const int zoom : {1, 2}) {
        program.Canvas.SetZoom(zoom);
        for (const auto& [slider, value] : steps[zoom - 1]) {
            positions[slider] = value;
            program.Bar(slider)->setValue(value);
            tavrin::TWin expected(program.Canvas.Source());
            tavrin::Render(program.Canvas.Source(), expected, positions);
            QString failure;
            const char* caption = tavrin::SliderRanges[int(slider)].Caption;
            QVERIFY2(Committed(program.Canvas, expected, zoom, failure),
                     qPrintable(QString::fromLatin1(caption) + ": " + failure));
        }
    }
}

int main(int argc, char** argv)
{
    const TWeston weston;
    return RunWindowTest<TestWayland>(argc, argv);
}
#include "wayland_test.moc"
