// File > Export Animation…: the dialog's starting values, the file it
// writes (the same bytes as tavrin-render for the same settings), the
// canvas during and after the export, cancelling, and the size question.
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTimer>

#include "AppTestSupport.h"
#include "ExportAnimation.h"
#include "ProgramFixture.h"
#include "Render.h"
#include "Unit1.h"
#include "Unit4.h"

using tavrin::Slider;
using tavrin::SliderPositions;

namespace {

tavrin::TWin Rendered(const tavrin::TWin& Source, const SliderPositions& Positions)
{
    tavrin::TWin output(Source.Width(), Source.Height());
    tavrin::Render(Source, output, Positions);
    return output;
}

QByteArray ReadFile(const QString& Name)
{
    QFile file(Name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QAction* MenuAction(QWidget& Window, const QString& Text)
{
    for (QAction* action : Window.findChildren<QAction*>())
        if (action->text() == Text)
            return action;
    return nullptr;
}

class TestExport : public TProgramTest {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void dialogStartsAtTheSlidersPlace();
    void chosenNamesGetAFrameNumber();
    void dialogWritesWhatTheRendererWrites();
    void canvasShowsTheFramesAndCancelLeavesNoFile();
    void largeExportAsksFirst();
    void afterAnExportThePictureIsAsLoadedAndFilesAreTheRenderers();
    void formatQualityAndSizeAndTheEstimate();
    void longSaveKeepsWindowsAnsweringAndCancelKeepsTheOldFile();
};

void TestExport::init()
{
    QVERIFY(StartProgram(33, 21, 4));
}

void TestExport::cleanup()
{
    StopProgram();
}

void TestExport::dialogStartsAtTheSlidersPlace()
{
    Program->Bar(Slider::Angle)->setValue(100);
    Program->Bar(Slider::XSlice)->setValue(30);
    TExportAnimationDialog dialog(Program->Panel.Positions());
    QCOMPARE(dialog.SliderBox->currentText(), QStringLiteral("Angle"));
    QCOMPARE(dialog.FromBox->value(), 100);
    QCOMPARE(dialog.ToBox->value(), 360);
    QCOMPARE(dialog.StepBox->value(), 1);
    QCOMPARE(dialog.FpsBox->value(), 25);
    QVERIFY(!dialog.Buttons->button(QDialogButtonBox::Ok)->isEnabled()); // no file yet
    // A slider at the end of its range sweeps back to the start.
    dialog.SliderBox->setCurrentIndex(int(Slider::XSlice));
    QCOMPARE(dialog.FromBox->value(), 30);
    QCOMPARE(dialog.ToBox->value(), 1);
    QCOMPARE(dialog.ToBox->minimum(), 1);
    QCOMPARE(dialog.ToBox->maximum(), 30);
    dialog.SliderBox->setCurrentIndex(int(Slider::YPosition));
    QCOMPARE(dialog.FromBox->value(), 0);
    QCOMPARE(dialog.ToBox->value(), 1500);
    dialog.StepBox->setValue(7);
    dialog.FileEdit->setText(QStringLiteral("a.gif"));
    QVERIFY(dialog.Buttons->button(QDialogButtonBox::Ok)->isEnabled());
    QCOMPARE(dialog.FramesLabel->text(), QStringLiteral("215 frames, 8.6 seconds"));
    const tavrin::TSweepExport settings = dialog.Settings();
    QCOMPARE(int(settings.Sweep.Which), int(Slider::YPosition));
    QCOMPARE(settings.Sweep.From, 0);
    QCOMPARE(settings.Sweep.To, 1500);
    QCOMPARE(settings.Sweep.Step, 7);
    QCOMPARE(settings.Base[Slider::Angle], 100); // the other sliders as the panel has them
    QCOMPARE(settings.Base[Slider::XSlice], 30);
}

void TestExport::chosenNamesGetAFrameNumber()
{
    TExportAnimationDialog dialog(Program->Panel.Positions());
    Dialogs->SaveAnswers = {Dir->filePath(QStringLiteral("turn.webp")),
                            Dir->filePath(QStringLiteral("still.PNG")),
                            Dir->filePath(QStringLiteral("s%03d.bmp"))};
    dialog.ChooseFile();
    QCOMPARE(dialog.FileName(), Dir->filePath(QStringLiteral("turn.webp")));
    const QString filter = Dialogs->Asked.back().Filter;
    for (const char* pattern : {"*.webp", "*.gif", "*.bmp"})
        QVERIFY2(filter.contains(QLatin1String(pattern)), pattern);
    QCOMPARE(Dialogs->SaveInitial, QString()); // the first time, nothing to start from
    dialog.ChooseFile();
    QCOMPARE(Dialogs->SaveInitial, Dir->filePath(QStringLiteral("turn.webp")));
    QCOMPARE(dialog.FileName(), Dir->filePath(QStringLiteral("still-%04d.PNG")));
    dialog.ChooseFile();
    QCOMPARE(dialog.FileName(), Dir->filePath(QStringLiteral("s%03d.bmp")));
    dialog.ChooseFile(); // cancelled: the name stays
    QCOMPARE(dialog.FileName(), Dir->filePath(QStringLiteral("s%03d.bmp")));
}

void TestExport::dialogWritesWhatTheRendererWrites()
{
    Program->Bar(Slider::XSlice)->setValue(3);
    Program->Bar(Slider::TavrinX)->setValue(1);
    Program->Bar(Slider::Angle)->setValue(20);
    const SliderPositions before = Program->Panel.Positions();
    QAction* exportAction = MenuAction(Program->Panel, QStringLiteral("Export Animation…"));
    QVERIFY(exportAction);
    for (const QString& name : {QStringLiteral("dialog.webp"), QStringLiteral("dialog.gif")}) {
        const QString target = Dir->filePath(name);
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<TExportAnimationDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            dialog->FromBox->setValue(20);
            dialog->ToBox->setValue(0);
            dialog->StepBox->setValue(8);
            dialog->FpsBox->setValue(9);
            dialog->FileEdit->setText(target);
            dialog->Buttons->button(QDialogButtonBox::Ok)->click();
        });
        exportAction->trigger();
        QVERIFY(QFile::exists(target));

        const QString cli = Dir->filePath(QStringLiteral("cli-") + name);
        QProcess renderer;
        renderer.start(QStringLiteral(TAVRIN_RENDER),
                       {File, cli, QStringLiteral("--x-slice=3"), QStringLiteral("--tavrin-x=1"),
                        QStringLiteral("--sweep"), QStringLiteral("angle:20:0:8"),
                        QStringLiteral("--fps"), QStringLiteral("9")});
        QVERIFY(renderer.waitForFinished(30000));
        QCOMPARE(renderer.exitCode(), 0);
        QCOMPARE(ReadFile(target), ReadFile(cli));
        QVERIFY(!ReadFile(target).isEmpty());
    }
    // Afterwards the sliders, the output and the canvas are as before.
    QCOMPARE(Program->Panel.Positions(), before);
    const tavrin::TWin expected = Rendered(Program->Canvas.Source(), before);
    QVERIFY(SamePixels(Program->Canvas.Output(), expected));
    QVERIFY(Shows(Program->Canvas, expected));
    QVERIFY(Dialogs->Errors.isEmpty());
}

void TestExport::canvasShowsTheFramesAndCancelLeavesNoFile()
{
    Program->Bar(Slider::YSlice)->setValue(2);
    const SliderPositions before = Program->Panel.Positions();
    const QString old = Dir->filePath(QStringLiteral("old.gif"));
    QFile oldFile(old);
    QVERIFY(oldFile.open(QIODevice::WriteOnly));
    oldFile.write("old");
    oldFile.close();

    tavrin::TSweepExport settings;
    settings.Base = before;
    settings.Sweep = {Slider::XPosition, 0, 20, 1};
    // At the third frame: the canvas shows it, and Cancel is pressed.
    bool checked = false;
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&] {
        auto* progress = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
        if (checked || !progress || progress->value() < 3)
            return;
        checked = true;
        SliderPositions third = before;
        third[Slider::XPosition] = 2;
        const tavrin::TWin frame = Rendered(Program->Canvas.Source(), third);
        QVERIFY(SamePixels(Program->Canvas.Output(), frame));
        QVERIFY(Shows(Program->Canvas, frame));
        QCOMPARE(progress->maximum(), 21);
        progress->cancel();
    });
    watch.start(0);
    for (const QString& name : {QStringLiteral("old.gif"), QStringLiteral("new.webp"),
                               QStringLiteral("f-%d.bmp")}) {
        checked = false;
        QVERIFY(!Program->Panel.ExportAnimation(settings, Dir->filePath(name)));
        QVERIFY2(checked, qPrintable(name));
    }
    watch.stop();
    QCOMPARE(QDir(Dir->path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden),
             (QStringList{QStringLiteral("old.gif"), QStringLiteral("picture.bmp")}));
    QCOMPARE(ReadFile(old), QByteArray("old"));
    QVERIFY(SamePixels(Program->Canvas.Output(), Rendered(Program->Canvas.Source(), before)));
    QVERIFY(Shows(Program->Canvas, Program->Canvas.Output()));
    QVERIFY(Dialogs->Errors.isEmpty());

    // A failure is shown, and the canvas comes back all the same.
    QVERIFY(!Program->Panel.ExportAnimation(settings, Dir->filePath(QStringLiteral("no/a.gif"))));
    QCOMPARE(Dialogs->Errors.size(), 1);
    QVERIFY(Dialogs->Errors.front().contains(QStringLiteral("no/a.gif")));
    QVERIFY(SamePixels(Program->Canvas.Output(), Rendered(Program->Canvas.Source(), before)));
}

void TestExport::largeExportAsksFirst()
{
    // 3001 stills of 400 x 300 at 360,054 bytes each: just past 1 GiB.
    QVERIFY(Program->Canvas.OpenFile(MakeBitmap(*Dir, QStringLiteral("big.bmp"), 400, 300)));
    tavrin::TSweepExport settings;
    settings.Sweep = {Slider::XPosition, -1500, 1500, 1};
    QVERIFY(!Program->Panel.ExportAnimation(settings, Dir->filePath(QStringLiteral("b-%d.bmp"))));
    QCOMPARE(Dialogs->Questions.size(), 1);
    QVERIFY(Dialogs->Questions.front().contains(QStringLiteral("1.0 GiB")));
    QVERIFY(!QFile::exists(Dir->filePath(QStringLiteral("b-1.bmp"))));
    // Under the limit nothing is asked.
    settings.Sweep = {Slider::XPosition, -1, 1, 1};
    QVERIFY(Program->Panel.ExportAnimation(settings, Dir->filePath(QStringLiteral("c-%d.bmp"))));
    QCOMPARE(Dialogs->Questions.size(), 1);
    QVERIFY(QFile::exists(Dir->filePath(QStringLiteral("c-3.bmp"))));
}

// The picture just opened, no slider moved: a sweep of PNG stills named
// without a folder, then Save As PNG. The stills go beside the picture, the
// canvas still shows the picture as loaded (not the render of the sliders'
// start, which blacks the last column of this odd-sized picture), and every
// file has tavrin-render's very bytes, resolution included.
void TestExport::afterAnExportThePictureIsAsLoadedAndFilesAreTheRenderers()
{
    const tavrin::TWin loaded = tavrin::ReadImageFile(File);
    QVERIFY(!SamePixels(loaded, Rendered(loaded, SliderPositions())));
    QAction* exportAction = MenuAction(Program->Panel, QStringLiteral("Export Animation…"));
    QVERIFY(exportAction);
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<TExportAnimationDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        dialog->SliderBox->setCurrentIndex(int(Slider::Angle));
        dialog->FromBox->setValue(0);
        dialog->ToBox->setValue(2);
        dialog->StepBox->setValue(1);
        dialog->FileEdit->setText(QStringLiteral("s-%d.png"));
        dialog->Buttons->button(QDialogButtonBox::Ok)->click();
    });
    exportAction->trigger();
    QVERIFY(Dialogs->Errors.isEmpty());
    QVERIFY(SamePixels(Program->Canvas.Output(), loaded));
    QVERIFY(Shows(Program->Canvas, loaded));

    Dialogs->SaveAnswers = {Dir->filePath(QStringLiteral("saved.png"))};
    Program->Panel.SaveAs1Click();
    const auto renderer = [&](const QStringList& Arguments) {
        QProcess process;
        process.start(QStringLiteral(TAVRIN_RENDER), QStringList{File} + Arguments);
        return process.waitForFinished(30000) && process.exitCode() == 0;
    };
    QVERIFY(renderer({Dir->filePath(QStringLiteral("cli-saved.png"))}));
    QVERIFY(renderer({Dir->filePath(QStringLiteral("cli-%d.png")), QStringLiteral("--sweep"),
                      QStringLiteral("angle:0:2")}));
    for (const QString& name : {QStringLiteral("saved.png"), QStringLiteral("1.png"),
                                QStringLiteral("2.png"), QStringLiteral("3.png")}) {
        const QByteArray ours = ReadFile(Dir->filePath(name.startsWith('s') ? name : "s-" + name));
        QVERIFY2(!ours.isEmpty(), qPrintable(name));
        QVERIFY2(ours == ReadFile(Dir->filePath("cli-" + name)), qPrintable(name));
    }
}

void TestExport::formatQualityAndSizeAndTheEstimate()
{
    const tavrin::TWin& source = Program->Canvas.Source(); // 33 x 21
    TExportAnimationDialog dialog(Program->Panel.Positions(), nullptr, &source);
    dialog.FileEdit->setText(Dir->filePath(QStringLiteral("a.mp4")));
    QCOMPARE(dialog.FormatBox->currentText(), QStringLiteral("MP4 video (H.264)"));
    QVERIFY(dialog.QualityBox->isEnabled());
    dialog.SizeBox->setCurrentIndex(4); // within 640: larger than the picture, so full size
    QVERIFY(dialog.FramesLabel->text().endsWith(QStringLiteral("33 × 21 pixels")));
    tavrin::TSweepExport settings = dialog.Settings();
    QCOMPARE(settings.Options.Quality, std::optional<int>(tavrin::DefaultVideoQuality));
    QCOMPARE(settings.Options.Size, 640);
    // The estimate arrives from its thread while the dialog goes on.
    QTRY_VERIFY_WITH_TIMEOUT(dialog.EstimateLabel->text().startsWith(QStringLiteral("About ")),
                             20000);
    // Choosing a format renames the file; a GIF has no quality.
    dialog.FormatBox->setCurrentIndex(1);
    emit dialog.FormatBox->activated(1);
    QCOMPARE(dialog.FileName(), Dir->filePath(QStringLiteral("a.gif")));
    QVERIFY(!dialog.QualityBox->isEnabled());
    QCOMPARE(dialog.Settings().Options.Quality, std::optional<int>());
    // WebP starts lossless.
    dialog.FileEdit->setText(Dir->filePath(QStringLiteral("a.webp")));
    QCOMPARE(dialog.QualityBox->text(), QStringLiteral("Lossless"));
    QCOMPARE(dialog.Settings().Options.Quality, std::optional<int>());

    // Without ffmpeg the video formats are offered greyed, with a hint.
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", Dir->filePath(QStringLiteral("nowhere")).toLocal8Bit());
    TExportAnimationDialog without(Program->Panel.Positions());
    qputenv("PATH", path);
    QVERIFY(without.VideoHint->isVisibleTo(&without));
    QVERIFY(dialog.VideoHint->isHidden());
    without.FileEdit->setText(Dir->filePath(QStringLiteral("b.webm")));
    QVERIFY(!without.Buttons->button(QDialogButtonBox::Ok)->isEnabled());
    without.FileEdit->setText(Dir->filePath(QStringLiteral("b.gif")));
    QVERIFY(without.Buttons->button(QDialogButtonBox::Ok)->isEnabled());
}

// Save As of a big picture as lossless WebP (seconds of encoding): the event
// loop runs all along, a progress dialog comes up, and its Cancel leaves the
// old file as it was, no temporary file, and the picture's name unchanged.
void TestExport::longSaveKeepsWindowsAnsweringAndCancelKeepsTheOldFile()
{
    StopProgram();
    QVERIFY(StartProgram(2400, 1600, 7));
    const QString target = Dir->filePath(QStringLiteral("old.webp"));
    QFile old(target);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("old contents");
    old.close();
    int ticks = 0;
    bool cancelled = false;
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&] {
        ++ticks;
        auto* dialog = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
        if (dialog && !cancelled) {
            cancelled = true;
            dialog->findChild<QPushButton*>()->click();
        }
    });
    watch.start(10);
    Dialogs->SaveAnswers = {target};
    Program->Panel.SaveAs1Click();
    QVERIFY2(cancelled, qPrintable(QString::number(ticks)));
    QVERIFY2(ticks >= 20, qPrintable(QString::number(ticks)));
    QVERIFY(Dialogs->Errors.isEmpty());
    QCOMPARE(ReadFile(target), QByteArray("old contents"));
    QCOMPARE(QDir(Dir->path()).entryList(QDir::Files | QDir::Hidden),
             QStringList({QStringLiteral("old.webp"), QStringLiteral("picture.bmp")}));
    QCOMPARE(Program->Canvas.CurrentFile(), File);
}

} // namespace

TAVRIN_TEST_MAIN(TestExport)
#include "export_test.moc"
