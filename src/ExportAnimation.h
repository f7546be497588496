// The Export Animation dialog: which slider sweeps, from where to where in
// which steps, how many frames a second, and the file.
#pragma once

#include <QDialog>
#include <QString>

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
    // slider's position and runs to the end of its range.
    TExportAnimationDialog(const tavrin::SliderPositions& Current, QWidget* Parent = nullptr);

    tavrin::TSweepExport Settings() const;
    // The file; a name without a folder is in Folder.
    QString FileName() const;

    // The picture's folder, where the file goes unless the name says otherwise.
    QString Folder;

    // The save dialog behind "Choose…"; its filter gives the formats.
    const TFileDialog SaveDialog{"Export Animation",
                                 "Animated WebP|*.webp|Animated GIF|*.gif|"
                                 "Numbered PNG stills|*.png|Numbered bitmaps|*.bmp",
                                 "webp"};

    QComboBox* SliderBox;
    QSpinBox* FromBox;
    QSpinBox* ToBox;
    QSpinBox* StepBox;
    QSpinBox* FpsBox;
    QLineEdit* FileEdit;
    QLabel* FramesLabel;
    QDialogButtonBox* Buttons;

    void ChooseFile();

private:
    // The fields that the next export starts with, under their keys in the
    // preferences, in the order they are restored. From and To are not kept:
    // a sweep starts at the slider's position.
    std::vector<std::pair<QString, QWidget*>> KeptFields() const;
    void RestoreFields();
    // Keeps the fields and the file's folder for the next export.
    void KeepFields();
    void SliderChosen(int Index);
    void Update();

    tavrin::SliderPositions Current;
};
