#include "Preferences.h"

#include <QFileInfo>
#include <QSettings>

#include <cstdio>

namespace {

// Named here rather than by the application object, so that the command
// line's --reset-preferences and the tests reach the same file.
QSettings Store()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tavrin"),
                     QStringLiteral("Tavrin"));
}

// False when the file cannot be written, which is told once.
bool Write(QSettings& Settings)
{
    Settings.sync();
    if (Settings.status() != QSettings::AccessError)
        return true;
    static bool told = false;
    if (!told) {
        told = true;
        std::fprintf(stderr, "tavrin: the preferences cannot be written to %s and are not kept\n",
                     qPrintable(Settings.fileName()));
    }
    return false;
}

} // namespace

QVariant Preference(const QString& Key, const QVariant& Default)
{
    return Store().value(Key, Default);
}

void SetPreference(const QString& Key, const QVariant& Value)
{
    QSettings settings = Store();
    settings.setValue(Key, Value);
    Write(settings);
}

bool ResetPreferences()
{
    QSettings settings = Store();
    settings.clear();
    return Write(settings);
}

QString LastFolder(const QString& Dialog)
{
    return Preference(Dialog).toString();
}

void RememberFolder(const QString& Dialog, const QString& File)
{
    SetPreference(Dialog, QFileInfo(File).absolutePath());
}
