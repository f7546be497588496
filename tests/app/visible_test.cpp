// A canvas larger than the screen: a slider step draws and paints what the
// screen shows, and everything else, the saved file and what a drag brings
// into view, is still exactly the render.
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>

#include "AppTestSupport.h"
#include "ProgramFixture.h"
#include "Render.h"

using tavrin::Slider;
using tavrin::SliderPositions;

namespace {

// Larger than the offscreen screen (800 x 600) both ways, odd-sized.
constexpr int Width = 1203, Height = 911, Seed = 5;

// Each pixel of the screen that shows the canvas, against the surface; the
// panel, which stays above the canvas, is left out.
bool ScreenShows(TProgram& Program, const tavrin::TWin& Expected, QString& Failure)
{
    QWidget& Canvas = Program.Canvas;
    const QRect panel = Program.Panel.frameGeometry();
    QScreen* screen = QGuiApplication::primaryScreen();
    const QImage shot = screen->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
    const QPoint at = Canvas.mapToGlobal(QPoint(0, 0));
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) {
            const int ox = x - at.x(), oy = y - at.y();
            if (ox < 0 || oy < 0 || ox >= Expected.Width() || oy >= Expected.Height() ||
                panel.contains(x, y))
                continue;
            if ((shot.pixel(x, y) & 0xFFFFFF) != SurfacePixel(Expected, ox, oy)) {
                Failure = QStringLiteral("screen %1,%2 (output %3,%4)").arg(x).arg(y).arg(ox).arg(oy);
                return false;
            }
        }
    return true;
}

QByteArray FileBytes(const QString& Name)
{
    QFile file(Name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestVisible : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void theOpenedPictureShowsWhereverADragBringsIt();
    void aStepShowsTheRenderAndDragsAndSavesComplete();
    void everyStepOfASequenceShowsTheCurrentSettings();

private:
    std::unique_ptr<QTemporaryDir> Dir;
    std::unique_ptr<TProgram> Program;
    TRecordingPlayer Player;
    QString File;
};

void TestVisible::init()
{
    Dir = std::make_unique<QTemporaryDir>();
    File = MakeBitmap(*Dir, QStringLiteral("large.bmp"), Width, Height, Seed);
    Program = std::make_unique<TProgram>(File, Player);
    QVERIFY(Program->Start());
    QVERIFY(QTest::qWaitForWindowExposed(&Program->Canvas));
}

void TestVisible::cleanup()
{
    Program.reset();
    Dir.reset();
}

void TestVisible::theOpenedPictureShowsWhereverADragBringsIt()
{
    // Only what the screen shows is painted at first; the rest follows as it comes into view.
    const tavrin::TWin& picture = Program->Canvas.Source();
    QString failure;
    for (const QPoint at : {QPoint(0, 0), QPoint(-(Width - 500), -(Height - 400)), QPoint(-300, 0)}) {
        Program->Canvas.move(at);
        QVERIFY2(ScreenShows(*Program, picture, failure), qPrintable(failure));
    }
}

void TestVisible::aStepShowsTheRenderAndDragsAndSavesComplete()
{
    SliderPositions positions;
    positions[Slider::XSlice] = 3;
    Program->Bar(Slider::XSlice)->setValue(3);
    positions[Slider::TavrinX] = 1;
    Program->Bar(Slider::TavrinX)->setValue(1);
    positions[Slider::Angle] = 37;
    Program->Bar(Slider::Angle)->setValue(37);
    tavrin::TWin expected(Program->Canvas.Source());
    tavrin::Render(Program->Canvas.Source(), expected, positions);

    QString failure;
    QVERIFY2(ScreenShows(*Program, expected, failure), qPrintable(failure));
    // Dragged up and left, the lower right part of the canvas comes into view.
    Program->Canvas.move(-(Width - 500), -(Height - 400));
    QVERIFY2(ScreenShows(*Program, expected, failure), qPrintable(failure));
    Program->Canvas.move(-300, -200);
    QVERIFY2(ScreenShows(*Program, expected, failure), qPrintable(failure));

    // Saved, the file holds the whole render, byte for byte what the engine writes.
    const QString saved = Dir->filePath(QStringLiteral("saved.bmp"));
    const QString reference = Dir->filePath(QStringLiteral("reference.bmp"));
    QVERIFY(Program->Canvas.SaveOutput(saved));
    expected.SaveToFile(QFile::encodeName(reference).toStdString());
    QCOMPARE(FileBytes(saved), FileBytes(reference));
    QVERIFY(!FileBytes(saved).isEmpty());
}

void TestVisible::everyStepOfASequenceShowsTheCurrentSettings()
{
    // The canvas partly off the screen on every side but the bottom right.
    Program->Canvas.move(-150, -90);
    const std::pair<Slider, int> steps[] = {
        {Slider::Angle, 12},   {Slider::YSlice, 4},    {Slider::TavrinY, 1},
        {Slider::XSlice, 5},   {Slider::XPosition, -40}, {Slider::LockXY, 1},
        {Slider::Angle, 200},  {Slider::YSlice, 0},
    };
    SliderPositions positions;
    for (const auto& [slider, value] : steps) {
        Program->Bar(slider)->setValue(value);
        positions[slider] = value;
        tavrin::TWin expected(Program->Canvas.Source());
        tavrin::Render(Program->Canvas.Source(), expected, positions);
        QString failure;
        QVERIFY2(ScreenShows(*Program, expected, failure),
                 qPrintable(QString::fromLatin1(tavrin::SliderRanges[int(slider)].Caption) + ": " + failure));
    }
    // The output, read as a whole, is the render of the last settings.
    tavrin::TWin expected(Program->Canvas.Source());
    tavrin::Render(Program->Canvas.Source(), expected, positions);
    QVERIFY(SamePixels(Program->Canvas.Output(), expected));
}

TAVRIN_TEST_MAIN(TestVisible)
#include "visible_test.moc"
