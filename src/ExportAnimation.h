// The Export Animation dialog: which slider sweeps, from where to where in
// which steps, how many frames a second, the format, quality, size and file,
// and what that will make: the frame size, the file's size and the time.
#pragma once

#include <memory>
#include <thread>

#include <QDialog>
#include <QString>
#include <QTimer>

#include <utility>
#include <vector>

#include "Render.h"
#include "SweepExport.h"
#include "framework/Dialogs.h"

class QComboBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QSpinBox;

class TExportAnimationDialog : public QDialog {
    Q_OBJECT
public:
    // Current: the panel's slider positions; a sweep starts at the chosen
    // slider's position and runs to the end of its range. With a Source the
    // dialog estimates the export in the background as the settings change.
    TExportAnimationDialog(const tavrin::SliderPositions& Current, QWidget* Parent = nullptr,
                           const tavrin::TWin* Source = nullptr);
    // A running estimate stops after the frame at hand; the program waits
    // for it at exit.
    ~TExportAnimationDialog() override;

    tavrin::TSweepExport Settings() const;
    // The file; a name without a folder is in Folder.
    QString FileName() const;

    // The picture's folder, where the file goes unless the name says otherwise.
    QString Folder;

    // The save dialog behind "Choose…"; its filter gives the formats.
    const TFileDialog SaveDialog{"Export Animation",
                                 "Animated WebP|*.webp|Animated GIF|*.gif|"
                                 "MP4 video|*.mp4|WebM video|*.webm|"
                                 "Numbered PNG stills|*.png|Numbered bitmaps|*.bmp",
                                 "webp"};

    QComboBox* SliderBox;
    QSpinBox* FromBox;
    QSpinBox* ToBox;
    QSpinBox* StepBox;
    QSpinBox* FpsBox;
    QComboBox* FormatBox;
    QLabel* VideoHint; // shown when there is no ffmpeg to make videos
    QSpinBox* QualityBox;
    QComboBox* SizeBox;
    QLineEdit* FileEdit;
    QLabel* FramesLabel;
    QLabel* EstimateLabel;
    QDialogButtonBox* Buttons;

    void ChooseFile();

private:
    struct TEstimateJob;

    // The fields that the next export starts with, under their keys in the
    // preferences, in the order they are restored. From and To are not kept:
    // a sweep starts at the slider's position.
    std::vector<std::pair<QString, QWidget*>> KeptFields() const;
    void RestoreFields();
    // Keeps the fields and the file's folder for the next export.
    void KeepFields();

    void SliderChosen(int Index);
    void FormatChosen(int Index);
    void FileNameEdited();
    void Update();
    void StartEstimate();
    void CheckEstimate();

    tavrin::SliderPositions Current;
    std::shared_ptr<const tavrin::TWin> Source; // a copy the estimates may outlive the dialog with
    std::shared_ptr<TEstimateJob> Estimate;     // the one running, if any
    std::thread EstimateThread;                 // its thread
    bool EstimateStale = false;                 // the settings changed since it started
    QTimer EstimatePoll;
};
