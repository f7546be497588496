// The dialog seam: every file dialog and message box of the program goes
// through Dialogs(), so that tests can answer them without blocking.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// A file dialog's settings, as a window declares them.
struct TFileDialog {
    QString Title;
    QString Filter;     // "Description|pattern" pairs, all separated by '|'
    QString DefaultExt; // added to a typed name that has no extension (save only)
};

// "Bitmap Files|*.bmp" → "Bitmap Files (*.bmp)"; several pairs are joined by ";;".
QString QtFileFilter(const QString& Filter);

// The extensions a Qt file filter names: "JPEG Images (*.jpg *.jpeg)" gives
// jpg and jpeg; none for a filter of any file.
QStringList FilterExtensions(const QString& QtFilter);

class TDialogs {
public:
    virtual ~TDialogs() = default;
    // Starts in Folder (the working folder when empty); the chosen file, or
    // an empty string when the user cancels.
    virtual QString OpenFileName(QWidget* Parent, const TFileDialog& Dialog,
                                 const QString& Folder) = 0;
    // Starts at Initial; the chosen file, or an empty string when cancelled.
    virtual QString SaveFileName(QWidget* Parent, const TFileDialog& Dialog,
                                 const QString& Initial) = 0;
    virtual void ShowError(QWidget* Parent, const QString& Message) = 0;
    // True when the user answers Yes.
    virtual bool Ask(QWidget* Parent, const QString& Question) = 0;
};

// The dialogs in use: Qt's own unless replaced.
TDialogs& Dialogs();
// Replaces the dialogs (not owned) until replaced again; nullptr restores Qt's.
void SetDialogs(TDialogs* Replacement);
