#include "reports/reportsettings.h"

#include <QDir>

#include "reports/loanstatements.h"
#include "settings/inifile.h"
#include "settings/settingsfile.h"
#include "widgets/messages.h"

namespace reports {
namespace {

const QString kSection = QStringLiteral("reports");
const QString kOverdueDays = QStringLiteral("overdue_days");
int unsavedDays = -1;  // a limit set in this run that the file refused

}  // namespace

int overdueDays() {
    if (unsavedDays >= 0) return unsavedDays;
    IniFile ini = settingsFile();
    ini.load();  // an unreadable file reads as defaults here; the main window says so
    const int days = ini.integer(kSection, kOverdueDays, loans::kDefaultOverdueDays);
    return days >= 0 ? days : loans::kDefaultOverdueDays;
}

void saveOverdueDays(int days) {
    IniFile ini = settingsFile();
    bool saved = ini.load();
    if (saved) {
        ini.setInteger(kSection, kOverdueDays, days);
        saved = ini.save();
    }
    unsavedDays = saved ? -1 : days;
    if (!saved)
        messages().error(QStringLiteral("Не удалось сохранить срок просрочки в файл %1: %2.")
                             .arg(QDir::toNativeSeparators(ini.path()), ini.errorString()));
}

std::optional<QRect> windowPlace(const QString& window) {
    return savedWindowPlace(kSection, window);
}

void saveWindowPlace(const QString& window, const QRect& place) {
    ::saveWindowPlace(kSection, window, place);
}

}  // namespace reports
