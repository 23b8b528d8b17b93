#include "commands/loancommands.h"

#include "commands/commandquery.h"
#include "widgets/messages.h"

namespace command {

bool closeLoanOfDeletedDisk(store::Query& query, int64_t loanKey, int64_t diskKey,
                            const std::function<bool()>& confirmed) {
    const bool diskThere =
        count(query, statements::countDisk(diskKey), "Disks") != QLatin1String("0");
    query.close();
    if (diskThere) {
        messages().information(
            QStringLiteral("Диск № %1 есть в каталоге: его выдачу закрывает кнопка «Забрать "
                           "диск» в главном окне.")
                .arg(diskKey));
        return false;
    }
    if (!confirmed()) return false;
    // The statement itself asks again that the disk be gone, whatever came meanwhile.
    asOneUnit([&] {
        executeByKey(query, statements::closeLoanOfDeletedDisk(loanKey, diskKey),
                     QStringLiteral("Выдача уже закрыта или её диск снова в каталоге. "
                                    "Список обновлён."),
                     [](store::Query& q) { q.setDate("DatK", store::Date::today()); });
    });
    return true;
}

}  // namespace command
