// What the program remembers from one run to the next (a restart is a fresh
// set of windows over the same preferences), what --reset-preferences
// forgets, and a preferences file that cannot be used.
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QSpinBox>
#include <QStandardPaths>
#include <QUrl>

#include <glib.h>

#include "AppTestSupport.h"
#include "ExportAnimation.h"
#include "ProgramFixture.h"
#include "Preferences.h"

using tavrin::Slider;
using tavrin::SliderPositions;

namespace {

QString DesktopList()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/recently-used.xbel");
}

} // namespace

class TestMemory : public TProgramTest {
    Q_OBJECT
private slots:
    void init()
    {
        ResetPreferences();
        QFile::remove(DesktopList());
    }
    void cleanup() { StopProgram(); }
    void recentFilesLastCappedNewestFirst();
    void switchFolderAndExportFieldsLastUntilReset();
    void unusablePreferencesStopNothing();

private:
    // Ends the program and starts it again on File (asking for one when empty).
    bool Restart(const QString& File)
    {
        Program.reset();
        Player.Clear();
        Program = std::make_unique<TProgram>(File, Player);
        return Program->Start();
    }
    // The Open Recent menu as it opens: "-" for the separator, "(off)"
    // after a disabled item's caption.
    QStringList RecentMenu()
    {
        QMenu* menu = Part<QMenu>(Program->Panel, "OpenRecent1");
        emit menu->aboutToShow();
        QStringList captions;
        for (QAction* item : menu->actions())
            captions << (item->isSeparator() ? "-" : item->text() + (item->isEnabled() ? "" : " (off)"));
        return captions;
    }
    QAction* Command(const char* Name) { return Part<QAction>(Program->Panel, Name); }
};

void TestMemory::recentFilesLastCappedNewestFirst()
{
    QVERIFY(StartProgram(13, 9, 1));
    QStringList newestFirst{File};
    for (int i = 0; i < 11; ++i) {
        newestFirst.prepend(MakeBitmap(*Dir, QStringLiteral("p%1.bmp").arg(i), 5 + i, 7, i));
        QVERIFY(Program->Canvas.OpenFile(newestFirst.first()));
    }
    newestFirst.prepend(Dir->filePath(QStringLiteral("saved & kept.png")));
    Dialogs->SaveAnswers << newestFirst.first();
    Command("SaveAs1")->trigger();
    QVERIFY(QFile::remove(newestFirst[3]));

    QVERIFY(Restart(newestFirst.first()));
    QStringList expected;
    for (int i = 0; i < 10; ++i)
        expected << QString(newestFirst[i]).replace("&", "&&") + (i == 3 ? " (off)" : "");
    QCOMPARE(RecentMenu(), expected + QStringList({"-", "Clear List"}));
    // Chosen, a file opens and comes first.
    Part<QMenu>(Program->Panel, "OpenRecent1")->actions()[5]->trigger();
    expected.move(5, 0);
    QCOMPARE(RecentMenu(), expected + QStringList({"-", "Clear List"}));

    // Every file opened or saved is in the desktop's list too, read by the
    // desktop's own library.
    GBookmarkFile* desktop = g_bookmark_file_new();
    QVERIFY(g_bookmark_file_load_from_file(desktop, QFile::encodeName(DesktopList()), nullptr));
    for (const QString& file : newestFirst)
        QVERIFY2(g_bookmark_file_has_application(
                     desktop, QUrl::fromLocalFile(file).toEncoded().constData(), "Tavrin", nullptr),
                 qPrintable(file));
    g_bookmark_file_free(desktop);

    Part<QMenu>(Program->Panel, "OpenRecent1")->actions().last()->trigger();
    QCOMPARE(RecentMenu(), (QStringList{"-", "Clear List (off)"}));
    QVERIFY(Restart(File));
    QCOMPARE(RecentMenu(), (QStringList{File, "-", "Clear List"}));
}

void TestMemory::switchFolderAndExportFieldsLastUntilReset()
{
    QVERIFY(StartProgram(13, 9, 2));
    Command("BeSilent1")->trigger();
    for (QAction* item : Program->Canvas.actions())
        if (item->text() == QStringLiteral("Zoom Out"))
            item->trigger();
    const double zoom = Program->Canvas.Zoom();
    QVERIFY(zoom < 1);
    auto export_ = std::make_unique<TExportAnimationDialog>(Program->Panel.Positions());
    export_->SliderBox->setCurrentText(QStringLiteral("Y-Slice"));
    export_->StepBox->setValue(3);
    export_->FileEdit->setText(Dir->filePath(QStringLiteral("out/turn.webp")));
    export_->accept();

    Dialogs->OpenAnswers << File;
    QVERIFY(Restart(QString()));
    QCOMPARE(Dialogs->OpenFolder, Dir->path());
    QCOMPARE(Player.Names, QStringList());
    QCOMPARE(Program->Canvas.Zoom(), zoom);
    Program->Bar(Slider::YSlice)->setValue(4);
    export_ = std::make_unique<TExportAnimationDialog>(Program->Panel.Positions());
    QCOMPARE(export_->SliderBox->currentText(), QStringLiteral("Y-Slice"));
    QCOMPARE(export_->FromBox->value(), 4); // from the slider, as always
    QCOMPARE(export_->StepBox->value(), 3);
    export_->ChooseFile();
    QCOMPARE(Dialogs->SaveInitial, Dir->filePath(QStringLiteral("out")));

    // Forgotten from a terminal, without a display.
    QProcess reset;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    reset.setProcessEnvironment(environment);
    reset.start(QStringLiteral(TAVRIN_PROGRAM), {QStringLiteral("--reset-preferences")});
    QVERIFY(reset.waitForFinished(20000) && reset.exitCode() == 0);
    Dialogs->OpenAnswers << File;
    QVERIFY(Restart(QString()));
    QCOMPARE(Dialogs->OpenFolder, QString());
    QVERIFY(Player.Names.contains("RCLICK"));
    QCOMPARE(Program->Canvas.Zoom(), 1.0);
    QCOMPARE(RecentMenu(), (QStringList{File, "-", "Clear List"}));
}

void TestMemory::unusablePreferencesStopNothing()
{
    // Folders where the files should be: they can be neither read nor written.
    const QString store = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                          QStringLiteral("/Tavrin/Tavrin.conf");
    QFile::remove(store);
    QVERIFY(QDir().mkpath(store) && QDir().mkpath(DesktopList()));
    QVERIFY(StartProgram(13, 9, 4));
    Command("BeSilent1")->trigger();
    QVERIFY(Program->Canvas.OpenFile(MakeBitmap(*Dir, QStringLiteral("next.bmp"), 7, 5, 1)));
    RecentMenu();
    QVERIFY(Restart(File));
    QVERIFY(Shows(Program->Canvas, tavrin::ReadImageFile(File)));
    QVERIFY(QDir(store).removeRecursively() && QDir(DesktopList()).removeRecursively());
}

TAVRIN_TEST_MAIN(TestMemory)
#include "memory_test.moc"
