#include "contents/contentsmenu.h"

#include <QAction>
#include <QDir>

#include "commands/changes.h"
#include "contents/contentsmodel.h"
#include "contents/contentswindow.h"
#include "contents/filesearchwindow.h"
#include "contents/readers.h"
#include "contents/sourcechoice.h"
#include "store/contentsstore.h"
#include "store/database.h"
#include "widgets/guarded.h"
#include "widgets/listquery.h"
#include "widgets/messages.h"

namespace contents {
namespace {

void bringUp(QWidget* window) {
    window->show();
    window->raise();
    window->activateWindow();
}

QString sourceName(const std::filesystem::path& source) {
    return QDir::toNativeSeparators(QFile::decodeName(source.c_str()));
}

}  // namespace

ContentsMenu::ContentsMenu(const ContentsHost& host)
    : QObject(&host.window),
      chooseSource(&SourceChoice::ask),
      reader([](const std::filesystem::path& source, store::ContentsSink& sink) {
          readSource(source, sink);
      }),
      host_(host) {
    setObjectName(QStringLiteral("ContentsMenu"));
    connect(&host.readContents, &QAction::triggered, this,
            [this] { guarded([&] { readIntoCurrentDisk(); }); });
    connect(&host.showContents, &QAction::triggered, this,
            [this] { guarded([&] { showContents(); }); });
    connect(&host.findFile, &QAction::triggered, this,
            [this] { guarded([&] { showFileSearch(); }); });
}

ContentsWindow* ContentsMenu::contentsWindow() {
    if (!window_) {
        window_ = new ContentsWindow(host_.disks, &host_.window);
        connect(window_, &ContentsWindow::readRequested, this,
                [this] { guarded([&] { readIntoCurrentDisk(); }); });
    }
    return window_;
}

void ContentsMenu::showContents() {
    bringUp(contentsWindow());
}

void ContentsMenu::showContentsAt(const std::string& path) {
    showContents();
    window_->showEntry(path);
}

FileSearchWindow* ContentsMenu::fileSearchWindow() {
    if (!search_)
        search_ = new FileSearchWindow(
            host_.disks, host_.clearFilter,
            [this](const std::string& path) { showContentsAt(path); }, &host_.window);
    return search_;
}

void ContentsMenu::showFileSearch() {
    bringUp(fileSearchWindow());
}

void ContentsMenu::readIntoCurrentDisk() {
    QWidget* const main = &host_.window;
    ListQuery& disks = host_.disks;
    if (!disks.isOpen() || disks.currentRow() < 0) {
        messages().information(QStringLiteral("В списке дисков нет текущего диска. Выберите "
                                              "диск, содержимое которого нужно прочитать."),
                               main);
        return;
    }
    const int64_t disk = disks.integer(QStringLiteral("N"));
    const QString named =
        QStringLiteral("№ %1 «%2»").arg(disk).arg(disks.text(QStringLiteral("Name")));
    const auto source = chooseSource(main);
    if (!source) return;
    const auto db = disks.query().databaseForRun();
    if (const auto had = store::ContentsReader(*db).volume(disk)) {
        if (!messages().confirm(QStringLiteral("Содержимое диска %1 уже прочитано (%2). Заменить "
                                               "его прочитанным из %3?")
                                    .arg(named, readMoment(had->readAt), sourceName(*source)),
                                main))
            return;
    }
    const ReadResult result = readWithProgress(main, db->baseDir(), disk, *source, reader);
    switch (result.outcome) {
        case ReadOutcome::Done:
            emit command::Changes::instance().contentsWritten(disk);
            messages().information(
                QStringLiteral("Содержимое диска %1 прочитано из %2: папок %3, "
                               "файлов %4.")
                    .arg(named, sourceName(*source), count(result.folders), count(result.files)),
                main);
            showContents();  // what was read, to look at
            break;
        case ReadOutcome::Stopped:
            messages().information(
                QStringLiteral("Чтение остановлено. У диска %1 осталось прежнее содержимое.")
                    .arg(named),
                main);
            break;
        case ReadOutcome::Failed:
            messages().error(QStringLiteral("Содержимое диска %1 не прочитано: %2\nУ диска "
                                            "осталось прежнее содержимое.")
                                 .arg(named, result.message),
                             main);
            break;
    }
}

}  // namespace contents
