// The Help and About windows: their layout as drawn, the ways to open them
// (popup, control panel, window menu), their buttons, and declining the terms.
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include "AppTestSupport.h"
#include "Unit1.h"
#include "Unit2.h"
#include "Unit3.h"
#include "Unit4.h"
#include "framework/Menus.h"
#include "framework/WindowMenu.h"
#include "line.h"

namespace {

// The four windows as the main block makes them, none shown.
struct TWindows {
    TWindows() { Form1.SetWindows(&Form2, &Form3, &Form4); }
    TScriptedDialogs Dialogs;
    TRecordingPlayer Sounds;
    TForm1 Form1{QString(), Sounds};
    TForm2 Form2;
    TForm3 Form3;
    TForm4 Form4{Form1};
};

template <typename T> T* Child(QWidget& Window, const char* Name)
{
    T* Found = Window.findChild<T*>(QString::fromLatin1(Name));
    if (!Found)
        qFatal("no %s", Name);
    return Found;
}

} // namespace

class THelpAboutTest : public QObject {
    Q_OBJECT
private slots:
    void HelpLabels_data();
    void HelpLabels();
    void HelpLines_data();
    void HelpLines();
    void HelpPicturesAndButton();
    void HelpLinesMeetTheirLabels_data();
    void HelpLinesMeetTheirLabels();
    void AboutLayout();
    void AboutButtonsAndEnter();
    void OpenFromEveryMenu();
    void DecliningEndsTheProgram();
};

void THelpAboutTest::HelpLabels_data()
{
    QTest::addColumn<QString>("Name");
    QTest::addColumn<QRect>("Box");
    QTest::addColumn<QString>("Caption");
    QTest::newRow("Label1") << "Label1" << QRect(228, 16, 310, 64)
        << "Look Ma.  No Scrollbars!  The actual-sized image you are editing appears on the screen behind "
           "the Tavrin Control Panel.  It can be dragged around like a piece of cardboard with your mouse.";
    QTest::newRow("Label2") << "Label2" << QRect(68, 428, 425, 48)
        << "This allows you to temporarily save the settings in two Memory Banks: A and B.  Adjust the "
           "sliders then press it.  The sliders will return to their respective initial states.  Then you "
           "can change sliders again for bank B.";
    QTest::newRow("Label3") << "Label3" << QRect(12, 308, 93, 64)
                            << "Resets all knobs to zero state and clears all memories.";
    QTest::newRow("Label4") << "Label4" << QRect(492, 216, 158, 16) << "Number of Horzontal Slices";
    QTest::newRow("Label5") << "Label5" << QRect(488, 232, 147, 16) << "Number of Vertical Slices";
    QTest::newRow("Label6") << "Label6" << QRect(468, 248, 151, 16) << "Tavrin or Tile Horizontally?";
    QTest::newRow("Label7") << "Label7" << QRect(460, 268, 137, 16) << "Tavrin or Tile Vertically?";
    QTest::newRow("Label8") << "Label8" << QRect(496, 164, 97, 16) << "Image Position X";
    QTest::newRow("Label9") << "Label9" << QRect(496, 188, 99, 16) << "Image Position Y";
    QTest::newRow("Label10") << "Label10" << QRect(496, 388, 93, 16) << "Image Tilt Angle";
    QTest::newRow("Label11") << "Label11" << QRect(40, 212, 41, 80) << "Lock Tavrin X/Y to Perfect Square";
}

void THelpAboutTest::HelpLabels()
{
    QFETCH(QString, Name);
    QFETCH(QRect, Box);
    QFETCH(QString, Caption);
    TForm3 Help;
    auto* Label = Child<QLabel>(Help, qPrintable(Name));
    QCOMPARE(Label->geometry(), Box);
    QCOMPARE(Label->text(), Caption);
    QCOMPARE(Label->font().family(), QString("Arial"));
    QCOMPARE(Label->font().pixelSize(), 13);
    // A box taller than one line wraps its caption and holds all of it; a
    // one-line box does not wrap (a second line would be cut off) and may
    // lose at most the last glyph's side bearing of 2 pixels on the right.
    const QFontMetrics Metrics = Label->fontMetrics();
    if (Label->wordWrap()) {
        QVERIFY(Box.height() > Metrics.height());
        QVERIFY(Metrics.boundingRect(Box, Qt::TextWordWrap, Caption).height() <= Box.height());
    } else {
        QVERIFY(Box.height() < 2 * Metrics.height());
        QVERIFY(Metrics.horizontalAdvance(Caption) <= Box.width() + 2);
    }
}

void THelpAboutTest::HelpLines_data()
{
    QTest::addColumn<QString>("Name");
    QTest::addColumn<QRect>("Box");
    QTest::addColumn<TLineDirection>("Direction");
    const auto Across = TLine::drLeftRight;
    QTest::newRow("Line1") << "Line1" << QRect(320, 204, 185, 41) << Across;
    QTest::newRow("Line2") << "Line2" << QRect(320, 324, 77, 105) << TLine::drUpDown;
    QTest::newRow("Line3") << "Line3" << QRect(92, 308, 77, 41) << Across;
    QTest::newRow("Line4") << "Line4" << QRect(140, 24, 85, 41) << Across;
    QTest::newRow("Line5") << "Line5" << QRect(304, 224, 185, 37) << Across;
    QTest::newRow("Line6") << "Line6" << QRect(292, 236, 177, 41) << Across;
    QTest::newRow("Line7") << "Line7" << QRect(272, 256, 189, 41) << Across;
    QTest::newRow("Line8") << "Line8" << QRect(308, 152, 185, 41) << Across;
    QTest::newRow("Line9") << "Line9" << QRect(432, 176, 61, 41) << Across;
    QTest::newRow("Line10") << "Line10" << QRect(388, 376, 105, 41) << Across;
    QTest::newRow("Line12") << "Line12" << QRect(84, 268, 77, 41) << Across;
}

void THelpAboutTest::HelpLines()
{
    QFETCH(QString, Name);
    QFETCH(QRect, Box);
    QFETCH(TLineDirection, Direction);
    TForm3 Help;
    auto* Line = Child<TLine>(Help, qPrintable(Name));
    QCOMPARE(Line->geometry(), Box);
    QCOMPARE(Line->Direction(), Direction);
    QCOMPARE(Line->LineWidth(), 1);
    QCOMPARE(Line->LineColor(), QColor(Qt::black));
    QCOMPARE(Line->ArrowColor(), QColor(Qt::black));
    QVERIFY(!Line->Arrow1() && !Line->Arrow2());
    QCOMPARE(Help.findChildren<TLine*>().size(), 11);
}

void THelpAboutTest::HelpPicturesAndButton()
{
    TForm3 Help;
    QCOMPARE(Help.windowTitle(), QString("Tavrin Help"));
    QCOMPARE(Help.size(), QSize(653, 495));
    QVERIFY(Help.windowFlags() & Qt::WindowStaysOnTopHint);
    QCOMPARE(Child<QLabel>(Help, "Image2")->geometry(), QRect(24, 16, 150, 112));
    QCOMPARE(Child<QLabel>(Help, "Image2")->pixmap().size(), QSize(150, 112));
    QCOMPARE(Child<QLabel>(Help, "Image1")->geometry(), QRect(108, 108, 347, 305));
    QCOMPARE(Child<QLabel>(Help, "Image1")->pixmap().size(), QSize(347, 305));
    QCOMPARE(Child<QPushButton>(Help, "Button1")->geometry(), QRect(568, 8, 79, 25));
    QCOMPARE(Child<QPushButton>(Help, "Button1")->text(), QString("Close Help"));

    Help.show();
    QVERIFY(QTest::qWaitForWindowExposed(&Help));
    QTest::mouseClick(Child<QPushButton>(Help, "Button1"), Qt::LeftButton);
    QTRY_VERIFY(!Help.isVisible());
}

// Where each pointer line meets its label: the last pixel of the line that
// the opaque label leaves visible (the lines lie over the pictures and under
// the labels), and the way to the label, which starts within 4 pixels.
void THelpAboutTest::HelpLinesMeetTheirLabels_data()
{
    QTest::addColumn<QPoint>("Visible");
    QTest::addColumn<QPoint>("Toward");
    QTest::addColumn<QString>("Label");
    const QPoint Right(1, 0), Left(-1, 0), Down(0, 1);
    // Across: row top + (height - 1) div 2; down: column left + (width - 1) div 2.
    QTest::newRow("Line1") << QPoint(491, 224) << Right << "Label4";
    QTest::newRow("Line5") << QPoint(487, 242) << Right << "Label5";
    QTest::newRow("Line6") << QPoint(467, 256) << Right << "Label6";
    QTest::newRow("Line7") << QPoint(459, 276) << Right << "Label7";
    QTest::newRow("Line8") << QPoint(492, 172) << Right << "Label8";
    QTest::newRow("Line9") << QPoint(492, 196) << Right << "Label9";
    QTest::newRow("Line10") << QPoint(492, 396) << Right << "Label10";
    QTest::newRow("Line4") << QPoint(224, 44) << Right << "Label1";
    QTest::newRow("Line2") << QPoint(358, 427) << Down << "Label2";
    // These two start at their label and point into the picture.
    QTest::newRow("Line12") << QPoint(84, 288) << Left << "Label11";
    QTest::newRow("Line3") << QPoint(105, 328) << Left << "Label3";
}

void THelpAboutTest::HelpLinesMeetTheirLabels()
{
    QFETCH(QPoint, Visible);
    QFETCH(QPoint, Toward);
    QFETCH(QString, Label);
    TForm3 Help;
    Help.show();
    QVERIFY(QTest::qWaitForWindowExposed(&Help));
    const QImage Shot = Help.grab().toImage();
    QCOMPARE(Shot.pixelColor(Visible), QColor(Qt::black));
    const QRect Box = Child<QLabel>(Help, qPrintable(Label))->geometry();
    int Gap = 1;
    while (Gap <= 4 && !Box.contains(Visible + Toward * Gap))
        ++Gap;
    QVERIFY2(Gap <= 4, qPrintable(Label + " is not where the line ends"));
}

void THelpAboutTest::AboutLayout()
{
    TForm2 About;
    QCOMPARE(About.windowTitle(), QString("About Quorlix"));
    QCOMPARE(About.size(), QSize(474, 447));
    // Fixed in size: a larger window would show empty area past the controls.
    QCOMPARE(About.minimumSize(), QSize(474, 447));
    QCOMPARE(About.maximumSize(), QSize(474, 447));
    About.resize(600, 520);
    QCOMPARE(About.size(), QSize(474, 447));
    QVERIFY(About.windowFlags() & Qt::WindowStaysOnTopHint);
    QCOMPARE(About.windowFlags() & Qt::WindowType_Mask, Qt::Tool);
    QCOMPARE(Child<QLabel>(About, "Image1")->geometry(), QRect(-4, 0, 481, 133));
    QCOMPARE(Child<QLabel>(About, "Image1")->pixmap().size(), QSize(478, 128));
    QCOMPARE(Child<QLabel>(About, "Image2")->geometry(), QRect(40, 152, 64, 64));
    QCOMPARE(Child<QLabel>(About, "Image2")->pixmap().size(), QSize(64, 64));
    QCOMPARE(Child<QLabel>(About, "StaticText1")->text(), QString("Quorlix: Tavrin"));
    QVERIFY(Child<QLabel>(About, "StaticText2")->text().startsWith("Version 1.2"));
    QCOMPARE(Child<QLabel>(About, "StaticText3")->geometry(), QRect(132, 196, 263, 20));
    QCOMPARE(Child<QLabel>(About, "StaticText5")->geometry(), QRect(132, 212, 178, 20));
    for (const QLabel* Line : {Child<QLabel>(About, "StaticText1"), Child<QLabel>(About, "StaticText2"), Child<QLabel>(About, "StaticText3"), Child<QLabel>(About, "StaticText5")})
        QVERIFY2(Line->fontMetrics().horizontalAdvance(Line->text()) <= Line->width(), qPrintable(Line->text()));
    QCOMPARE(Child<QPlainTextEdit>(About, "Memo1")->geometry(), QRect(4, 236, 465, 169));
    QVERIFY(Child<QPlainTextEdit>(About, "Memo1")->isReadOnly());
    QCOMPARE(Child<QPlainTextEdit>(About, "Memo1")->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QVERIFY(!Child<QPlainTextEdit>(About, "Memo1")->toolTip().isEmpty());
    QVERIFY(Child<QPlainTextEdit>(About, "Memo1")->toPlainText().contains("without any warranty"));
    QCOMPARE(Child<QPushButton>(About, "OKButton1")->text(), QString("Yes I Agree. [OK]"));
    QCOMPARE(Child<QPushButton>(About, "OKButton1")->geometry(), QRect(164, 412, 301, 29));
    QVERIFY(Child<QPushButton>(About, "OKButton1")->isDefault());
    QCOMPARE(Child<QPushButton>(About, "Button1")->text(), QString("No. I Don't Agree."));
    QCOMPARE(Child<QPushButton>(About, "Button1")->geometry(), QRect(8, 412, 153, 29));
}

// Shown as the menus show it: brought forward and activated.
static void ShowAbout(TForm2& About)
{
    About.show();
    About.activateWindow();
    QVERIFY(QTest::qWaitForWindowExposed(&About));
}

void THelpAboutTest::AboutButtonsAndEnter()
{
    TForm2 About;
    ShowAbout(About);
    auto* Memo = Child<QPlainTextEdit>(About, "Memo1");
    QTRY_VERIFY(Memo->hasFocus());
    QTest::mouseClick(Child<QPushButton>(About, "OKButton1"), Qt::LeftButton);
    QTRY_VERIFY(!About.isVisible());

    // Shown again after the button had the focus: the terms have it again
    // (the focus within the window; the test platform does not activate a
    // window that was active when it was hidden).
    ShowAbout(About);
    QCOMPARE(About.focusWidget(), Memo);
    QTest::keyClick(Memo, Qt::Key_Return);
    QTRY_VERIFY(!About.isVisible());
    QVERIFY(!TApplication::Instance()->Terminated());
}

void THelpAboutTest::OpenFromEveryMenu()
{
    TWindows Windows;
    const auto Reset = [&] {
        Windows.Form2.hide();
        Windows.Form3.hide();
    };
    // The canvas window's popup.
    Windows.Form1.Help1->trigger();
    QVERIFY(Windows.Form3.isVisible());
    Windows.Form1.About1->trigger();
    QVERIFY(Windows.Form2.isVisible());
    Reset();
    // The control panel's menu.
    Windows.Form4.Help1Click();
    QVERIFY(Windows.Form3.isVisible());
    Windows.Form4.About1Click();
    QVERIFY(Windows.Form2.isVisible());
    Reset();
    // The canvas window's window menu, through the message hook.
    QMenu* WindowMenu = GetSystemMenu(&Windows.Form1, false);
    QStringList Top;
    for (QAction* Entry : WindowMenu->actions().mid(0, 8))
        Top << (Entry->isSeparator() ? QString("-") : Entry->text());
    QCOMPARE(Top, QStringList({"Help", "About", "-", "Be Silent", "Make Noise", "-", "Copy Image",
                               "&Restore"}));
    WindowMenu->actions()[0]->trigger();
    QTRY_VERIFY(Windows.Form3.isVisible());
    WindowMenu->actions()[1]->trigger();
    QTRY_VERIFY(Windows.Form2.isVisible());
    Reset();
}

void THelpAboutTest::DecliningEndsTheProgram()
{
    TForm2 About;
    About.show();
    QVERIFY(QTest::qWaitForWindowExposed(&About));
    QSignalSpy Quitting(qApp, &QCoreApplication::aboutToQuit);
    QCOMPARE(RunUntilExit([&] { Child<QPushButton>(About, "Button1")->click(); }), 0);
    QVERIFY(TApplication::Instance()->Terminated());
    QCOMPARE(Quitting.count(), 1);
}

TAVRIN_TEST_MAIN(THelpAboutTest)
#include "helpabout_test.moc"
