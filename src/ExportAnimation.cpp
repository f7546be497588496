#include "ExportAnimation.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMetaProperty>
#include <QPushButton>
#include <QSpinBox>

#include "Preferences.h"
#include "StillSequence.h"

using tavrin::Slider;

namespace {

// A still chosen without a frame number gets one before its extension.
QString WithFrameNumber(const QString& Name)
{
    const QFileInfo file(Name);
    const QString extension = file.suffix().toLower();
    if (extension == QLatin1String("webp") || extension == QLatin1String("gif") ||
        extension.isEmpty() || file.fileName().contains('%'))
        return Name;
    return Name.left(Name.size() - extension.size() - 1) + QStringLiteral("-%04d.") +
           file.suffix();
}

} // namespace

TExportAnimationDialog::TExportAnimationDialog(const tavrin::SliderPositions& Current,
                                               QWidget* Parent)
    : QDialog(Parent), SliderBox(new QComboBox), FromBox(new QSpinBox), ToBox(new QSpinBox),
      StepBox(new QSpinBox), FpsBox(new QSpinBox), FileEdit(new QLineEdit),
      FramesLabel(new QLabel), Buttons(new QDialogButtonBox(QDialogButtonBox::Ok |
                                                            QDialogButtonBox::Cancel)),
      Current(Current)
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
    FileEdit->setPlaceholderText(QStringLiteral("turn.webp, slices.gif or frame-%04d.png"));

    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Slider"), SliderBox);
    form->addRow(QStringLiteral("From"), FromBox);
    form->addRow(QStringLiteral("To"), ToBox);
    form->addRow(QStringLiteral("Step"), StepBox);
    form->addRow(QStringLiteral("Frames per second"), FpsBox);
    form->addRow(QStringLiteral("File"), file);
    form->addRow(QString(), FramesLabel);
    form->addRow(Buttons);
    form->setSizeConstraint(QLayout::SetFixedSize);

    connect(SliderBox, &QComboBox::currentIndexChanged, this,
            &TExportAnimationDialog::SliderChosen);
    for (QSpinBox* box : {FromBox, ToBox, StepBox, FpsBox})
        connect(box, &QSpinBox::valueChanged, this, &TExportAnimationDialog::Update);
    connect(FileEdit, &QLineEdit::textChanged, this, &TExportAnimationDialog::Update);
    connect(choose, &QPushButton::clicked, this, &TExportAnimationDialog::ChooseFile);
    connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(this, &QDialog::accepted, this, &TExportAnimationDialog::KeepFields);
    SliderBox->setCurrentIndex(int(Slider::Angle));
    SliderChosen(int(Slider::Angle));
    RestoreFields();
}

std::vector<std::pair<QString, QWidget*>> TExportAnimationDialog::KeptFields() const
{
    return {{QStringLiteral("Export/Slider"), SliderBox},
            {QStringLiteral("Export/Step"), StepBox},
            {QStringLiteral("Export/FramesPerSecond"), FpsBox}};
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
    const std::int64_t frames = tavrin::SweepFrameCount(Settings().Sweep);
    FramesLabel->setText(QStringLiteral("%1 frames, %2 seconds")
                             .arg(frames)
                             .arg(double(frames) / FpsBox->value(), 0, 'f', 1));
    Buttons->button(QDialogButtonBox::Ok)->setEnabled(!FileEdit->text().isEmpty());
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
    return settings;
}

QString TExportAnimationDialog::FileName() const
{
    return FileEdit->text().isEmpty() ? Folder : QDir(Folder).filePath(FileEdit->text());
}
