// What the program remembers from one run to the next, in the user's
// configuration folder (~/.config/Tavrin/Tavrin.conf): the sound switch, the
// folders of the last Open, Save As and Export, the export dialog's fields
// and the recent files. The slider positions, the memory bank and the window
// positions are not kept: every start looks the same.
//
// A file that cannot be read gives the defaults, and one that cannot be
// written is reported once on standard error; neither stops the program.
#pragma once

#include <QString>
#include <QVariant>

// The value stored under Key, or Default when there is none.
QVariant Preference(const QString& Key, const QVariant& Default = {});
void SetPreference(const QString& Key, const QVariant& Value);
// Forgets everything the program remembers; false when the file cannot be written.
bool ResetPreferences();

// The file dialogs whose folder is remembered, by their key.
inline const QString OpenFolder = QStringLiteral("Folders/Open");
inline const QString SaveFolder = QStringLiteral("Folders/SaveAs");
inline const QString ExportFolder = QStringLiteral("Folders/Export");

// The zoom chosen last: "fit" or a percentage, as --zoom takes it.
inline const QString ZoomKey = QStringLiteral("View/Zoom");

// The folder of the last file chosen in Dialog, or an empty string.
QString LastFolder(const QString& Dialog);
// Remembers the folder that holds File for Dialog.
void RememberFolder(const QString& Dialog, const QString& File);
