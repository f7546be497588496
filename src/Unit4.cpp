#include "Unit4.h"

#include <chrono>
#include <future>

#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLayout>
#include <QProgressDialog>
#include <QScopedValueRollback>
#include <QScreen>
#include <QScrollBar>

#include <chrono>

#include "ExportAnimation.h"
#include "ImageFiles.h"
#include "Preferences.h"
#include "Random.h"
#include "RecentFiles.h"
#include "SettingsText.h"
#include "HandlerGuard.h"
#include "Unit1.h"
#include "framework/Application.h"
#include "framework/Dialogs.h"
#include "ui_Unit4.h"

namespace {

// Slider positions drawn from Seed. The offsets stay within half the
// picture's size, where they move it rather than push it out of sight.
tavrin::SliderPositions Surprise(std::uint32_t& Seed, const tavrin::TWin& Picture)
{
    tavrin::SliderPositions positions;
    for (int i = 0; i < tavrin::SliderCount; ++i) {
        const tavrin::Slider slider = tavrin::Slider(i);
        std::int32_t low = tavrin::SliderRanges[std::size_t(i)].Min;
        std::int32_t high = tavrin::SliderRanges[std::size_t(i)].Max;
        if (slider == tavrin::Slider::XPosition || slider == tavrin::Slider::YPosition) {
            const int half = (slider == tavrin::Slider::XPosition ? Picture.Width()
                                                                  : Picture.Height()) / 2;
            low = std::max(low, -half);
            high = std::min(high, half);
        }
        positions[slider] = low + std::int32_t(tavrin::Random(Seed, std::uint32_t(high - low + 1)));
    }
    return positions;
}

} // namespace

TForm4::TForm4(TForm1& Canvas, QWidget* Parent)
    : QMainWindow(Parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                              Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      ui(std::make_unique<Ui::TForm4>()), Canvas(Canvas),
      SurpriseSeed(std::uint32_t(std::chrono::system_clock::now().time_since_epoch().count()))
{
    ui->setupUi(this);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    Sliders = {ui->ScrollBar1, ui->ScrollBar2, ui->ScrollBar3, ui->ScrollBar4,
               ui->ScrollBar5, ui->ScrollBar6, ui->ScrollBar7, ui->ScrollBar8};
    for (QScrollBar* slider : Sliders)
        connect(slider, &QScrollBar::valueChanged, this, &TForm4::ScrollBar1Change);
    for (int i = 0; i < tavrin::SliderCount; ++i) {
        connect(Sliders[i], &QScrollBar::valueChanged, this, [this, i] { SliderMoved(i); });
        connect(Sliders[i], &QScrollBar::sliderReleased, this, &TForm4::RecordStep);
    }
    // Set after the form has named the sliders, which the value texts begin with.
    for (TScrollBar* slider : {ui->ScrollBar1, ui->ScrollBar2, ui->ScrollBar3, ui->ScrollBar4,
                               ui->ScrollBar5, ui->ScrollBar6, ui->ScrollBar7})
        slider->setUnit(QString());
    ui->ScrollBar8->setUnit(QStringLiteral("°"));
    connect(ui->Button1, &QPushButton::clicked, this, &TForm4::Button1Click);
    connect(ui->Button2, &QPushButton::clicked, this, &TForm4::Button2Click);
    connect(ui->File1, &QMenu::aboutToShow, this, &TForm4::File1Click);
    connect(ui->Open1, &QAction::triggered, this, &TForm4::Open1Click);
    connect(ui->OpenRecent1, &QMenu::aboutToShow, this, &TForm4::OpenRecent1Click);
    connect(ui->Save1, &QAction::triggered, this, &TForm4::Save1Click);
    connect(ui->SaveAs1, &QAction::triggered, this, &TForm4::SaveAs1Click);
    connect(ui->ExportAnimation1, &QAction::triggered, this, &TForm4::ExportAnimation1Click);
    connect(ui->BeSilent1, &QAction::triggered, this, &TForm4::BeSilent1Click);
    connect(ui->MakeNoise1, &QAction::triggered, this, &TForm4::MakeNoise1Click);
    connect(ui->Exit1, &QAction::triggered, this, &TForm4::Exit1Click);
    connect(ui->CopySettings1, &QAction::triggered, this, &TForm4::CopySettings1Click);
    connect(ui->PasteSettings1, &QAction::triggered, this, &TForm4::PasteSettings1Click);
    connect(ui->CopyImage1, &QAction::triggered, &Canvas, &TForm1::CopyImage1Click);
    connect(ui->PasteImage1, &QAction::triggered, this, &TForm4::PasteImage1Click);
    connect(ui->SurpriseMe1, &QAction::triggered, this, &TForm4::SurpriseMe1Click);
    ui->Redo1->setShortcuts({ui->Redo1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    connect(ui->Undo1, &QAction::triggered, this, &TForm4::Undo1Click);
    connect(ui->Redo1, &QAction::triggered, this, &TForm4::Redo1Click);
    // The canvas's own View items, with their shortcuts and the zoom shown.
    ui->View1->addActions({Canvas.ZoomIn1, Canvas.ZoomOut1, Canvas.FitOnScreen1, Canvas.ActualPixels1});
    ui->View1->addSeparator();
    ui->View1->addAction(Canvas.ZoomShown1);
    connect(ui->Help1, &QAction::triggered, this, &TForm4::Help1Click);
    connect(ui->About1, &QAction::triggered, this, &TForm4::About1Click);
    connect(ui->Min1, &QAction::triggered, this, &TForm4::Min1Click);
    History = THistory(Settings());
    // Presses anywhere in the program end a run of presses on one slider.
    qApp->installEventFilter(this);
}

TForm4::~TForm4() = default;

tavrin::SliderPositions TForm4::Positions() const
{
    tavrin::SliderPositions positions;
    for (int i = 0; i < tavrin::SliderCount; ++i)
        positions.Value[i] = Sliders[i]->value();
    return positions;
}

void TForm4::ScrollBar1Change()
{
    TAVRIN_GUARD_HANDLER();
    try {
        Canvas.ShowPositions(Positions());
    } catch (const std::exception& error) {
        TApplication::HandleException(error);
    }
}

void TForm4::Button1Click()
{
    TAVRIN_GUARD_HANDLER();
    const QScopedValueRollback oneStep(CommandMovesSliders, true);
    Canvas.Beeper(3);
    for (QScrollBar* slider : Sliders)
        slider->setValue(0); // stored clamped: X-Slice becomes 1
    Memory = Positions().Value;
    RecordStep();
}

void TForm4::Button2Click()
{
    TAVRIN_GUARD_HANDLER();
    const QScopedValueRollback oneStep(CommandMovesSliders, true);
    Canvas.Beeper(3);
    for (int i = 0; i < tavrin::SliderCount; ++i) {
        const int kept = Sliders[i]->value();
        Sliders[i]->setValue(Memory[i]);
        Memory[i] = kept;
    }
    RecordStep();
}

void TForm4::SetPositions(const tavrin::SliderPositions& Positions)
{
    if (Positions == this->Positions())
        return;
    for (int i = 0; i < tavrin::SliderCount; ++i) {
        const QSignalBlocker quiet(Sliders[i]);
        Sliders[i]->setValue(Positions.Value[i]);
    }
    ScrollBar1Change();
}

void TForm4::CopySettings1Click()
{
    QGuiApplication::clipboard()->setText(QString::fromStdString(tavrin::SettingsText(Positions())));
}

void TForm4::PasteSettings1Click()
{
    TAVRIN_GUARD_HANDLER();
    tavrin::SliderPositions pasted;
    try {
        pasted = tavrin::ReadSettingsText(QGuiApplication::clipboard()->text().toStdString());
    } catch (const std::invalid_argument& error) {
        Dialogs().ShowError(this, QString::fromStdString(error.what()));
        return;
    }
    PasteSettings(pasted);
}

void TForm4::PasteSettings(const tavrin::SliderPositions& Positions)
{
    SetPositions(Positions);
    RecordStep();
}

void TForm4::PasteImage1Click()
{
    TAVRIN_GUARD_HANDLER();
    if (Canvas.PasteImage())
        return;
    try {
        PasteSettings(
            tavrin::ReadSettingsText(QGuiApplication::clipboard()->text().toStdString()));
    } catch (const std::invalid_argument&) {
        // Not settings: a plain paste of other text does nothing.
    }
}

void TForm4::SurpriseMe1Click()
{
    TAVRIN_GUARD_HANDLER();
    Canvas.Beeper(3);
    SetPositions(Surprise(SurpriseSeed, Canvas.Source()));
    RecordStep();
}

TSettings TForm4::Settings() const
{
    return {Positions(), Memory};
}

void TForm4::SetSettings(const TSettings& Settings)
{
    Memory = Settings.Bank;
    SetPositions(Settings.Sliders);
}

void TForm4::Undo1Click()
{
    TAVRIN_GUARD_HANDLER();
    if (const std::optional<TSettings> settings = History.Undo())
        SetSettings(*settings);
    ShowHistory();
}

void TForm4::Redo1Click()
{
    TAVRIN_GUARD_HANDLER();
    if (const std::optional<TSettings> settings = History.Redo())
        SetSettings(*settings);
    ShowHistory();
}

void TForm4::SliderMoved(int Index)
{
    // A drag is one step, kept when the thumb is let go.
    if (CommandMovesSliders || Sliders[Index]->isSliderDown())
        return;
    History.Nudge(Index, Settings());
    ShowHistory();
}

void TForm4::RecordStep()
{
    History.Record(Settings());
    ShowHistory();
}

void TForm4::ShowHistory()
{
    ui->Undo1->setEnabled(History.CanUndo());
    ui->Redo1->setEnabled(History.CanRedo());
}

void TForm4::File1Click()
{
    TAVRIN_GUARD_HANDLER();
    Canvas.Beeper(1);
}

void TForm4::Open1Click()
{
    TAVRIN_GUARD_HANDLER();
    Canvas.OpenFromDialog(this);
}

void TForm4::OpenRecent1Click()
{
    TAVRIN_GUARD_HANDLER();
    QMenu* menu = ui->OpenRecent1;
    menu->clear();
    for (const QString& file : RecentFiles()) {
        QAction* item =
            menu->addAction(QDir::toNativeSeparators(file).replace('&', QLatin1String("&&")));
        item->setEnabled(QFileInfo::exists(file));
        connect(item, &QAction::triggered, this, [this, file] { OpenRecent(file); });
    }
    menu->addSeparator();
    menu->addAction(QStringLiteral("Clear List"), this, &ClearRecentFiles)
        ->setEnabled(!RecentFiles().isEmpty());
}

void TForm4::OpenRecent(const QString& File)
{
    TAVRIN_GUARD_HANDLER();
    if (!Canvas.OpenFile(File) && !QFileInfo::exists(File))
        RemoveRecentFile(File);
}

void TForm4::Save1Click()
{
    TAVRIN_GUARD_HANDLER();
    const QString current = Canvas.CurrentFile();
    // Only a bitmap is written over without asking: a photo in any other
    // format is an original that a save must not destroy by accident.
    if (current.isEmpty() || Canvas.IsPasted())
        SaveAs(current);
    else if (QFileInfo(current).suffix().compare(QLatin1String("bmp"), Qt::CaseInsensitive) == 0)
        Canvas.SaveOutput(current);
    else
        SaveAs(UnusedNameBeside(current));
}

void TForm4::SaveAs1Click()
{
    TAVRIN_GUARD_HANDLER();
    SaveAs(Canvas.CurrentFile());
}

void TForm4::SaveAs(const QString& Initial)
{
    // A pasted picture has no folder of its own: it starts where the last
    // one was saved, as a PNG like the screenshots it usually comes from.
    const QString start =
        Canvas.IsPasted() ? QDir(LastFolder(SaveFolder)).filePath(Initial + QStringLiteral(".png"))
                          : Initial;
    const QString chosen = Dialogs().SaveFileName(this, Canvas.SaveDialog1, start);
    // The name becomes current only once the image is really there.
    if (!chosen.isEmpty() && Canvas.SaveOutput(chosen)) {
        Canvas.SetCurrentFile(chosen);
        RememberFolder(SaveFolder, chosen);
    }
}

void TForm4::ExportAnimation1Click()
{
    TExportAnimationDialog dialog(Positions(), this, &Canvas.Source());
    // A name typed without a folder goes beside the picture; a pasted one has
    // no folder and goes where the last export went, or home.
    const QString last = LastFolder(ExportFolder);
    dialog.Folder = !Canvas.IsPasted() ? QFileInfo(Canvas.CurrentFile()).absolutePath()
                    : last.isEmpty()   ? QDir::homePath()
                                       : last;
    if (dialog.exec() == QDialog::Accepted)
        ExportAnimation(dialog.Settings(), dialog.FileName());
}

// The export's size: its bitmaps' when they stay under the limit, or else a
// sample encoded on a thread of its own while a busy dialog keeps the
// windows alive.
std::uint64_t TForm4::ExportBytes(const tavrin::TWin& Source, const tavrin::TSweepExport& Settings,
                                  const std::string& Name)
{
    const std::uint64_t bitmaps = tavrin::ExportBitmapBytes(Source, Settings);
    if (bitmaps <= tavrin::LargeExportBytes)
        return bitmaps;
    QProgressDialog busy(QStringLiteral("Estimating the file's size…"), QString(), 0, 0, this);
    busy.setWindowModality(Qt::ApplicationModal);
    busy.setMinimumDuration(0);
    std::future<std::uint64_t> bytes = std::async(std::launch::async, [&] {
        return tavrin::EstimateExportBytes(Source, Settings, Name);
    });
    while (bytes.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return bytes.get();
}

bool TForm4::ExportAnimation(const tavrin::TSweepExport& Settings, const QString& FileName)
{
    const std::string name = QFile::encodeName(FileName).toStdString();
    bool written = false;
    try {
        const std::uint64_t bytes = ExportBytes(Canvas.Source(), Settings, name);
        if (bytes > tavrin::LargeExportBytes &&
            !Dialogs().Ask(this, QStringLiteral("%1 will take about %2 GiB. Write it?")
                                     .arg(FileName)
                                     .arg(double(bytes) / double(tavrin::LargeExportBytes), 0,
                                          'f', 1)))
            return false;
        const std::int64_t total = tavrin::SweepFrameCount(Settings.Sweep);
        QProgressDialog progress(QStringLiteral("Exporting %1…").arg(FileName),
                                 QStringLiteral("Cancel"), 0, int(total), this);
        // Every window waits: an image opened or dropped meanwhile would
        // change the surfaces under the export.
        progress.setWindowModality(Qt::ApplicationModal);
        progress.setMinimumDuration(0);
        const auto started = std::chrono::steady_clock::now();
        written = tavrin::ExportSweep(
            Canvas.Source(), Canvas.Output(), Settings, name,
            [&](std::int64_t Done, std::int64_t Total) {
                const double seconds =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - started)
                        .count();
                progress.setLabelText(
                    QStringLiteral("Exporting %1…\nframe %2 of %3, %4 left")
                        .arg(FileName)
                        .arg(Done)
                        .arg(Total)
                        .arg(QString::fromStdString(tavrin::MinutesAndSeconds(
                            seconds / double(Done) * double(Total - Done)))));
                Canvas.repaint();
                progress.setValue(int(Done)); // runs the events
                return !progress.wasCanceled();
            },
            [](const tavrin::TWin& Frame, const std::string& Name) {
                tavrin::WriteImageFile(Frame, QFile::decodeName(Name.c_str()));
            });
    } catch (const std::exception& error) {
        TApplication::HandleException(error);
    }
    Canvas.ShowAgain(Positions()); // as it was before the export
    return written;
}

QString UnusedNameBeside(const QString& File)
{
    const QFileInfo file(File);
    const QString stem = file.dir().filePath(file.completeBaseName() + QStringLiteral("-tavrin"));
    QString name = stem + QStringLiteral(".png");
    for (int n = 2; QFileInfo::exists(name); ++n)
        name = stem + QStringLiteral("-%1.png").arg(n);
    return name;
}

void TForm4::BeSilent1Click()
{
    TAVRIN_GUARD_HANDLER();
    Canvas.BeSilent1Click();
}

void TForm4::MakeNoise1Click()
{
    TAVRIN_GUARD_HANDLER();
    Canvas.NoSounds1Click();
}

void TForm4::Exit1Click()
{
    TerminateApplication();
}

void TForm4::Help1Click()
{
    TAVRIN_GUARD_HANDLER();
    Canvas.Help1Click();
}

void TForm4::About1Click()
{
    TAVRIN_GUARD_HANDLER();
    Canvas.About1Click();
}

void TForm4::Min1Click()
{
    TAVRIN_GUARD_HANDLER();
    Canvas.Beeper(5);
    TApplication::Minimize(&Canvas);
}

void TForm4::FormClose()
{
    TerminateApplication();
}

void TForm4::showEvent(QShowEvent* Event)
{
    QMainWindow::showEvent(Event);
    if (Placed)
        return;
    Placed = true;
    QRect frame(QPoint(), size());
    frame.moveCenter(screen()->geometry().center());
    move(frame.topLeft());
}

bool TForm4::eventFilter(QObject* Watched, QEvent* Event)
{
    // Presses reach a window before its widgets: only a widget's count.
    const QEvent::Type type = Event->type();
    const bool press = type == QEvent::Shortcut ||
                       (Watched->isWidgetType() &&
                        (type == QEvent::KeyPress || type == QEvent::MouseButtonPress));
    const std::optional<int> run = History.OpenRun();
    if (press && run && Watched != Sliders[*run])
        History.EndRun();
    return QMainWindow::eventFilter(Watched, Event);
}

void TForm4::closeEvent(QCloseEvent* Event)
{
    Event->accept();
    FormClose();
}
