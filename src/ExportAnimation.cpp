#include "ExportAnimation.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <thread>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMetaProperty>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardItemModel>

#include "Preferences.h"
#include "StillSequence.h"

using tavrin::Slider;

struct TExportAnimationDialog::TEstimateJob {
    std::atomic<bool> Cancelled = false;
    std::mutex Lock;
    bool Done = false;
    std::optional<tavrin::TExportEstimate> Result;
    QString Error;
};

namespace {

// Estimates whose dialog closed before they ended: each stops after the frame
// at hand and is waited for at exit, so none is cut off with its temporary
// folder left behind. Used on the user-interface thread only.
struct TClosedEstimates {
    std::vector<std::thread> Threads;
    ~TClosedEstimates()
    {
        for (std::thread& thread : Threads)
            thread.join();
    }
};

void EndInBackground(std::thread Thread)
{
    static TClosedEstimates closed;
    closed.Threads.push_back(std::move(Thread));
}

struct TFormatChoice {
    const char* Caption;
    const char* Extension;
    bool Video;
    int MinQuality; // 0: "Lossless" below 1; -1: no quality setting
    int Quality;    // the starting quality
};

constexpr TFormatChoice Formats[] = {
    {"Animated WebP", "webp", false, 0, 0},
    {"Animated GIF", "gif", false, -1, 0},
    {"MP4 video (H.264)", "mp4", true, 1, tavrin::DefaultVideoQuality},
    {"WebM video (VP9)", "webm", true, 1, tavrin::DefaultVideoQuality},
    {"Numbered PNG stills", "png", false, -1, 0},
    {"Numbered bitmaps", "bmp", false, -1, 0},
};

// The sizes for sharing: the longer side at most, 0 for full size.
constexpr int Sizes[] = {0, 3840, 1920, 1280, 640};

int FormatOfName(const QString& Name)
{
    const QString extension = QFileInfo(Name).suffix().toLower();
    for (std::size_t i = 0; i < std::size(Formats); ++i)
        if (extension == QLatin1String(Formats[i].Extension))
            return int(i);
    return -1;
}

QString Megabytes(std::uint64_t Bytes)
{
    return Bytes < 10'000'000 ? QStringLiteral("%1 MB").arg(double(Bytes) / 1e6, 0, 'f', 1)
                              : QStringLiteral("%1 MB").arg(double(Bytes) / 1e6, 0, 'f', 0);
}

// A still chosen without a frame number gets one before its extension.
QString WithFrameNumber(const QString& Name)
{
    const QFileInfo file(Name);
    const QString extension = file.suffix().toLower();
    if (extension == QLatin1String("webp") || extension == QLatin1String("gif") ||
        extension == QLatin1String("mp4") || extension == QLatin1String("webm") ||
        extension.isEmpty() || file.fileName().contains('%'))
        return Name;
    return Name.left(Name.size() - extension.size() - 1) + QStringLiteral("-%04d.") +
           file.suffix();
}

} // namespace

TExportAnimationDialog::TExportAnimationDialog(const tavrin::SliderPositions& Current,
                                               QWidget* Parent, const tavrin::TWin* Source)
    : QDialog(Parent), SliderBox(new QComboBox), FromBox(new QSpinBox), ToBox(new QSpinBox),
      StepBox(new QSpinBox), FpsBox(new QSpinBox), FormatBox(new QComboBox),
      VideoHint(new QLabel), QualityBox(new QSpinBox), SizeBox(new QComboBox),
      FileEdit(new QLineEdit), FramesLabel(new QLabel), EstimateLabel(new QLabel),
      Buttons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel)),
      Current(Current),
      Source(Source ? std::make_shared<const tavrin::TWin>(*Source) : nullptr)
{
    setWindowTitle(QStringLiteral("Export Animation"));
    for (const tavrin::SliderRange& range : tavrin::SliderRanges)
        SliderBox->addItem(QString::fromLatin1(range.Caption));
    StepBox->setMinimum(1);
    FpsBox->setRange(1, 100);
    FpsBox->setValue(25);
    auto* choose = new QPushButton(QStringLiteral("Choose…"));
    auto* file = new QHBoxLayout;
    file->addWidget(FileEdit, 1);
    file->addWidget(choose);
    FileEdit->setMinimumWidth(220);
    FileEdit->setPlaceholderText(QStringLiteral("turn.mp4, slices.gif or frame-%04d.png"));
    for (const TFormatChoice& format : Formats)
        FormatBox->addItem(QString::fromUtf8(format.Caption));
    // ffmpeg is looked for now, so that one installed meanwhile counts.
    const bool video = !tavrin::FindFfmpeg().empty();
    for (std::size_t i = 0; i < std::size(Formats); ++i)
        if (Formats[i].Video && !video)
            qobject_cast<QStandardItemModel*>(FormatBox->model())->item(int(i))->setEnabled(false);
    VideoHint->setText(QStringLiteral("MP4 and WebM need the ffmpeg program (apt install ffmpeg)"));
    VideoHint->setVisible(!video);
    EstimateLabel->setWordWrap(true);
    QualityBox->setRange(0, 100);
    QualityBox->setSpecialValueText(QStringLiteral("Lossless"));
    for (const int size : Sizes)
        SizeBox->addItem(size == 0 ? QStringLiteral("Full size")
                                   : QStringLiteral("Fit within %1 pixels").arg(size));

    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Slider"), SliderBox);
    form->addRow(QStringLiteral("From"), FromBox);
    form->addRow(QStringLiteral("To"), ToBox);
    form->addRow(QStringLiteral("Step"), StepBox);
    form->addRow(QStringLiteral("Frames per second"), FpsBox);
    form->addRow(QStringLiteral("Format"), FormatBox);
    form->addRow(QString(), VideoHint);
    form->addRow(QStringLiteral("Quality"), QualityBox);
    form->addRow(QStringLiteral("Size"), SizeBox);
    form->addRow(QStringLiteral("File"), file);
    form->addRow(QString(), FramesLabel);
    form->addRow(QString(), EstimateLabel);
    form->addRow(Buttons);
    form->setSizeConstraint(QLayout::SetFixedSize);

    connect(SliderBox, &QComboBox::currentIndexChanged, this,
            &TExportAnimationDialog::SliderChosen);
    for (QSpinBox* box : {FromBox, ToBox, StepBox, FpsBox, QualityBox})
        connect(box, &QSpinBox::valueChanged, this, &TExportAnimationDialog::Update);
    connect(FormatBox, &QComboBox::activated, this, &TExportAnimationDialog::FormatChosen);
    connect(SizeBox, &QComboBox::currentIndexChanged, this, &TExportAnimationDialog::Update);
    connect(FileEdit, &QLineEdit::textChanged, this, &TExportAnimationDialog::FileNameEdited);
    connect(&EstimatePoll, &QTimer::timeout, this, &TExportAnimationDialog::CheckEstimate);
    connect(choose, &QPushButton::clicked, this, &TExportAnimationDialog::ChooseFile);
    connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(this, &QDialog::accepted, this, &TExportAnimationDialog::KeepFields);
    SliderBox->setCurrentIndex(int(Slider::Angle));
    FormatChosen(0);
    SliderChosen(int(Slider::Angle));
    RestoreFields();
}

std::vector<std::pair<QString, QWidget*>> TExportAnimationDialog::KeptFields() const
{
    return {{QStringLiteral("Export/Slider"), SliderBox},
            {QStringLiteral("Export/Step"), StepBox},
            {QStringLiteral("Export/FramesPerSecond"), FpsBox},
            {QStringLiteral("Export/Size"), SizeBox}};
}

// Each field is kept as its user property: the text of a list, the value of a box.
void TExportAnimationDialog::RestoreFields()
{
    for (const auto& [key, field] : KeptFields())
        if (const QVariant kept = Preference(key); kept.isValid())
            field->metaObject()->userProperty().write(field, kept);
}

void TExportAnimationDialog::KeepFields()
{
    for (const auto& [key, field] : KeptFields())
        SetPreference(key, field->metaObject()->userProperty().read(field));
    RememberFolder(ExportFolder, FileName());
}

void TExportAnimationDialog::FormatChosen(int Index)
{
    const TFormatChoice& format = Formats[std::size_t(Index)];
    FormatBox->setCurrentIndex(Index);
    QualityBox->setEnabled(format.MinQuality >= 0);
    QualityBox->setMinimum(std::max(format.MinQuality, 0));
    QualityBox->setValue(format.Quality);
    const QString name = FileEdit->text();
    if (!name.isEmpty() && FormatOfName(name) != Index) {
        const QFileInfo file(name);
        const QString stem = file.suffix().isEmpty()
                                 ? name
                                 : name.left(name.size() - file.suffix().size() - 1);
        FileEdit->setText(WithFrameNumber(stem + '.' + QLatin1String(format.Extension)));
    }
    Update();
}

void TExportAnimationDialog::FileNameEdited()
{
    const int format = FormatOfName(FileEdit->text());
    if (format >= 0 && format != FormatBox->currentIndex())
        FormatChosen(format);
    else
        Update();
}

void TExportAnimationDialog::SliderChosen(int Index)
{
    const tavrin::SliderRange& range = tavrin::SliderRanges[std::size_t(Index)];
    for (QSpinBox* box : {FromBox, ToBox})
        box->setRange(range.Min, range.Max);
    FromBox->setValue(Current[Slider(Index)]);
    // From the slider's place to the far end of its range.
    ToBox->setValue(Current[Slider(Index)] == range.Max ? range.Min : range.Max);
    StepBox->setRange(1, std::max(1, range.Max - range.Min));
    StepBox->setValue(1);
    Update();
}

void TExportAnimationDialog::Update()
{
    const tavrin::TSweepExport settings = Settings();
    const std::int64_t frames = tavrin::SweepFrameCount(settings.Sweep);
    QString text = QStringLiteral("%1 frames, %2 seconds")
                       .arg(frames)
                       .arg(double(frames) / FpsBox->value(), 0, 'f', 1);
    if (Source) {
        const tavrin::TFrameSize size =
            tavrin::ExportFrameSize(Source->Width(), Source->Height(), settings.Options.Size);
        text += QStringLiteral(", %1 × %2 pixels").arg(size.Width).arg(size.Height);
    }
    FramesLabel->setText(text);
    const int format = FormatOfName(FileEdit->text());
    const bool usable = format < 0 || FormatBox->model()->flags(FormatBox->model()->index(
                                          format, 0)) & Qt::ItemIsEnabled;
    Buttons->button(QDialogButtonBox::Ok)->setEnabled(!FileEdit->text().isEmpty() && usable);
    StartEstimate();
}

// The estimate runs on a thread of its own over a copy of the picture, so
// the dialog never waits for it, not even when it closes.
TExportAnimationDialog::~TExportAnimationDialog()
{
    if (Estimate) {
        Estimate->Cancelled = true;
        EndInBackground(std::move(EstimateThread));
    }
}

void TExportAnimationDialog::StartEstimate()
{
    if (!Source || FileEdit->text().isEmpty()) {
        EstimateLabel->clear();
        return;
    }
    EstimateLabel->setText(QStringLiteral("Estimating the file's size…"));
    if (Estimate) {
        EstimateStale = true;
        return;
    }
    Estimate = std::make_shared<TEstimateJob>();
    EstimateThread = std::thread([job = Estimate, source = Source, settings = Settings(),
                                    name = QFile::encodeName(FileName()).toStdString()] {
        std::optional<tavrin::TExportEstimate> result;
        QString error;
        try {
            result = tavrin::EstimateExport(*source, settings, name, &job->Cancelled);
        } catch (const std::exception& failure) {
            error = QString::fromUtf8(failure.what());
        }
        const std::lock_guard<std::mutex> lock(job->Lock);
        job->Result = result;
        job->Error = error;
        job->Done = true;
    });
    EstimatePoll.start(50);
}

void TExportAnimationDialog::CheckEstimate()
{
    {
        const std::lock_guard<std::mutex> lock(Estimate->Lock);
        if (!Estimate->Done)
            return;
    }
    const std::shared_ptr<TEstimateJob> done = std::move(Estimate);
    EstimateThread.join();
    EstimatePoll.stop();
    if (EstimateStale) {
        EstimateStale = false;
        StartEstimate();
        return;
    }
    EstimateLabel->setText(
        done->Result ? QStringLiteral("About %1, written in about %2")
                           .arg(Megabytes(done->Result->Bytes))
                           .arg(QString::fromStdString(
                               tavrin::MinutesAndSeconds(done->Result->Seconds)))
                     : done->Error);
}

void TExportAnimationDialog::ChooseFile()
{
    const QString chosen = Dialogs().SaveFileName(
        this, SaveDialog, FileEdit->text().isEmpty() ? LastFolder(ExportFolder) : FileName());
    if (!chosen.isEmpty())
        FileEdit->setText(WithFrameNumber(chosen));
}

tavrin::TSweepExport TExportAnimationDialog::Settings() const
{
    tavrin::TSweepExport settings;
    settings.Base = Current;
    settings.Sweep = {Slider(SliderBox->currentIndex()), FromBox->value(), ToBox->value(),
                      StepBox->value()};
    settings.Options.Fps = FpsBox->value();
    if (QualityBox->isEnabled() && QualityBox->value() > 0)
        settings.Options.Quality = QualityBox->value();
    settings.Options.Size = Sizes[std::size_t(SizeBox->currentIndex())];
    return settings;
}

QString TExportAnimationDialog::FileName() const
{
    return FileEdit->text().isEmpty() ? Folder : QDir(Folder).filePath(FileEdit->text());
}
