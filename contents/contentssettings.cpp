#include "contents/contentssettings.h"

#include <QString>
#include <algorithm>

#include "settings/inifile.h"
#include "settings/settingsfile.h"

namespace contents {
namespace {

const QString kSection = QStringLiteral("contents");

QString key(Window window, const char* what) {
    return (window == Window::Contents ? QStringLiteral("window_")
                                       : QStringLiteral("find_window_")) +
           QLatin1String(what);
}

}  // namespace

std::optional<QRect> windowPlace(Window window) {
    IniFile ini = settingsFile();
    ini.load();
    constexpr int kNone = -1000000;
    const QRect place(ini.integer(kSection, key(window, "x"), kNone),
                      ini.integer(kSection, key(window, "y"), kNone),
                      ini.integer(kSection, key(window, "width"), 0),
                      ini.integer(kSection, key(window, "height"), 0));
    if (place.x() == kNone || place.y() == kNone || place.isEmpty()) return std::nullopt;
    return place;
}

void saveWindowPlace(const QRect& place, Window window) {
    IniFile ini = settingsFile();
    if (!ini.load()) return;
    ini.setInteger(kSection, key(window, "x"), place.x());
    ini.setInteger(kSection, key(window, "y"), place.y());
    ini.setInteger(kSection, key(window, "width"), place.width());
    ini.setInteger(kSection, key(window, "height"), place.height());
    ini.save();
}

}  // namespace contents
