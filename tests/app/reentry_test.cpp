// Input that arrives while a handler runs waits until the handler is done,
// also while sounds really play: the File menu opened by a click, closed
// with Escape, then two keys back to back; arrow clicks sent at once after
// Reset and after Memory A<>B. A handler entered again while it runs fails
// the test (the program warns). Skipped where no sound server runs: without
// one no sound plays, and these faults never showed.
#include <QAudioDevice>
#include <QMediaDevices>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>

#include "ProgramFixture.h"

using tavrin::Slider;

namespace {

constexpr int Width = 29, Height = 19;

// Runs Then from a zero timer once Target starts handling an event of Type:
// at once if the handler waits for nothing, from inside the handler if it
// runs the event loop. Timers stand in for the window system's input, which
// a nested loop delivers as well.
class TInputWhileHandling : public QObject {
public:
    TInputWhileHandling(QObject* Target, QEvent::Type Type, std::function<void()> Then)
        : Type(Type), Then(std::move(Then))
    {
        Target->installEventFilter(this);
        Timer.setSingleShot(true);
        Timer.setInterval(0);
        connect(&Timer, &QTimer::timeout, this, [this] {
            this->Then();
            Done = true;
        });
    }
    bool eventFilter(QObject* Watched, QEvent* Event) override
    {
        if (Event->type() == Type) {
            Watched->removeEventFilter(this);
            Timer.start();
        }
        return false;
    }
    bool Done = false;

private:
    QEvent::Type Type;
    std::function<void()> Then;
    QTimer Timer;
};

// Queues a key press and release for whatever has the keyboard when they
// are delivered, as the window system would.
void PostKey(QWidget& Window, Qt::Key Key)
{
    for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease})
        QCoreApplication::postEvent(Window.windowHandle(), new QKeyEvent(type, Key, Qt::NoModifier));
}

void SendKey(QWidget& Window, Qt::Key Key)
{
    for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
        QKeyEvent event(type, Key, Qt::NoModifier);
        QCoreApplication::sendEvent(Window.windowHandle(), &event);
    }
}

// Queues a left click at the centre of Widget.
void PostClick(QWidget* Widget)
{
    const QPointF point = QRectF(Widget->rect()).center();
    const QPointF global = Widget->mapToGlobal(point);
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
        QCoreApplication::postEvent(
            Widget, new QMouseEvent(type, point, global, Qt::LeftButton,
                                    type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                                    Qt::NoModifier));
}

void ClickRightArrow(QScrollBar* Bar)
{
    QTest::mouseClick(Bar, Qt::LeftButton, Qt::NoModifier, {Bar->width() - 4, Bar->height() / 2});
}

} // namespace

class TestReentry : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void menuBarSurvivesKeysBackToBack_data();
    void menuBarSurvivesKeysBackToBack();
    void arrowClicksAfterAButtonAllTakeEffect_data();
    void arrowClicksAfterAButtonAllTakeEffect();
    void aSecondPressWaitsForTheFirst_data();
    void aSecondPressWaitsForTheFirst();

private:
    QTemporaryDir Dir;
    TScriptedDialogs Dialogs;
    TQtSoundPlayer Player;
};

void TestReentry::initTestCase()
{
    if (QMediaDevices::defaultAudioOutput().isNull())
        QSKIP("No sound output: run the tests through scripts/with-sound-server.sh");
    QVERIFY(Dir.isValid());
}

void TestReentry::init()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral("entered again while it runs")));
}

void TestReentry::menuBarSurvivesKeysBackToBack_data()
{
    QTest::addColumn<Qt::Key>("first");
    QTest::addColumn<Qt::Key>("second");
    QTest::newRow("space, left") << Qt::Key_Space << Qt::Key_Left;
    QTest::newRow("down, right") << Qt::Key_Down << Qt::Key_Right;
}

void TestReentry::menuBarSurvivesKeysBackToBack()
{
    QFETCH(Qt::Key, first);
    QFETCH(Qt::Key, second);
    TProgram program(MakeBitmap(Dir, QStringLiteral("keys.bmp"), Width, Height), Player);
    QVERIFY(program.Start());
    QVERIFY(QTest::qWaitForWindowExposed(&program.Panel));
    QMenuBar* bar = program.Panel.menuBar();
    QMenu* file = Part<QMenu>(program.Panel, "File1");
    for (int round = 0; round < 20; ++round) {
        QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier,
                          bar->actionGeometry(file->menuAction()).center());
        QTRY_VERIFY(file->isVisible());
        QTest::keyClick(file, Qt::Key_Escape);
        QTRY_VERIFY(!file->isVisible());
        // The first key opens a menu and plays its sound; the second must
        // find that menu open.
        TInputWhileHandling secondKey(program.Panel.windowHandle(), QEvent::KeyPress,
                                      [&] { SendKey(program.Panel, second); });
        PostKey(program.Panel, first);
        QTRY_VERIFY(secondKey.Done);
        while (QWidget* popup = QApplication::activePopupWidget())
            popup->close();
        QTest::keyClick(bar, Qt::Key_Escape);
    }
    // Still a working menu bar.
    QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier,
                      bar->actionGeometry(file->menuAction()).center());
    QTRY_VERIFY(file->isVisible());
    file->close();
}

void TestReentry::arrowClicksAfterAButtonAllTakeEffect_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("reset") << "Button1";
    QTest::newRow("memory") << "Button2";
}

void TestReentry::arrowClicksAfterAButtonAllTakeEffect()
{
    QFETCH(QString, button);
    TProgram program(MakeBitmap(Dir, QStringLiteral("arrows.bmp"), Width, Height), Player);
    QVERIFY(program.Start());
    // Away from both the reset value and the memory bank's (both 0).
    program.Bar(Slider::YSlice)->setValue(7);
    QScrollBar* ySlice = program.Bar(Slider::YSlice);
    auto* pressed = Part<QPushButton>(program.Panel, qPrintable(button));
    TInputWhileHandling clicks(pressed, QEvent::MouseButtonRelease, [&] {
        for (int click = 0; click < 5; ++click)
            ClickRightArrow(ySlice);
    });
    PostClick(pressed);
    QTRY_VERIFY(clicks.Done);
    // The button sets Y-Slice to 0 first; then every click adds one.
    QCOMPARE(ySlice->value(), 5);
    QCOMPARE(program.Panel.Positions().Value[std::size_t(Slider::YSlice)], 5);
}

void TestReentry::aSecondPressWaitsForTheFirst_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("after"); // Y-Slice after two presses from 7
    QTest::newRow("reset") << "Button1" << 0;
    QTest::newRow("memory") << "Button2" << 7; // swapped there and back
}

void TestReentry::aSecondPressWaitsForTheFirst()
{
    QFETCH(QString, button);
    QFETCH(int, after);
    TProgram program(MakeBitmap(Dir, QStringLiteral("twice.bmp"), Width, Height), Player);
    QVERIFY(program.Start());
    program.Bar(Slider::YSlice)->setValue(7);
    auto* pressed = Part<QPushButton>(program.Panel, qPrintable(button));
    // Entered again while it runs, the handler would warn and fail the test.
    TInputWhileHandling again(pressed, QEvent::MouseButtonRelease,
                              [&] { QTest::mouseClick(pressed, Qt::LeftButton); });
    PostClick(pressed);
    QTRY_VERIFY(again.Done);
    QCOMPARE(program.Bar(Slider::YSlice)->value(), after);
    // Reset stores its zeros; two swaps bring the bank's zero back.
    QCOMPARE(program.Panel.MemoryBank()[std::size_t(Slider::YSlice)], 0);
}

TAVRIN_TEST_MAIN(TestReentry)
#include "reentry_test.moc"
