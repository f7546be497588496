// The slider values as the user sees them (tips at the thumb and on hover,
// screen readers), and the Edit menu: Copy and Paste Settings, Undo and Redo.
#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QClipboard>
#include <QMenu>
#include <QPushButton>
#include <QStyleOptionSlider>
#include <QToolTip>

#include "AppTestSupport.h"
#include "ProgramFixture.h"
#include "../surface/SliderSettings.h"
#include "Random.h"
#include "SettingsText.h"
#include "framework/ScrollBar.h"

using tavrin::Slider;
using tavrin::SliderPositions;
using tavrin::test::With;

namespace {

// The tip's own window, while it is shown.
QWidget* ShownTip()
{
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->inherits("QTipLabel") && window->isVisible())
            return window;
    return nullptr;
}

QRect Thumb(QScrollBar* Bar)
{
    QStyleOptionSlider option;
    option.initFrom(Bar);
    option.orientation = Bar->orientation();
    option.minimum = Bar->minimum();
    option.maximum = Bar->maximum();
    option.sliderPosition = Bar->sliderPosition();
    option.sliderValue = Bar->value();
    option.singleStep = Bar->singleStep();
    option.pageStep = Bar->pageStep();
    option.upsideDown = Bar->invertedAppearance();
    if (Bar->orientation() == Qt::Horizontal)
        option.state |= QStyle::State_Horizontal;
    return Bar->style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                        QStyle::SC_ScrollBarSlider, Bar);
}

} // namespace

class TestEdit : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void hoverTipAndScreenReaderTellValueAndRange_data();
    void hoverTipAndScreenReaderTellValueAndRange();
    void movingShowsTheValueAtTheThumb();
    void settingsFromTheProgramShowNoTip();
    void editMenuAsDesigned();
    void copyNamesTheSlidersOffTheirStart();
    void pasteAppliesEverySettingInOneRender();
    void pasteOfAnUnreadableTextChangesNothing();
    void dragIsOneStepUndoneInOneRender();
    void pressesOnOneSliderAreOneStep();
    void resetMemoryAndPasteAreOneStepEach();
    void historyOutlivesOpenAndForgetsTheOldest();
    void surpriseMeIsOneStepInOneRender();

private:
    // Undoes or redoes one step; returns the renders it took.
    int Undo();
    int Redo();
    QAction* Command(const char* Name) { return Part<QAction>(Program->Panel, Name); }

private:
    std::unique_ptr<TScriptedDialogs> Dialogs;
    std::unique_ptr<QTemporaryDir> Dir;
    std::unique_ptr<TProgram> Program;
    TRecordingPlayer Player;
};

void TestEdit::init()
{
    Dialogs = std::make_unique<TScriptedDialogs>();
    Dir = std::make_unique<QTemporaryDir>();
    const QString file = MakeBitmap(*Dir, QStringLiteral("picture.bmp"), 23, 17, 6);
    Program = std::make_unique<TProgram>(file, Player);
    QVERIFY(Program->Start());
    QToolTip::hideText();
}

void TestEdit::cleanup()
{
    Program.reset();
    Dialogs.reset();
    Dir.reset();
}

void TestEdit::hoverTipAndScreenReaderTellValueAndRange_data()
{
    QTest::addColumn<int>("slider");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("tip");
    QTest::newRow("X-Slice") << int(Slider::XSlice) << 4 << "X-Slice 4 (1 to 30)";
    QTest::newRow("Y-Slice") << int(Slider::YSlice) << 0 << "Y-Slice 0 (0 to 30)";
    QTest::newRow("Tavrin X") << int(Slider::TavrinX) << 1 << "Tavrin X 1 (0 to 1)";
    QTest::newRow("Tavrin Y") << int(Slider::TavrinY) << 1 << "Tavrin Y 1 (0 to 1)";
    QTest::newRow("Lock X-Y") << int(Slider::LockXY) << 0 << "Lock X-Y 0 (0 to 1)";
    QTest::newRow("X Position") << int(Slider::XPosition) << -35 << "X Position -35 (-1500 to 1500)";
    QTest::newRow("Y Position") << int(Slider::YPosition) << 12 << "Y Position 12 (-1500 to 1500)";
    QTest::newRow("Angle") << int(Slider::Angle) << 37 << "Angle 37° (0° to 360°)";
}

void TestEdit::hoverTipAndScreenReaderTellValueAndRange()
{
    QFETCH(int, slider);
    QFETCH(int, position);
    QFETCH(QString, tip);
    QScrollBar* bar = Program->Bar(Slider(slider));
    bar->setValue(position);
    QCOMPARE(bar->toolTip(), tip);

    QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(bar);
    QVERIFY(reader);
    QCOMPARE(reader->text(QAccessible::Name), QString::fromLatin1(tavrin::SliderRanges[slider].Caption));
    QCOMPARE(reader->text(QAccessible::Description), tip);
    QAccessibleValueInterface* value = reader->valueInterface();
    QVERIFY(value);
    QCOMPARE(value->currentValue().toInt(), position);
    QCOMPARE(value->minimumValue().toInt(), tavrin::SliderRanges[slider].Min);
    QCOMPARE(value->maximumValue().toInt(), tavrin::SliderRanges[slider].Max);

    // Hovering shows the tip.
    QHelpEvent hover(QEvent::ToolTip, QPoint(3, 3), bar->mapToGlobal(QPoint(3, 3)));
    QApplication::sendEvent(bar, &hover);
    QTRY_VERIFY(QToolTip::isVisible());
    QCOMPARE(QToolTip::text(), tip);
}

void TestEdit::movingShowsTheValueAtTheThumb()
{
    TForm4& panel = Program->Panel;
    panel.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&panel));

    // By keyboard.
    QScrollBar* angle = Program->Bar(Slider::Angle);
    angle->setFocus();
    QTest::keyClick(angle, Qt::Key_Right);
    QVERIFY(QToolTip::isVisible());
    QCOMPARE(QToolTip::text(), QStringLiteral("Angle 1°"));
    QTest::keyClick(angle, Qt::Key_End);
    QCOMPARE(QToolTip::text(), QStringLiteral("Angle 360°"));
    QWidget* tip = ShownTip();
    QVERIFY(tip);
    // Just below the thumb, which is at the right end now.
    const QRect thumb = Thumb(angle).translated(angle->mapToGlobal(QPoint(0, 0)));
    QVERIFY2(qAbs(tip->x() - thumb.left()) <= 4 && tip->y() >= thumb.top() &&
                 tip->y() <= thumb.bottom() + 4,
             qPrintable(QStringLiteral("tip at %1,%2, thumb at %3,%4")
                            .arg(tip->x()).arg(tip->y()).arg(thumb.left()).arg(thumb.top())));

    // By a click on an arrow.
    QScrollBar* xSlice = Program->Bar(Slider::XSlice);
    QTest::mouseClick(xSlice, Qt::LeftButton, Qt::NoModifier,
                      QPoint(xSlice->width() - 4, xSlice->height() / 2));
    QCOMPARE(xSlice->value(), 2);
    QVERIFY(QToolTip::isVisible()); // still there when the button is let go
    QCOMPARE(QToolTip::text(), QStringLiteral("X-Slice 2"));

    // By dragging the thumb: the tip follows the value at every step.
    QScrollBar* xPosition = Program->Bar(Slider::XPosition);
    const QPoint grip = Thumb(xPosition).center();
    QTest::mousePress(xPosition, Qt::LeftButton, Qt::NoModifier, grip);
    for (int dx : {20, 45, 70}) {
        QTest::mouseMove(xPosition, grip + QPoint(dx, 0));
        QVERIFY(xPosition->value() > 0);
        QCOMPARE(QToolTip::text(), QStringLiteral("X Position %1").arg(xPosition->value()));
    }
    QTest::mouseRelease(xPosition, Qt::LeftButton, Qt::NoModifier, grip + QPoint(70, 0));
    QVERIFY(QToolTip::isVisible());
    QCOMPARE(QToolTip::text(), QStringLiteral("X Position %1").arg(xPosition->value()));
}

void TestEdit::settingsFromTheProgramShowNoTip()
{
    Program->Bar(Slider::Angle)->setValue(80);
    QTest::mouseClick(Part<QPushButton>(Program->Panel, "Button1"), Qt::LeftButton);
    QCOMPARE(Program->Bar(Slider::Angle)->value(), 0);
    QVERIFY(!QToolTip::isVisible());
    // The hover text has followed all the same.
    QCOMPARE(Program->Bar(Slider::Angle)->toolTip(), QStringLiteral("Angle 0° (0° to 360°)"));
}

void TestEdit::editMenuAsDesigned()
{
    QMenu* edit = Part<QMenu>(Program->Panel, "Edit1");
    QCOMPARE(edit->title(), QStringLiteral("Edit"));
    QStringList captions;
    for (QAction* action : edit->actions())
        captions << (action->isSeparator() ? QStringLiteral("-") : action->text());
    QCOMPARE(captions, (QStringList{"Copy Image", "Paste Image", "Copy Settings",
                                    "Paste Settings", "-", "Undo", "Redo", "-", "Surprise Me"}));
    QStringList keys;
    for (QAction* action : edit->actions())
        keys << action->shortcut().toString();
    QCOMPARE(keys, (QStringList{"Ctrl+C", "Ctrl+V", "Ctrl+Shift+C", "Ctrl+Shift+V", "",
                                "Ctrl+Z", "Ctrl+Shift+Z", "", "Ctrl+R"}));
    QCOMPARE(edit->actions()[6]->shortcuts(),
             (QList<QKeySequence>{QKeySequence("Ctrl+Shift+Z"), QKeySequence("Ctrl+Y")}));
    // Nothing to undo or redo yet.
    QVERIFY(!edit->actions()[5]->isEnabled());
    QVERIFY(!edit->actions()[6]->isEnabled());
}

void TestEdit::copyNamesTheSlidersOffTheirStart()
{
    QAction* copy = Part<QAction>(Program->Panel, "CopySettings1");
    QClipboard* clipboard = QGuiApplication::clipboard();
    copy->trigger();
    QCOMPARE(clipboard->text(), QStringLiteral("--render"));
    Program->Bar(Slider::Angle)->setValue(37);
    copy->trigger();
    QCOMPARE(clipboard->text(), QStringLiteral("--angle 37"));
    Program->Bar(Slider::XSlice)->setValue(4);
    Program->Bar(Slider::YPosition)->setValue(-8);
    copy->trigger();
    QCOMPARE(clipboard->text(), QStringLiteral("--x-slice 4 --y-position -8 --angle 37"));
}

void TestEdit::pasteAppliesEverySettingInOneRender()
{
    Program->Bar(Slider::YSlice)->setValue(2); // not in the text: back to its start
    QGuiApplication::clipboard()->setText(
        QStringLiteral("--x-slice 3 --tavrin-x=1 --x-position -4 --angle 90\n"));
    TPaintCounter paints;
    Program->Canvas.installEventFilter(&paints);
    Part<QAction>(Program->Panel, "PasteSettings1")->trigger();
    const SliderPositions expected = With(
        {{Slider::XSlice, 3}, {Slider::TavrinX, 1}, {Slider::XPosition, -4}, {Slider::Angle, 90}});
    QCOMPARE(Program->Panel.Positions(), expected);
    QCOMPARE(paints.Count, 1);
    tavrin::TWin rendered(Program->Canvas.Source());
    tavrin::Render(Program->Canvas.Source(), rendered, expected);
    QVERIFY(SamePixels(Program->Canvas.Output(), rendered));
    QVERIFY(Dialogs->Errors.isEmpty());

    // The same settings again change nothing and render nothing.
    Part<QAction>(Program->Panel, "PasteSettings1")->trigger();
    QCOMPARE(paints.Count, 1);
}

void TestEdit::pasteOfAnUnreadableTextChangesNothing()
{
    const SliderPositions settings = With({{Slider::XSlice, 5}, {Slider::Angle, 12}});
    for (int i = 0; i < tavrin::SliderCount; ++i)
        Program->Panel.ScrollBars()[i]->setValue(settings.Value[i]);
    const tavrin::TWin before(Program->Canvas.Output());
    TPaintCounter paints;
    Program->Canvas.installEventFilter(&paints);
    const QStringList texts{"", "a picture of a cat", "--angle 37 --x-slice", "--angle ninety",
                            "--angle 37 --zoom 2"};
    for (const QString& text : texts) {
        QGuiApplication::clipboard()->setText(text);
        Part<QAction>(Program->Panel, "PasteSettings1")->trigger();
    }
    QCOMPARE(Dialogs->Errors.size(), texts.size());
    QVERIFY2(Dialogs->Errors[4].contains(QLatin1String("--zoom")), qPrintable(Dialogs->Errors[4]));
    QCOMPARE(Program->Panel.Positions(), settings);
    QCOMPARE(paints.Count, 0);
    QVERIFY(SamePixels(Program->Canvas.Output(), before));
}

int TestEdit::Undo()
{
    TPaintCounter paints;
    Program->Canvas.installEventFilter(&paints);
    Command("Undo1")->trigger();
    return paints.Count;
}

int TestEdit::Redo()
{
    TPaintCounter paints;
    Program->Canvas.installEventFilter(&paints);
    Command("Redo1")->trigger();
    return paints.Count;
}

void TestEdit::dragIsOneStepUndoneInOneRender()
{
    QScrollBar* xPosition = Program->Bar(Slider::XPosition);
    // There and back again on one slider: no step, but the start rendered.
    xPosition->setValue(5);
    xPosition->setValue(0);
    QVERIFY(!Command("Undo1")->isEnabled());
    const tavrin::TWin start(Program->Canvas.Output());
    const QPoint grip = Thumb(xPosition).center();
    QTest::mousePress(xPosition, Qt::LeftButton, Qt::NoModifier, grip);
    for (int dx : {10, 30, 50, 40})
        QTest::mouseMove(xPosition, grip + QPoint(dx, 0));
    QVERIFY(!Command("Undo1")->isEnabled()); // not a step until let go
    QTest::mouseRelease(xPosition, Qt::LeftButton, Qt::NoModifier, grip + QPoint(40, 0));
    const int dragged = xPosition->value();
    QVERIFY(dragged > 0);
    const tavrin::TWin moved(Program->Canvas.Output());
    QVERIFY(!SamePixels(moved, start));

    QVERIFY(Command("Undo1")->isEnabled());
    QCOMPARE(Undo(), 1);
    QCOMPARE(Program->Panel.Positions(), SliderPositions());
    QVERIFY(SamePixels(Program->Canvas.Output(), start));
    QVERIFY(!Command("Undo1")->isEnabled());
    QVERIFY(Command("Redo1")->isEnabled());
    QCOMPARE(Redo(), 1);
    QCOMPARE(xPosition->value(), dragged);
    QVERIFY(SamePixels(Program->Canvas.Output(), moved));
    QVERIFY(!Command("Redo1")->isEnabled());
}

void TestEdit::pressesOnOneSliderAreOneStep()
{
    TForm4& panel = Program->Panel;
    panel.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&panel));
    QScrollBar* angle = Program->Bar(Slider::Angle);
    QScrollBar* xSlice = Program->Bar(Slider::XSlice);
    const QPoint rightArrow(xSlice->width() - 4, xSlice->height() / 2);

    angle->setFocus();
    for (int i = 0; i < 4; ++i)
        QTest::keyClick(angle, Qt::Key_Right);
    QTest::keyClick(angle, Qt::Key_Left); // 3
    // Arrow clicks on another slider: a step of their own.
    QTest::mouseClick(xSlice, Qt::LeftButton, Qt::NoModifier, rightArrow);
    QTest::mouseClick(xSlice, Qt::LeftButton, Qt::NoModifier, rightArrow);
    // Back to the first slider: a new step too.
    angle->setFocus();
    QTest::keyClick(angle, Qt::Key_Right);
    QTest::keyClick(angle, Qt::Key_Right); // 5
    // A press elsewhere in between ends a run.
    QTest::mouseClick(&Program->Canvas, Qt::RightButton, Qt::NoModifier, QPoint(2, 2));
    Program->Canvas.PopupMenu1->hide();
    angle->setFocus();
    QTest::keyClick(angle, Qt::Key_Right); // 6
    QCOMPARE(panel.Positions(), With({{Slider::Angle, 6}, {Slider::XSlice, 3}}));

    QCOMPARE(Undo(), 1);
    QCOMPARE(panel.Positions(), With({{Slider::Angle, 5}, {Slider::XSlice, 3}}));
    QCOMPARE(Undo(), 1);
    QCOMPARE(panel.Positions(), With({{Slider::Angle, 3}, {Slider::XSlice, 3}}));
    QCOMPARE(Undo(), 1);
    QCOMPARE(panel.Positions(), With({{Slider::Angle, 3}}));
    QCOMPARE(Undo(), 1);
    QCOMPARE(panel.Positions(), SliderPositions());
    QVERIFY(!Command("Undo1")->isEnabled());

    // A new step forgets what was undone.
    QCOMPARE(Redo(), 1);
    angle->setFocus();
    QTest::keyClick(angle, Qt::Key_Home);
    QVERIFY(!Command("Redo1")->isEnabled());
    QCOMPARE(Undo(), 1);
    QCOMPARE(panel.Positions(), With({{Slider::Angle, 3}}));
}

void TestEdit::resetMemoryAndPasteAreOneStepEach()
{
    const SliderPositions mine = With({{Slider::XSlice, 4}, {Slider::YSlice, 2},
                                       {Slider::XPosition, -3}, {Slider::Angle, 20}});
    QGuiApplication::clipboard()->setText(QString::fromStdString(tavrin::SettingsText(mine)));
    Command("PasteSettings1")->trigger();
    auto* reset = Part<QPushButton>(Program->Panel, "Button1");
    auto* swap = Part<QPushButton>(Program->Panel, "Button2");

    // Memory A<>B keeps rendering once for each slider that changes, and
    // is undone in one render, the bank with it.
    TPaintCounter paints;
    Program->Canvas.installEventFilter(&paints);
    QTest::mouseClick(swap, Qt::LeftButton);
    QCOMPARE(paints.Count, 4);
    QCOMPARE(Program->Panel.Positions(), SliderPositions());
    QCOMPARE(Undo(), 1);
    QCOMPARE(Program->Panel.Positions(), mine);
    QCOMPARE(Program->Panel.MemoryBank(), (std::array<int, tavrin::SliderCount>{}));
    QCOMPARE(Redo(), 1);
    QCOMPARE(Program->Panel.MemoryBank(), mine.Value);
    QCOMPARE(Undo(), 1);

    // So does Reset, which empties the bank.
    SliderPositions banked = mine;
    banked[Slider::TavrinX] = 1;
    Program->Bar(Slider::TavrinX)->setValue(1);
    QTest::mouseClick(swap, Qt::LeftButton); // the bank holds them
    Command("PasteSettings1")->trigger();
    paints.Count = 0;
    QTest::mouseClick(reset, Qt::LeftButton);
    QCOMPARE(paints.Count, 4);
    QCOMPARE(Program->Panel.MemoryBank(), SliderPositions().Value);
    QCOMPARE(Undo(), 1);
    QCOMPARE(Program->Panel.Positions(), mine);
    QCOMPARE(Program->Panel.MemoryBank(), banked.Value);

    // Undo walks back through each step, down to the first paste and before it.
    const SliderPositions steps[] = {SliderPositions(), banked, mine, SliderPositions()};
    for (const SliderPositions& expected : steps) {
        QCOMPARE(Undo(), 1);
        QCOMPARE(Program->Panel.Positions(), expected);
    }
    QVERIFY(!Command("Undo1")->isEnabled());
}

void TestEdit::historyOutlivesOpenAndForgetsTheOldest()
{
    Program->Bar(Slider::Angle)->setValue(30);
    Program->Bar(Slider::YSlice)->setValue(2);
    const QString next = MakeBitmap(*Dir, QStringLiteral("next.bmp"), 13, 9, 7);
    Dialogs->OpenAnswers << next;
    Command("Open1")->trigger();
    QCOMPARE(Program->Canvas.CurrentFile(), next);
    QCOMPARE(Undo(), 1);
    QCOMPARE(Program->Panel.Positions(), With({{Slider::Angle, 30}}));
    // The settings apply to the new picture.
    tavrin::TWin expected(Program->Canvas.Source());
    tavrin::Render(Program->Canvas.Source(), expected, With({{Slider::Angle, 30}}));
    QVERIFY(SamePixels(Program->Canvas.Output(), expected));

    // Steps on two sliders by turns: each is a step of its own.
    for (int i = 1; i <= 350; ++i)
        Program->Bar(i % 2 ? Slider::XPosition : Slider::YPosition)->setValue(i);
    int undone = 0;
    while (Command("Undo1")->isEnabled()) {
        QCOMPARE(Undo(), 1);
        ++undone;
    }
    QCOMPARE(undone, int(THistory::Limit));
    // The oldest are forgotten: the first kept is where the 50th of the 350 left.
    QCOMPARE(Program->Panel.Positions(),
             With({{Slider::Angle, 30}, {Slider::XPosition, 49}, {Slider::YPosition, 50}}));
}

void TestEdit::surpriseMeIsOneStepInOneRender()
{
    const std::uint32_t noise = tavrin::RandSeed;
    QList<SliderPositions> steps{Program->Panel.Positions()};
    TPaintCounter paints;
    Program->Canvas.installEventFilter(&paints);
    for (int press = 1; press <= 4; ++press) {
        Command("SurpriseMe1")->trigger();
        QCOMPARE(paints.Count, press);
        QVERIFY2(!steps.contains(Program->Panel.Positions()), "a press repeated a picture");
        steps << Program->Panel.Positions();
        // The offsets keep the 23 x 17 picture in sight.
        QVERIFY(std::abs(steps.last()[Slider::XPosition]) <= 11 &&
                std::abs(steps.last()[Slider::YPosition]) <= 8);
    }
    QCOMPARE(tavrin::RandSeed, noise); // the render's noise keeps its sequence
    QCOMPARE(Undo(), 1);
    QCOMPARE(Program->Panel.Positions(), steps[3]);
}

TAVRIN_TEST_MAIN(TestEdit)
#include "edit_test.moc"
