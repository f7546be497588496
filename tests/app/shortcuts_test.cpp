// The program's shortcuts act the same whichever of its windows is active:
// the canvas, the control panel, Help or About.
#include <QFile>
#include <QMenuBar>
#include <QAction>

#include "AppTestSupport.h"
#include "ProgramFixture.h"

using tavrin::Slider;

namespace {

// Makes Window the active one, as a click on it would.
bool Activate(QWidget& Window)
{
    Window.show();
    Window.raise();
    Window.activateWindow();
    return QTest::qWaitForWindowActive(&Window);
}

} // namespace

class TestShortcuts : public TProgramTest {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void fileCommandsInEveryWindow_data();
    void fileCommandsInEveryWindow();
    void undoAndRedoInEveryWindow_data() { fileCommandsInEveryWindow_data(); }
    void undoAndRedoInEveryWindow();

private:
    QWidget& Window(const QString& Name);
};

void TestShortcuts::init()
{
    QVERIFY(StartProgram(19, 13, 5));
}

void TestShortcuts::cleanup()
{
    StopProgram();
}

QWidget& TestShortcuts::Window(const QString& Name)
{
    if (Name == QLatin1String("canvas"))
        return Program->Canvas;
    if (Name == QLatin1String("panel"))
        return Program->Panel;
    if (Name == QLatin1String("Help"))
        return Program->Help;
    return Program->About;
}

void TestShortcuts::fileCommandsInEveryWindow_data()
{
    QTest::addColumn<QString>("window");
    for (const char* name : {"canvas", "panel", "Help", "About"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestShortcuts::fileCommandsInEveryWindow()
{
    QFETCH(QString, window);
    QWidget& active = Window(window);
    QVERIFY(Activate(active));
    QWidget* target = active.focusWidget() ? active.focusWidget() : &active;

    // Ctrl+S writes what the canvas shows over the current file.
    Program->Bar(Slider::Angle)->setValue(90);
    QVERIFY(QFile::remove(File));
    QTest::keyClick(target, Qt::Key_S, Qt::ControlModifier);
    tavrin::TWin saved;
    QVERIFY(QFile::exists(File));
    saved.LoadFromFile(QFile::encodeName(File).toStdString());
    QVERIFY(SamePixels(saved, Program->Canvas.Output()));
    QVERIFY(Dialogs->Asked.empty());

    // Ctrl+Shift+S asks where to save, Ctrl+O what to open.
    QTest::keyClick(target, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(Dialogs->Asked.size(), std::size_t(1));
    QCOMPARE(Dialogs->Asked.back().Title, Program->Canvas.SaveDialog1.Title);
    const QString next = MakeBitmap(*Dir, QStringLiteral("next.bmp"), 7, 11, 2);
    Dialogs->OpenAnswers << next;
    QTest::keyClick(target, Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(Dialogs->Asked.size(), std::size_t(2));
    QCOMPARE(Dialogs->Asked.back().Title, Program->Canvas.OpenDialog1.Title);
    QCOMPARE(Program->Canvas.CurrentFile(), next);

    // Ctrl+Q ends the program.
    QVERIFY(Activate(active));
    QCOMPARE(RunUntilExit([&] { QTest::keyClick(target, Qt::Key_Q, Qt::ControlModifier); }), 0);
}

void TestShortcuts::undoAndRedoInEveryWindow()
{
    QFETCH(QString, window);
    Program->Bar(Slider::Angle)->setValue(90);
    Program->Bar(Slider::XSlice)->setValue(3);
    QWidget& active = Window(window);
    QVERIFY(Activate(active));
    QWidget* target = active.focusWidget() ? active.focusWidget() : &active;
    const auto angleAndSlices = [&] {
        return std::pair(Program->Bar(Slider::Angle)->value(), Program->Bar(Slider::XSlice)->value());
    };

    QTest::keyClick(target, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(angleAndSlices(), std::pair(90, 1));
    QTest::keyClick(target, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(angleAndSlices(), std::pair(90, 3));
    QTest::keyClick(target, Qt::Key_Z, Qt::ControlModifier);
    QTest::keyClick(target, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(angleAndSlices(), std::pair(0, 1));
    QTest::keyClick(target, Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(angleAndSlices(), std::pair(90, 1));
}

TAVRIN_TEST_MAIN(TestShortcuts)
#include "shortcuts_test.moc"
