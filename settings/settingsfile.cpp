#include "settings/settingsfile.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include "settings/inifile.h"

namespace {

QString settingsPathOverride;

// Whether this process may make files in folder, as the kernel decides for its writes: a
// read-only mount counts, and so does root's override when a test has dropped it.
bool userMayWrite(const QString& folder) {
    return faccessat(AT_FDCWD, QFile::encodeName(folder).constData(), W_OK | X_OK, AT_EACCESS) == 0;
}

}  // namespace

QString settingsFilePathFor(const QString& programFolder, const QString& configFolder) {
    const QString name = QStringLiteral("Korvalen.ini");
    if (userMayWrite(programFolder)) return QDir(programFolder).filePath(name);
    return QDir(configFolder).filePath(QStringLiteral("korvalen/") + name);
}

QString settingsFilePath() {
    if (!settingsPathOverride.isEmpty()) return settingsPathOverride;
    return settingsFilePathFor(
        QCoreApplication::applicationDirPath(),
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
}

void setSettingsFilePath(const QString& path) {
    settingsPathOverride = path;
}

// ~/.config/korvalen may not be there yet on a new account (the executable's folder is
// there anyway); a path a test sets is taken as it is.
IniFile settingsFile() {
    return IniFile(settingsFilePath(), settingsPathOverride.isEmpty());
}

namespace {

QString placeKey(const QString& prefix, const char* part) {
    return prefix + QLatin1Char('_') + QLatin1String(part);
}

}  // namespace

std::optional<QRect> savedWindowPlace(const QString& section, const QString& prefix) {
    IniFile ini = settingsFile();
    ini.load();
    constexpr int kNone = -1000000;
    const QRect place(ini.integer(section, placeKey(prefix, "x"), kNone),
                      ini.integer(section, placeKey(prefix, "y"), kNone),
                      ini.integer(section, placeKey(prefix, "width"), 0),
                      ini.integer(section, placeKey(prefix, "height"), 0));
    if (place.x() == kNone || place.y() == kNone || place.isEmpty()) return std::nullopt;
    return place;
}

void saveWindowPlace(const QString& section, const QString& prefix, const QRect& place) {
    IniFile ini = settingsFile();
    if (!ini.load()) return;
    ini.setInteger(section, placeKey(prefix, "x"), place.x());
    ini.setInteger(section, placeKey(prefix, "y"), place.y());
    ini.setInteger(section, placeKey(prefix, "width"), place.width());
    ini.setInteger(section, placeKey(prefix, "height"), place.height());
    ini.save();
}
