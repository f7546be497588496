#include "RecentFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QStandardPaths>
#include <QUrl>

#include <glib.h>

#include "Preferences.h"

namespace {

const QString Key = QStringLiteral("RecentFiles");

void Store(const QStringList& Files)
{
    SetPreference(Key, Files);
}

// Adds File to the desktop's recently-used list (the freedesktop bookmark
// file), as the desktop's own programs do. A list that exists but cannot be
// read is left alone rather than replaced with a list of one.
void TellDesktop(const QString& File)
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (folder.isEmpty() || !QDir().mkpath(folder))
        return;
    const QByteArray list = QFile::encodeName(folder + QStringLiteral("/recently-used.xbel"));
    GBookmarkFile* bookmarks = g_bookmark_file_new();
    GError* error = nullptr;
    if (g_bookmark_file_load_from_file(bookmarks, list.constData(), &error) ||
        g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_NOENT)) {
        const QByteArray uri = QUrl::fromLocalFile(File).toEncoded();
        const QByteArray type = QMimeDatabase().mimeTypeForFile(File).name().toUtf8();
        g_bookmark_file_set_mime_type(bookmarks, uri.constData(), type.constData());
        g_bookmark_file_add_application(bookmarks, uri.constData(), "Tavrin", "tavrin %u");
        g_bookmark_file_to_file(bookmarks, list.constData(), nullptr);
    }
    g_clear_error(&error);
    g_bookmark_file_free(bookmarks);
}

} // namespace

QStringList RecentFiles()
{
    return Preference(Key).toStringList().mid(0, RecentFilesLimit);
}

void AddRecentFile(const QString& File)
{
    const QString path = QFileInfo(File).absoluteFilePath();
    QStringList files = RecentFiles();
    files.removeAll(path);
    files.prepend(path);
    Store(files.mid(0, RecentFilesLimit));
    TellDesktop(path);
}

void RemoveRecentFile(const QString& File)
{
    QStringList files = RecentFiles();
    files.removeAll(File);
    Store(files);
}

void ClearRecentFiles()
{
    Store({});
}
