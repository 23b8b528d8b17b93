#include "contents/contentssettings.h"

#include <QString>
#include <algorithm>

#include "settings/inifile.h"
#include "settings/settingsfile.h"

namespace contents {
namespace {

const QString kSection = QStringLiteral("contents");

}  // namespace

std::optional<QRect> windowPlace() {
    IniFile ini = settingsFile();
    ini.load();
    constexpr int kNone = -1000000;
    const QRect place(ini.integer(kSection, QStringLiteral("window_x"), kNone),
                      ini.integer(kSection, QStringLiteral("window_y"), kNone),
                      ini.integer(kSection, QStringLiteral("window_width"), 0),
                      ini.integer(kSection, QStringLiteral("window_height"), 0));
    if (place.x() == kNone || place.y() == kNone || place.isEmpty()) return std::nullopt;
    return place;
}

void saveWindowPlace(const QRect& place) {
    IniFile ini = settingsFile();
    if (!ini.load()) return;
    ini.setInteger(kSection, QStringLiteral("window_x"), place.x());
    ini.setInteger(kSection, QStringLiteral("window_y"), place.y());
    ini.setInteger(kSection, QStringLiteral("window_width"), place.width());
    ini.setInteger(kSection, QStringLiteral("window_height"), place.height());
    ini.save();
}


}  // namespace contents
