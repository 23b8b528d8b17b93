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
