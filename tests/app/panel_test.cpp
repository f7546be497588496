// The control panel: its layout, every slider driving the render, Reset and
// the memory bank, the keyboard, and the main menu's commands.
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>

#include "AppTestSupport.h"
#include "ProgramFixture.h"
#include "Render.h"
#include "Unit1.h"
#include "Unit4.h"

using tavrin::Slider;
using tavrin::SliderPositions;

namespace {

constexpr int Width = 31, Height = 23, Seed = 3;

// True when the output, and the window, hold what the render makes of the
// source at these positions.
bool RendersAs(TProgram& Program, const SliderPositions& Positions)
{
    tavrin::TWin expected(Program.Canvas.Source());
    tavrin::Render(Program.Canvas.Source(), expected, Positions);
    return SamePixels(Program.Canvas.Output(), expected) && Shows(Program.Canvas, expected);
}

// Puts a byte into the output that no render leaves there; true while it stays.
class TMarker {
public:
    explicit TMarker(tavrin::TWin& Output) : Output(Output)
    {
        Output.Row(0)[0] = Mark = std::uint8_t(Output.Row(0)[0] ^ 0xA5);
    }
    bool Untouched() const { return Output.Row(0)[0] == Mark; }

private:
    tavrin::TWin& Output;
    std::uint8_t Mark;
};

// Settings that differ from the start state in every slider.
SliderPositions Settings()
{
    SliderPositions p;
    p.Value = {3, 2, 1, 0, 1, -4, 5, 33};
    return p;
}

void SetAll(TProgram& Program, const SliderPositions& Positions)
{
    for (int i = 0; i < tavrin::SliderCount; ++i)
        Program.Panel.ScrollBars()[i]->setValue(Positions.Value[i]);
}

QStringList Captions(const QList<QAction*>& Actions)
{
    QStringList captions;
    for (QAction* action : Actions)
        captions << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return captions;
}

} // namespace

class TestPanel : public TProgramTest {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void laidOutAsDesigned();
    void menuAsDesigned();
    void opensCentredOnTheScreen();
    void eachSliderRendersItsPositions_data();
    void eachSliderRendersItsPositions();
    void everyStepOfASequenceRendersTheCurrentSettings();
    void samePositionRendersNothing();
    void resetRestoresTheStartAndFillsTheBank();
    void resetAtTheStartRendersNothingButStillPops();
    void memorySwapTwiceRestores();
    void keyboardReachesAndMovesTheSliders();
    void fileMenuOpeningClicks();
    void saveWritesTheOutputToTheCurrentFile();
    void saveAsTakesTheNameOnlyWhenSaved();
    void saveOnAPhotoAsksForANewName();
    void openFromThePanelKeepsTheSliders();
    void soundAndWindowCommands();
    void minMinimisesEverything();
    void exitAndCloseEndTheProgram();
};

void TestPanel::init()
{
    QVERIFY(StartProgram(Width, Height, Seed));
    Player.Clear();
}

void TestPanel::cleanup()
{
    StopProgram();
}

void TestPanel::laidOutAsDesigned()
{
    struct TRow {
        QRect Geometry;
        int Min, Max, Initial;
        const char* Caption;
        QPoint Label;
        Qt::Orientation Orientation;
    };
    const TRow rows[] = {
        {{20, 60, 233, 17}, 1, 30, 1, "X-Slice", {260, 64}, Qt::Horizontal},
        {{20, 76, 233, 17}, 0, 30, 0, "Y-Slice", {260, 80}, Qt::Horizontal},
        {{20, 92, 233, 17}, 0, 1, 0, "Tavrin X", {260, 96}, Qt::Horizontal},
        {{20, 108, 233, 17}, 0, 1, 0, "Tavrin Y", {260, 112}, Qt::Horizontal},
        {{20, 124, 233, 17}, 0, 1, 0, "Lock X-Y", {260, 128}, Qt::Horizontal},
        {{4, 4, 309, 17}, -1500, 1500, 0, "X Position", {4, 24}, Qt::Horizontal},
        {{316, 4, 17, 241}, -1500, 1500, 0, "Y Position", {264, 24}, Qt::Vertical},
        {{4, 228, 309, 17}, 0, 360, 0, "Angle", {8, 208}, Qt::Horizontal},
    };
    TForm4& panel = Program->Panel;
    const QList<QLabel*> labels = panel.centralWidget()->findChildren<QLabel*>();
    for (int i = 0; i < tavrin::SliderCount; ++i) {
        const TRow& row = rows[i];
        QScrollBar* bar = panel.ScrollBars()[i];
        QCOMPARE(bar->objectName(), QStringLiteral("ScrollBar%1").arg(i + 1));
        QCOMPARE(bar->geometry(), row.Geometry);
        QCOMPARE(bar->minimum(), row.Min);
        QCOMPARE(bar->maximum(), row.Max);
        QCOMPARE(bar->value(), row.Initial);
        QCOMPARE(bar->orientation(), row.Orientation);
        QCOMPARE(bar->singleStep(), 1);
        QCOMPARE(bar->pageStep(), 1);
        QVERIFY(bar->hasTracking());
        QCOMPARE(bar->focusPolicy(), Qt::StrongFocus);
        QCOMPARE(bar->accessibleName(), QString::fromLatin1(row.Caption));
        const auto label = std::find_if(labels.begin(), labels.end(), [&](QLabel* l) {
            return l->text() == QLatin1String(row.Caption);
        });
        QVERIFY2(label != labels.end(), row.Caption);
        QCOMPARE((*label)->pos(), row.Label);
        // Each caption fits its box, and no box takes clicks from a slider.
        QVERIFY2((*label)->sizeHint().width() <= (*label)->width(), row.Caption);
        for (QScrollBar* other : panel.ScrollBars())
            QVERIFY2(!(*label)->geometry().intersects(other->geometry()), row.Caption);
    }
    QCOMPARE(Part<QPushButton>(panel, "Button1")->text(), QStringLiteral("Reset"));
    QCOMPARE(Part<QPushButton>(panel, "Button1")->geometry(), QRect(24, 156, 137, 25));
    QCOMPARE(Part<QPushButton>(panel, "Button2")->text(), QStringLiteral("Memory A<>B"));
    QCOMPARE(Part<QPushButton>(panel, "Button2")->geometry(), QRect(164, 156, 137, 25));
    QCOMPARE(panel.centralWidget()->size(), QSize(338, 253));
    QCOMPARE(panel.windowTitle(), QStringLiteral("Tavrin"));
    QCOMPARE(panel.windowFlags() & Qt::WindowType_Mask, Qt::Tool);
    QVERIFY(panel.windowFlags() & Qt::WindowStaysOnTopHint);
    QCOMPARE(panel.MemoryBank(), (std::array<int, 8>{}));
}

void TestPanel::menuAsDesigned()
{
    TForm4& panel = Program->Panel;
    QMenuBar* bar = panel.menuBar();
    QCOMPARE(bar->objectName(), QStringLiteral("MainMenu1"));
    QMenu* file = Part<QMenu>(panel, "File1");
    QCOMPARE(Captions(bar->actions()), (QStringList{"File", "Edit", "View", "Help", "About", "Min"}));
    QCOMPARE(bar->actions()[0]->menu(), file);
    QCOMPARE(bar->actions()[1]->menu(), Part<QMenu>(panel, "Edit1"));
    QCOMPARE(bar->actions()[2]->menu(), Part<QMenu>(panel, "View1"));
    const char* commands[] = {"Help1", "About1", "Min1"};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(bar->actions()[i + 3], Part<QAction>(panel, commands[i]));
        QVERIFY(!bar->actions()[i + 3]->menu()); // they act when clicked in the bar
    }
    QCOMPARE(Captions(file->actions()),
             (QStringList{"Open", "Open Recent", "Save", "SaveAs", "Export Animation…", "-", "Be Silent",
                          "Make Noise", "-", "Exit"}));
    QCOMPARE(Part<QAction>(panel, "Open1")->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
    QCOMPARE(Part<QAction>(panel, "Save1")->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
    QCOMPARE(Part<QAction>(panel, "SaveAs1")->shortcut(),
             QKeySequence(QStringLiteral("Ctrl+Shift+S")));
    QCOMPARE(Part<QAction>(panel, "Exit1")->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
}

void TestPanel::opensCentredOnTheScreen()
{
    TForm4& panel = Program->Panel;
    const QPoint centre = panel.screen()->geometry().center();
    const QPoint own = QRect(panel.pos(), panel.size()).center();
    QVERIFY2((own - centre).manhattanLength() <= 2,
             qPrintable(QStringLiteral("%1,%2").arg(own.x()).arg(own.y())));
}

void TestPanel::eachSliderRendersItsPositions_data()
{
    QTest::addColumn<int>("slider");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("stored");
    QTest::newRow("X-Slice") << int(Slider::XSlice) << 4 << 4;
    QTest::newRow("Y-Slice") << int(Slider::YSlice) << 3 << 3;
    QTest::newRow("Tavrin X") << int(Slider::TavrinX) << 1 << 1;
    QTest::newRow("Tavrin Y") << int(Slider::TavrinY) << 1 << 1;
    QTest::newRow("Lock X-Y") << int(Slider::LockXY) << 1 << 1;
    QTest::newRow("X Position") << int(Slider::XPosition) << -7 << -7;
    QTest::newRow("Y Position") << int(Slider::YPosition) << 5 << 5;
    QTest::newRow("Angle") << int(Slider::Angle) << 33 << 33;
    QTest::newRow("X-Slice above max") << int(Slider::XSlice) << 99 << 30;
    QTest::newRow("X Position far right") << int(Slider::XPosition) << 1500 << 1500;
    QTest::newRow("Y Position below min") << int(Slider::YPosition) << -9000 << -1500;
    QTest::newRow("Angle 360") << int(Slider::Angle) << 360 << 360;
}

void TestPanel::eachSliderRendersItsPositions()
{
    QFETCH(int, slider);
    QFETCH(int, position);
    QFETCH(int, stored);
    TPaintCounter paints;
    Program->Canvas.installEventFilter(&paints);
    Program->Bar(Slider(slider))->setValue(position);
    QCOMPARE(paints.Count, 1); // repainted before the change returns

    SliderPositions expected;
    expected.Value[slider] = stored;
    QCOMPARE(Program->Panel.Positions(), expected);
    QVERIFY(RendersAs(*Program, expected));
    QVERIFY(Player.Names.isEmpty());
}

void TestPanel::everyStepOfASequenceRendersTheCurrentSettings()
{
    // Slices first, then the switches, so that reflection has something to reflect.
    const std::pair<Slider, int> steps[] = {
        {Slider::XSlice, 3},    {Slider::YSlice, 2},    {Slider::TavrinX, 1},
        {Slider::TavrinY, 1},   {Slider::XPosition, 6}, {Slider::YPosition, -3},
        {Slider::Angle, 90},    {Slider::LockXY, 1},    {Slider::TavrinX, 0},
        {Slider::Angle, 359},   {Slider::XSlice, 7},    {Slider::YSlice, 0},
    };
    SliderPositions expected;
    for (const auto& [slider, position] : steps) {
        Program->Bar(slider)->setValue(position);
        expected[slider] = position;
        QVERIFY2(RendersAs(*Program, expected), tavrin::SliderRanges[int(slider)].Caption);
    }
}

void TestPanel::samePositionRendersNothing()
{
    Program->Bar(Slider::Angle)->setValue(45);
    TPaintCounter paints;
    Program->Canvas.installEventFilter(&paints);
    TMarker marker(Program->Canvas.Output());
    Program->Bar(Slider::Angle)->setValue(45);
    Program->Bar(Slider::XSlice)->setValue(0);  // clamps to 1, where it is
    Program->Bar(Slider::LockXY)->setValue(-3); // clamps to 0, where it is
    // An arrow click at the maximum changes nothing either.
    Program->Bar(Slider::TavrinX)->setValue(1);
    TMarker second(Program->Canvas.Output());
    Program->Bar(Slider::TavrinX)->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QVERIFY(second.Untouched());
    QCOMPARE(paints.Count, 1); // the one real change
}

void TestPanel::resetRestoresTheStartAndFillsTheBank()
{
    SetAll(*Program, Settings());
    QCOMPARE(Program->Panel.Positions(), Settings());
    Player.Clear();
    QTest::mouseClick(Part<QPushButton>(Program->Panel, "Button1"), Qt::LeftButton);
    QCOMPARE(Player.Names, QStringList{QStringLiteral("RPOP")});
    const SliderPositions start; // X-Slice 1, everything else 0
    QCOMPARE(Program->Panel.Positions(), start);
    QCOMPARE(Program->Panel.MemoryBank(), start.Value);
    QVERIFY(RendersAs(*Program, start));
}

void TestPanel::resetAtTheStartRendersNothingButStillPops()
{
    SetAll(*Program, Settings());
    // The settings go into the bank.
    QTest::mouseClick(Part<QPushButton>(Program->Panel, "Button2"), Qt::LeftButton);
    QCOMPARE(Program->Panel.MemoryBank(), Settings().Value);
    Player.Clear();
    TMarker marker(Program->Canvas.Output());
    QTest::mouseClick(Part<QPushButton>(Program->Panel, "Button1"), Qt::LeftButton);
    QVERIFY(marker.Untouched());
    QCOMPARE(Player.Names, QStringList{QStringLiteral("RPOP")});
    QCOMPARE(Program->Panel.MemoryBank(), SliderPositions().Value);
}

void TestPanel::memorySwapTwiceRestores()
{
    SetAll(*Program, Settings());
    Player.Clear();
    QTest::mouseClick(Part<QPushButton>(Program->Panel, "Button2"), Qt::LeftButton);
    // The bank held zeros: each slider goes to its start (zero clamped to its minimum).
    QCOMPARE(Program->Panel.Positions(), SliderPositions());
    QCOMPARE(Program->Panel.MemoryBank(), Settings().Value);
    QVERIFY(RendersAs(*Program, SliderPositions()));

    QTest::mouseClick(Part<QPushButton>(Program->Panel, "Button2"), Qt::LeftButton);
    QCOMPARE(Program->Panel.Positions(), Settings());
    QCOMPARE(Program->Panel.MemoryBank(), SliderPositions().Value);
    QVERIFY(RendersAs(*Program, Settings()));
    QCOMPARE(Player.Names, (QStringList{"RPOP", "RPOP"}));
}

void TestPanel::keyboardReachesAndMovesTheSliders()
{
    TForm4& panel = Program->Panel;
    panel.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&panel));
    panel.ScrollBars()[0]->setFocus();
    QTRY_VERIFY(panel.ScrollBars()[0]->hasFocus());
    // Tab walks the sliders in order, then the buttons.
    for (int i = 1; i < tavrin::SliderCount; ++i) {
        QTest::keyClick(&panel, Qt::Key_Tab);
        QVERIFY2(panel.ScrollBars()[i]->hasFocus(), qPrintable(QString::number(i + 1)));
    }
    QTest::keyClick(&panel, Qt::Key_Tab);
    QVERIFY(Part<QPushButton>(panel, "Button1")->hasFocus());

    QScrollBar* xSlice = panel.ScrollBars()[0];
    xSlice->setFocus();
    QTest::keyClick(xSlice, Qt::Key_Right);
    QCOMPARE(xSlice->value(), 2);
    QTest::keyClick(xSlice, Qt::Key_PageDown);
    QCOMPARE(xSlice->value(), 3);
    QTest::keyClick(xSlice, Qt::Key_Left);
    QCOMPARE(xSlice->value(), 2);
    QTest::keyClick(xSlice, Qt::Key_PageUp);
    QCOMPARE(xSlice->value(), 1);
    QTest::keyClick(xSlice, Qt::Key_End);
    QCOMPARE(xSlice->value(), 30);
    QVERIFY(RendersAs(*Program, [] { SliderPositions p; p[Slider::XSlice] = 30; return p; }()));
    QTest::keyClick(xSlice, Qt::Key_Home);
    QCOMPARE(xSlice->value(), 1);
    QScrollBar* yPosition = panel.ScrollBars()[int(Slider::YPosition)];
    yPosition->setFocus();
    QTest::keyClick(yPosition, Qt::Key_Down);
    QCOMPARE(yPosition->value(), 1);
    QTest::keyClick(yPosition, Qt::Key_Up);
    QTest::keyClick(yPosition, Qt::Key_Up);
    QCOMPARE(yPosition->value(), -1);
}

void TestPanel::fileMenuOpeningClicks()
{
    QMenu* file = Part<QMenu>(Program->Panel, "File1");
    file->popup(Program->Panel.mapToGlobal(QPoint(0, 0)));
    QTRY_VERIFY(file->isVisible());
    file->hide();
    QCOMPARE(Player.Names, QStringList{QStringLiteral("RCLICK")});
}

void TestPanel::saveWritesTheOutputToTheCurrentFile()
{
    Program->Bar(Slider::XSlice)->setValue(2);
    Program->Bar(Slider::TavrinX)->setValue(1);
    Part<QAction>(Program->Panel, "Save1")->trigger();
    QVERIFY(Dialogs->Asked.empty());
    tavrin::TWin saved;
    saved.LoadFromFile(QFile::encodeName(File).toStdString());
    QVERIFY(SamePixels(saved, Program->Canvas.Output()));

    // A save that cannot be written says so, and changes nothing else.
    const QString nowhere = Dir->filePath(QStringLiteral("gone/picture.bmp"));
    Program->Canvas.SetCurrentFile(nowhere);
    const tavrin::TWin before(Program->Canvas.Output());
    Part<QAction>(Program->Panel, "Save1")->trigger();
    QCOMPARE(Dialogs->Errors.size(), 1);
    QVERIFY(SamePixels(before, Program->Canvas.Output()));
    QCOMPARE(Program->Canvas.CurrentFile(), nowhere);
    QVERIFY(Player.Names.isEmpty());
}

void TestPanel::saveAsTakesTheNameOnlyWhenSaved()
{
    Program->Bar(Slider::Angle)->setValue(20);
    QAction* saveAs = Part<QAction>(Program->Panel, "SaveAs1");

    saveAs->trigger(); // cancelled
    QCOMPARE(Dialogs->SaveInitial, File);
    QCOMPARE(Dialogs->Asked.back().Title, QStringLiteral("Save New Bitmap"));
    QCOMPARE(Dialogs->Asked.back().DefaultExt, QStringLiteral("bmp"));
    QCOMPARE(Program->Canvas.CurrentFile(), File);

    Dialogs->SaveAnswers << Dir->filePath(QStringLiteral("gone/other.bmp"));
    saveAs->trigger(); // fails
    QCOMPARE(Dialogs->Errors.size(), 1);
    QCOMPARE(Program->Canvas.CurrentFile(), File);

    const QString other = Dir->filePath(QStringLiteral("other.bmp"));
    Dialogs->SaveAnswers << other;
    saveAs->trigger();
    QCOMPARE(Program->Canvas.CurrentFile(), other);
    tavrin::TWin saved;
    saved.LoadFromFile(QFile::encodeName(other).toStdString());
    QVERIFY(SamePixels(saved, Program->Canvas.Output()));
    QCOMPARE(Dialogs->Errors.size(), 1);
}

QByteArray ReadAll(const QString& Name)
{
    QFile file(Name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TestPanel::saveOnAPhotoAsksForANewName()
{
    const QString photo = MakeImage(*Dir, QStringLiteral("photo.jpg"), 16, 12, 3);
    Dialogs->OpenAnswers << photo;
    Part<QAction>(Program->Panel, "Open1")->trigger();
    QCOMPARE(Program->Canvas.CurrentFile(), photo);
    Program->Bar(Slider::Angle)->setValue(90);
    const QByteArray original = ReadAll(photo);
    QAction* save = Part<QAction>(Program->Panel, "Save1");

    save->trigger(); // cancelled: nothing is written
    QCOMPARE(Dialogs->Asked.size(), std::size_t(2));
    QCOMPARE(Dialogs->Asked.back().Title, QStringLiteral("Save New Bitmap"));
    const QString first = Dir->filePath(QStringLiteral("photo-tavrin.png"));
    QCOMPARE(Dialogs->SaveInitial, first);
    QCOMPARE(ReadAll(photo), original);
    QVERIFY(!QFile::exists(first));

    MakeImage(*Dir, QStringLiteral("photo-tavrin.png"), 3, 3);
    Dialogs->SaveAnswers << Dir->filePath(QStringLiteral("photo-tavrin-2.png"));
    save->trigger();
    QCOMPARE(Dialogs->SaveInitial, Dir->filePath(QStringLiteral("photo-tavrin-2.png")));
    QCOMPARE(Program->Canvas.CurrentFile(), Dir->filePath(QStringLiteral("photo-tavrin-2.png")));
    QVERIFY(SamePixels(tavrin::ReadImageFile(Program->Canvas.CurrentFile()),
                       Program->Canvas.Output()));
    QCOMPARE(ReadAll(photo), original);

    // Only a bitmap, in any letter case, is written over without asking.
    const QString bitmap = MakeBitmap(*Dir, QStringLiteral("LOUD.BMP"), 16, 12, 3);
    Program->Canvas.SetCurrentFile(bitmap);
    save->trigger();
    QCOMPARE(Dialogs->Asked.size(), std::size_t(3));
    QVERIFY(SamePixels(tavrin::ReadImageFile(bitmap), Program->Canvas.Output()));
    QVERIFY(Dialogs->Errors.isEmpty());
}

void TestPanel::openFromThePanelKeepsTheSliders()
{
    SetAll(*Program, Settings());
    const tavrin::TWin rendered(Program->Canvas.Output());
    Part<QAction>(Program->Panel, "Open1")->trigger(); // cancelled
    QVERIFY(SamePixels(rendered, Program->Canvas.Output()));
    QCOMPARE(Program->Canvas.CurrentFile(), File);

    const QString next = MakeBitmap(*Dir, QStringLiteral("next.bmp"), 9, 14, 4);
    Dialogs->OpenAnswers << next;
    Part<QAction>(Program->Panel, "Open1")->trigger();
    QCOMPARE(Program->Canvas.CurrentFile(), next);
    QCOMPARE(Program->Panel.Positions(), Settings());
    // Shown as loaded until the next change, which renders the new image.
    QVERIFY(SamePixels(Program->Canvas.Output(), Program->Canvas.Source()));
    QCOMPARE(Program->Canvas.Output().Width(), 9);
    Program->Bar(Slider::Angle)->setValue(34);
    SliderPositions expected = Settings();
    expected[Slider::Angle] = 34;
    QVERIFY(RendersAs(*Program, expected));
}

void TestPanel::soundAndWindowCommands()
{
    TForm4& panel = Program->Panel;
    Part<QAction>(panel, "BeSilent1")->trigger();
    QVERIFY(!Program->Canvas.SoundOn());
    Part<QAction>(panel, "Help1")->trigger();
    QVERIFY(Program->Help.isVisible());
    QVERIFY(Player.Names.isEmpty());
    Part<QAction>(panel, "MakeNoise1")->trigger();
    QVERIFY(Program->Canvas.SoundOn());
    Part<QAction>(panel, "About1")->trigger();
    QVERIFY(Program->About.isVisible());
    QCOMPARE(Player.Names, (QStringList{"RSTART", "RSTRUM"}));
}

void TestPanel::minMinimisesEverything()
{
    // The panel, a tool window, has no taskbar entry of its own: it leaves
    // with the canvas and comes back when the canvas is restored.
    Program->Help.show();
    Part<QAction>(Program->Panel, "Min1")->trigger();
    QCOMPARE(Player.Names, QStringList{QStringLiteral("REXIT")});
    QTRY_VERIFY(Program->Canvas.isMinimized());
    QVERIFY(!Program->Panel.isVisible());
    QVERIFY(!Program->Help.isVisible());
    QVERIFY(!Program->About.isVisible());
    Program->Canvas.setWindowState(Qt::WindowNoState);
    QTRY_VERIFY(Program->Panel.isVisible());
    QVERIFY(Program->Help.isVisible());
    QVERIFY(!Program->About.isVisible());
    QVERIFY(!Program->Canvas.isMinimized());
}

void TestPanel::exitAndCloseEndTheProgram()
{
    QCOMPARE(RunUntilExit([&] { Part<QAction>(Program->Panel, "Exit1")->trigger(); }), 0);
    QCOMPARE(RunUntilExit([&] { Program->Panel.close(); }), 0);
}

TAVRIN_TEST_MAIN(TestPanel)
#include "panel_test.moc"
