#pragma once

#include <QRect>
#include <QString>
#include <optional>

class IniFile;

// The settings file: Korvalen.ini beside the executable where the user may write that
// folder (a build, an install in the user's home), else the user's own,
// configFolder/korvalen/Korvalen.ini (a system-wide install). A test may point it
// elsewhere (an empty path restores the default). The main window and the reports keep
// their sections in it.
QString settingsFilePathFor(const QString& programFolder, const QString& configFolder);
QString settingsFilePath();
void setSettingsFilePath(const QString& path);
// The settings file to read or save; saving makes the user's folder for it.
IniFile settingsFile();

// A window's size and place as kept in `section` under <prefix>_x, _y, _width, _height;
// nothing when they were never saved.
std::optional<QRect> savedWindowPlace(const QString& section, const QString& prefix);
void saveWindowPlace(const QString& section, const QString& prefix, const QRect& place);
