// The zoomed canvas against independent expectations: below 100 % at rest
// the area average of the defining pipeline's render, above it square
// blocks; the View items, their shortcuts in every window, the wheel about
// the pointer, Fit on Screen, and saves that do not depend on the zoom.
#include <QFile>
#include <QMenuBar>
#include <QProcess>
#include <QScreen>
#include <QScrollBar>
#include <QWheelEvent>

#include <cstring>
#include <random>

#include "AppTestSupport.h"
#include "ProgramFixture.h"
#include "Reference.h"
#include "framework/WindowMenu.h"

using tavrin::Slider;
using tavrin::SliderPositions;

namespace {

tavrin::TWin ReferenceRender(const tavrin::TWin& Source, const SliderPositions& Positions)
{
    tavrin::TWin output(Source.Width(), Source.Height());
    tavrin::reference::Render(Source, output, Positions);
    return output;
}

// Each output pixel spread over the view pixels it overlaps, weighted by the
// overlap: coordinates scaled by Width x ViewWidth make every edge whole.
// Each channel is the weighted sum over the area, rounded half up.
tavrin::TWin AreaAverage(const tavrin::TWin& Image, int ViewWidth, int ViewHeight)
{
    const qint64 w = Image.Width(), h = Image.Height();
    std::vector<qint64> sums(std::size_t(ViewWidth * ViewHeight * 3), 0);
    for (qint64 y = 0; y < h; ++y)
        for (qint64 x = 0; x < w; ++x)
            for (qint64 vy = y * ViewHeight / h; vy < ViewHeight && vy * h < (y + 1) * ViewHeight; ++vy)
                for (qint64 vx = x * ViewWidth / w; vx < ViewWidth && vx * w < (x + 1) * ViewWidth; ++vx) {
                    const qint64 across = std::min((x + 1) * ViewWidth, (vx + 1) * w) -
                                          std::max(x * ViewWidth, vx * w);
                    const qint64 down = std::min((y + 1) * ViewHeight, (vy + 1) * h) -
                                        std::max(y * ViewHeight, vy * h);
                    for (int c = 0; c < 3; ++c)
                        sums[std::size_t((vy * ViewWidth + vx) * 3 + c)] +=
                            across * down * Image.Row(int(y))[3 * x + c];
                }
    tavrin::TWin view(ViewWidth, ViewHeight);
    const qint64 area = w * h;
    for (int vy = 0; vy < ViewHeight; ++vy)
        for (int vx = 0; vx < ViewWidth; ++vx)
            for (int c = 0; c < 3; ++c)
                view.Row(vy)[3 * vx + c] =
                    std::uint8_t((2 * sums[std::size_t((vy * ViewWidth + vx) * 3 + c)] + area) / (2 * area));
    return view;
}

// The first place where the window's device pixels differ from Expected,
// or an empty string.
QString Mismatch(QWidget& Canvas, const tavrin::TWin& Expected)
{
    const QImage image = Canvas.grab().toImage().convertToFormat(QImage::Format_RGB32);
    if (image.width() < Expected.Width() || image.height() < Expected.Height())
        return QStringLiteral("window %1x%2 is smaller than the view").arg(image.width()).arg(image.height());
    for (int y = 0; y < Expected.Height(); ++y)
        for (int x = 0; x < Expected.Width(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) != SurfacePixel(Expected, x, y))
                return QStringLiteral("pixel %1,%2 is %3, expected %4")
                    .arg(x)
                    .arg(y)
                    .arg(image.pixel(x, y) & 0xFFFFFF, 6, 16)
                    .arg(SurfacePixel(Expected, x, y), 6, 16);
    return {};
}

bool Activate(QWidget& Window)
{
    Window.show();
    Window.raise();
    Window.activateWindow();
    return QTest::qWaitForWindowActive(&Window);
}

QStringList Texts(const QList<QAction*>& Actions)
{
    QStringList texts;
    for (const QAction* action : Actions)
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return texts;
}

void SendCtrlWheel(QWidget& Window, QPoint At, int Turn)
{
    QWheelEvent wheel(QPointF(At), QPointF(Window.mapToGlobal(At)), QPoint(), QPoint(0, Turn),
                      Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&Window, &wheel);
}

} // namespace

class TestZoom : public TProgramTest {
    Q_OBJECT
private slots:
    void cleanup() { StopProgram(); }
    void restingViewIsTheAreaAverage();
    void blocksAboveActualSize();
    void viewItemsAndShortcutsInEveryWindow();
    void wheelZoomsAboutThePointer();
    void fitOnScreenShowsTheWholeOutput();
    void saveDoesNotDependOnTheZoom();
    void startsWithAJpegLargerThanTheScreen();

private:
    void SetSliders(const SliderPositions& Positions)
    {
        for (int i = 0; i < tavrin::SliderCount; ++i)
            Program->Panel.ScrollBars()[std::size_t(i)]->setValue(Positions.Value[std::size_t(i)]);
    }
};

void TestZoom::restingViewIsTheAreaAverage()
{
    std::mt19937 random(1717);
    const auto uniform = [&](int Low, int High) { return std::uniform_int_distribution<int>(Low, High)(random); };
    for (int round = 0; round < 6; ++round) {
        const int width = uniform(31, 150), height = uniform(23, 120);
        QVERIFY(StartProgram(width, height, round));
        const double zoom = tavrin::ZoomSteps[std::size_t(uniform(0, 7))];
        Program->Canvas.SetZoom(zoom);
        SliderPositions p;
        p[Slider::XSlice] = uniform(1, 6);
        p[Slider::YSlice] = uniform(0, 5);
        p[Slider::TavrinX] = uniform(0, 1);
        p[Slider::TavrinY] = uniform(0, 1);
        p[Slider::LockXY] = uniform(0, 1);
        p[Slider::XPosition] = uniform(-30, 30);
        p[Slider::YPosition] = uniform(-30, 30);
        p[Slider::Angle] = uniform(0, 360);
        SetSliders(p);
        QTRY_VERIFY(Program->Canvas.ViewExact());
        const tavrin::TViewSize view = tavrin::ViewSize(width, height, zoom);
        const tavrin::TWin expected =
            AreaAverage(ReferenceRender(Program->Canvas.Source(), p), view.Width, view.Height);
        const QString mismatch = Mismatch(Program->Canvas, expected);
        QVERIFY2(mismatch.isEmpty(), qPrintable(QStringLiteral("%1x%2 at zoom %3: %4")
                                                    .arg(width).arg(height).arg(zoom).arg(mismatch)));
        StopProgram();
    }
}

void TestZoom::blocksAboveActualSize()
{
    QVERIFY(StartProgram(23, 17, 3));
    SliderPositions p;
    p[Slider::XSlice] = 3;
    p[Slider::TavrinX] = 1;
    p[Slider::Angle] = 29;
    SetSliders(p);
    for (double zoom : {3.0, 2.0, 16.0}) {
        Program->Canvas.SetZoom(zoom);
        const int side = int(zoom);
        const qreal ratio = Program->Canvas.devicePixelRatioF();
        QCOMPARE(Program->Canvas.size(), QSize(qCeil(23 * side / ratio), qCeil(17 * side / ratio)));
        const tavrin::TWin output = ReferenceRender(Program->Canvas.Source(), p);
        tavrin::TWin blocks(23 * side, 17 * side);
        for (int y = 0; y < blocks.Height(); ++y)
            for (int x = 0; x < blocks.Width(); ++x)
                std::copy_n(output.Row(y / side) + 3 * (x / side), 3, blocks.Row(y) + 3 * x);
        const QString mismatch = Mismatch(Program->Canvas, blocks);
        QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    }
}

void TestZoom::viewItemsAndShortcutsInEveryWindow()
{
    QVERIFY(StartProgram(40, 30, 1));
    TForm1& canvas = Program->Canvas;
    // The View menu between Edit and Help, the popup's own items first, the
    // window menu as the popup's first six make it.
    QCOMPARE(Texts(Program->Panel.menuBar()->actions()),
             QStringList({"File", "Edit", "View", "Help", "About", "Min"}));
    const QStringList view{"Zoom In", "Zoom Out", "Fit on Screen", "Actual Pixels", "-", "Zoom 100 %"};
    QCOMPARE(Texts(Program->Panel.menuBar()->actions()[2]->menu()->actions()), view);
    QCOMPARE(Texts(canvas.PopupMenu1->actions()),
             QStringList({"Help", "About", "-", "Be Silent", "Make Noise", "-", "Copy Image", "-"}) + view);
    const QStringList windowMenu = Texts(GetSystemMenu(&canvas, false)->actions());
    QCOMPARE(windowMenu.mid(0, 6), QStringList({"Help", "About", "-", "Be Silent", "Make Noise", "-"}));
    QVERIFY(!windowMenu.contains(QStringLiteral("Zoom In")));

    struct TPress {
        int Key;
        Qt::KeyboardModifiers Modifiers;
        double Zoom;
    };
    const TPress presses[] = {{Qt::Key_Equal, Qt::ControlModifier, 2},
                              {Qt::Key_Plus, Qt::ControlModifier, 3},
                              {Qt::Key_1, Qt::ControlModifier, 1},
                              {Qt::Key_Minus, Qt::ControlModifier, 2.0 / 3},
                              {Qt::Key_Minus, Qt::ControlModifier, 0.5},
                              {Qt::Key_0, Qt::ControlModifier, 1}};
    for (QWidget* window : {static_cast<QWidget*>(&canvas), static_cast<QWidget*>(&Program->Panel),
                            static_cast<QWidget*>(&Program->Help)}) {
        QVERIFY(Activate(*window));
        QWidget* target = window->focusWidget() ? window->focusWidget() : window;
        for (const TPress& press : presses) {
            QTest::keyClick(target, Qt::Key(press.Key), press.Modifiers);
            QVERIFY2(qFuzzyCompare(canvas.Zoom(), press.Zoom),
                     qPrintable(QStringLiteral("%1: zoom %2, expected %3")
                                    .arg(window->windowTitle()).arg(canvas.Zoom()).arg(press.Zoom)));
        }
        canvas.SetZoom(2);
        QCOMPARE(canvas.ZoomShown1->text(), QStringLiteral("Zoom 200 %"));
        canvas.SetZoom(1);
    }
}

void TestZoom::wheelZoomsAboutThePointer()
{
    QVERIFY(StartProgram(60, 40, 2));
    TForm1& canvas = Program->Canvas;
    canvas.move(100, 80);
    const QPoint pointer(30, 12);
    const QPoint held = canvas.mapToGlobal(pointer);
    SendCtrlWheel(canvas, pointer, 120);
    QCOMPARE(canvas.Zoom(), 2.0);
    QCOMPARE(canvas.mapToGlobal(pointer * 2), held);
    SendCtrlWheel(canvas, pointer * 2, -120);
    QCOMPARE(canvas.Zoom(), 1.0);
    QCOMPARE(canvas.mapToGlobal(pointer), held);
    SendCtrlWheel(canvas, pointer, -60);
    SendCtrlWheel(canvas, pointer, -60); // half turns add up to one step
    QCOMPARE(canvas.Zoom(), 2.0 / 3);
    // The view is 40 x 27: the pointer's point of the output is at 20, 8.
    QCOMPARE(canvas.mapToGlobal(QPoint(20, 8)), held);
    // Without Ctrl the wheel does not zoom.
    QWheelEvent plain(QPointF(pointer), QPointF(held), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&canvas, &plain);
    QCOMPARE(canvas.Zoom(), 2.0 / 3);
}

void TestZoom::fitOnScreenShowsTheWholeOutput()
{
    const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
    const qreal ratio = QGuiApplication::primaryScreen()->devicePixelRatio();
    // Wider than the screen, and taller in proportion than it is wide.
    const int width = int(room.width() * ratio) + 37, height = int(room.height() * ratio * 1.3);
    QVERIFY(StartProgram(width, height, 4));
    TForm1& canvas = Program->Canvas;
    canvas.FitOnScreen1->trigger();
    const double expected = room.height() * ratio / height;
    QVERIFY(qAbs(canvas.Zoom() - expected) < 1e-9);
    QCOMPARE(canvas.geometry(), QRect(room.topLeft(), QSize(qCeil(qRound(width * expected) / ratio),
                                                            qCeil(qRound(height * expected) / ratio))));
    QVERIFY(room.contains(canvas.geometry()));
    // A picture that fits already stays at actual size.
    canvas.OpenFile(MakeBitmap(*Dir, QStringLiteral("small.bmp"), 50, 40, 5));
    QCOMPARE(canvas.Zoom(), 1.0);
    QCOMPARE(canvas.size(), QSize(qCeil(50 / ratio), qCeil(40 / ratio)));
}

void TestZoom::saveDoesNotDependOnTheZoom()
{
    QVERIFY(StartProgram(37, 29, 6));
    const QString original = Dir->filePath(QStringLiteral("original.bmp"));
    QVERIFY(QFile::copy(File, original));
    SliderPositions p;
    p[Slider::XSlice] = 4;
    p[Slider::YSlice] = 2;
    p[Slider::LockXY] = 1;
    p[Slider::XPosition] = -7;
    p[Slider::Angle] = 200;
    SetSliders(p);
    const QString cli = Dir->filePath(QStringLiteral("cli.bmp"));
    QProcess renderer;
    renderer.start(QStringLiteral(TAVRIN_RENDER),
                   {QStringLiteral("--x-slice=4"), QStringLiteral("--y-slice=2"), QStringLiteral("--lock-xy=1"),
                    QStringLiteral("--x-position=-7"), QStringLiteral("--angle=200"), original, cli});
    QVERIFY(renderer.waitForFinished(30000));
    QCOMPARE(renderer.exitCode(), 0);
    QFile expected(cli);
    QVERIFY(expected.open(QIODevice::ReadOnly));
    const QByteArray bytes = expected.readAll();
    for (double zoom : {1.0 / 3, 4.0, 0.5}) {
        Program->Canvas.SetZoom(zoom);
        QVERIFY(QFile::remove(File));
        Program->Panel.Save1Click();
        QFile saved(File);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QVERIFY2(saved.readAll() == bytes, qPrintable(QStringLiteral("zoom %1").arg(zoom)));
    }
}

void TestZoom::startsWithAJpegLargerThanTheScreen()
{
    // A first view (a reduced decode at Fit, the top rows at actual size)
    // while the head start decodes the whole, which then replaces it.
    const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
    const qreal ratio = QGuiApplication::primaryScreen()->devicePixelRatio();
    const int width = int(room.width() * ratio * 2) + 11, height = int(room.height() * ratio * 1.5);
    Dialogs = std::make_unique<TScriptedDialogs>();
    Dir = std::make_unique<QTemporaryDir>();
    File = MakeImage(*Dir, QStringLiteral("photo.jpg"), width, height, 7);
    const tavrin::TWin picture = tavrin::ReadImageFile(File);
    for (const bool fit : {true, false}) {
        Program.reset(); // one program at a time, as in a process
        Program = std::make_unique<TProgram>(File, Player);
        Program->Canvas.StartZoomed(fit ? std::nullopt : std::optional(1.0));
        Program->Canvas.StartOpening();
        TForm1& canvas = Program->Canvas;
        if (!fit) {
            // The first view alone, before the whole picture is taken: the
            // top rows the screen shows, exact.
            canvas.show();
            QCoreApplication::sendPostedEvents(&canvas, QEvent::MetaCall);
            tavrin::TWin top(int(room.width() * ratio), int(room.height() * ratio));
            for (int y = 0; y < top.Height(); ++y)
                std::memcpy(top.Row(y), picture.Row(y), 3 * std::size_t(top.Width()));
            const QString early = Mismatch(canvas, top);
            QVERIFY2(early.isEmpty(), qPrintable(early));
            QVERIFY(canvas.Source().Width() != width); // not taken yet
        }
        QVERIFY(Program->Start());
        const double zoom = fit ? std::min(room.width() * ratio / width, room.height() * ratio / height) : 1;
        QVERIFY(qAbs(canvas.Zoom() - zoom) < 1e-9);
        QCOMPARE(canvas.Source().Width(), width);
        const tavrin::TViewSize view = tavrin::ViewSize(width, height, zoom);
        const QString mismatch = Mismatch(canvas, fit ? AreaAverage(picture, view.Width, view.Height) : picture);
        QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    }
    QVERIFY(Dialogs->Errors.isEmpty());
}

TAVRIN_TEST_MAIN(TestZoom)
#include "zoom_test.moc"
