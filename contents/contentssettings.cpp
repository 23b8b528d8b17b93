#include "contents/contentssettings.h"

#include <QString>

#include "settings/settingsfile.h"

namespace contents {
namespace {

const QString kSection = QStringLiteral("contents");

QString prefix(Window window) {
    return window == Window::Contents ? QStringLiteral("window") : QStringLiteral("find_window");
}

}  // namespace

std::optional<QRect> windowPlace(Window window) {
    return savedWindowPlace(kSection, prefix(window));
}

void saveWindowPlace(const QRect& place, Window window) {
    ::saveWindowPlace(kSection, prefix(window), place);
}

}  // namespace contents
