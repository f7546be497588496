// The files opened or saved last, newest first: kept in the preferences for
// File > Open Recent, and told to the desktop's recently-used list as well,
// which file choosers and launchers of every program show.
#pragma once

#include <QString>
#include <QStringList>

constexpr int RecentFilesLimit = 10;

// Absolute paths, newest first, at most RecentFilesLimit.
QStringList RecentFiles();
// File has just been opened or saved: it comes first.
void AddRecentFile(const QString& File);
void RemoveRecentFile(const QString& File);
// Empties the program's own list; the desktop's keeps its entries.
void ClearRecentFiles();
