#include "contents/contentswindow.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QDateTime>
#include <QHeaderView>
#include <QHideEvent>
#include <QScreen>
#include <QShortcut>
#include <QTimer>

#include "commands/changes.h"
#include "contents/contentsmodel.h"
#include "contents/contentssettings.h"
#include "store/contentsstore.h"
#include "store/database.h"
#include "ui_DiskContents.h"
#include "widgets/guarded.h"
#include "widgets/listquery.h"
#include "widgets/windowplace.h"

namespace contents {
namespace {

// A plain QWidget is a "filler" to AT-SPI, which screen readers do not announce as a
// window; this one is.
QAccessibleInterface* accessibleContentsWindow(const QString& className, QObject* object) {
    if (className == QLatin1String(ContentsWindow::staticMetaObject.className()))
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    return nullptr;
}

QString kindText(store::SourceKind kind) {
    switch (kind) {
        case store::SourceKind::Folder:
            return QStringLiteral("папка");
        case store::SourceKind::Mount:
            return QStringLiteral("смонтированный диск");
        case store::SourceKind::Image:
            return QStringLiteral("образ");
        case store::SourceKind::Drive:
            return QStringLiteral("привод");
    }
    return {};
}

QString optionalSize(const std::optional<int64_t>& bytes) {
    return bytes ? readableSize(*bytes) : QStringLiteral("неизвестно");
}

QString trackLength(int64_t sectors) {
    const int64_t seconds = (sectors + 37) / 75;  // 75 sectors to a second, rounded
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString orNone(const std::string& text) {
    return text.empty() ? QStringLiteral("нет") : QString::fromStdString(text);
}

// The volume's facts, a line each; an audio CD's say its tracks and ids instead of files.
QString volumeText(const store::StoredVolume& v, const std::vector<store::Track>& tracks) {
    const store::VolumeFacts& f = v.facts;
    QStringList lines;
    lines << QStringLiteral("Источник: %1 %2").arg(kindText(f.kind), QString::fromUtf8(f.origin));
    lines << QStringLiteral("Метка: %1; файловая система: %2")
                 .arg(f.label.empty() ? QStringLiteral("нет")
                                      : "«" + QString::fromUtf8(f.label) + "»",
                      f.fileSystem.empty() ? QStringLiteral("неизвестна")
                                           : QString::fromUtf8(f.fileSystem));
    const QString when = readMoment(v.readAt);
    if (!tracks.empty()) {
        int64_t sectors = 0;
        for (const store::Track& t : tracks) sectors += t.sectors;
        lines << QStringLiteral("Прочитано %1: дорожек %2, общая длительность %3")
                     .arg(when)
                     .arg(tracks.size())
                     .arg(trackLength(sectors));
        lines << QStringLiteral("Disc ID: %1; MCN: %2")
                     .arg(orNone(f.discId), orNone(f.catalogueNumber));
        return lines.join(QLatin1Char('\n'));
    }
    lines << QStringLiteral("Ёмкость: %1; свободно: %2; занято файлами: %3")
                 .arg(optionalSize(f.capacity), optionalSize(f.freeSpace), readableSize(v.bytes));
    QString counts = QStringLiteral("Прочитано %1: папок %2, файлов %3")
                         .arg(when, count(v.folders), count(v.files));
    if (v.unreadable) counts += QStringLiteral(", не прочитано %1").arg(count(v.unreadable));
    lines << counts;
    return lines.join(QLatin1Char('\n'));
}

}  // namespace

ContentsWindow::ContentsWindow(ListQuery& disks, QWidget* parent)
    : QWidget(parent, Qt::Window), ui(std::make_unique<Ui::DiskContents>()), disks_(disks) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(accessibleContentsWindow);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    ui->setupUi(this);
    model_ = new ContentsModel(this);
    ui->FilesTree->setModel(model_);
    ui->FilesTree->header()->setStretchLastSection(false);
    ui->FilesTree->header()->setSectionResizeMode(ContentsModel::Name, QHeaderView::Stretch);
    ui->FilesTree->setColumnWidth(ContentsModel::Size, 90);
    ui->FilesTree->setColumnWidth(ContentsModel::Modified, 120);
    ui->FilesTree->setColumnWidth(ContentsModel::Marks, 130);
    ui->TracksList->header()->setStretchLastSection(true);
    ui->TracksList->setColumnWidth(0, 40);
    ui->TracksList->setColumnWidth(1, 100);
    ui->TracksList->setColumnWidth(2, 300);
    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(ui->FilesTree),
                                    static_cast<QAbstractItemView*>(ui->TracksList)})
        view->setTabKeyNavigation(false);

    connect(ui->ReadButton, &QPushButton::clicked, this, &ContentsWindow::readRequested);
    connect(ui->CloseButton, &QPushButton::clicked, this, &QWidget::close);
    new QShortcut(QKeySequence::Cancel, this, this, &QWidget::close);  // Escape closes

    auto& changes = command::Changes::instance();
    connect(&changes, &command::Changes::contentsWritten, this, [this](qint64 disk) {
        if (!shown_ || *shown_ == disk) scheduleRefresh();
    });
    // A disk renamed or deleted (its contents with it) shows anew.
    connect(&changes, &command::Changes::written, this, [this](const command::Tables& tables) {
        if (tables.contains(store::Table::Disks)) scheduleRefresh();
    });
    connect(&disks_, &ListQuery::currentRowChanged, this, &ContentsWindow::scheduleRefresh);
    connect(&disks_, &ListQuery::closed, this, &ContentsWindow::scheduleRefresh);
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        if (isVisible()) savePlace();
    });
    settle();
}

ContentsWindow::~ContentsWindow() = default;

void ContentsWindow::settle() {
    placeWindow(*this, windowPlace());
    settled_ = true;
}

void ContentsWindow::savePlace() const {
    if (settled_) saveWindowPlace({pos(), size()});
}

std::optional<int64_t> ContentsWindow::currentDisk() const {
    const ListQuery& disks = disks_;
    if (!disks.isOpen() || disks.currentRow() < 0) return std::nullopt;
    return disks.integer(QStringLiteral("N"));
}

void ContentsWindow::scheduleRefresh() {
    if (refreshPending_ || !isVisible()) return;
    refreshPending_ = true;
    QTimer::singleShot(0, this, [this] {
        if (refreshPending_) guarded([&] { refresh(); });
    });
}

void ContentsWindow::showNothing(const QString& why) {
    model_->show(nullptr, std::nullopt);
    ui->VolumeFacts->setText(why);
    ui->TracksList->clear();
    ui->TracksLabel->hide();
    ui->TracksList->hide();
    ui->FilesLabel->show();
    ui->FilesTree->show();
}

void ContentsWindow::refresh() {
    refreshPending_ = false;
    shown_ = currentDisk();
    if (!shown_) {
        ui->CurrentDiskLabel->setText(QStringLiteral("В списке дисков нет текущего диска."));
        showNothing(QStringLiteral("Выберите диск в главном окне, чтобы увидеть его содержимое."));
        return;
    }
    const int64_t disk = *shown_;
    ui->CurrentDiskLabel->setText(
        QStringLiteral("Диск № %1 «%2»").arg(disk).arg(disks_.text(QStringLiteral("Name"))));
    const auto db = disks_.query().databaseForRun();
    const auto volume = store::ContentsReader(*db).volume(disk);
    if (!volume) {
        showNothing(
            QStringLiteral("Содержимое этого диска ещё не прочитано. Его читает кнопка "
                           "«Прочитать содержимое...» с папки, образа или привода."));
        return;
    }
    const std::vector<store::Track> tracks = store::ContentsReader(*db).tracks(disk);
    ui->VolumeFacts->setText(volumeText(*volume, tracks));
    model_->show(db, disk);
    showTracks(tracks);
    // An audio CD has tracks and no files: the tree is left out rather than shown empty.
    const bool files = !model_->empty() || ui->TracksList->topLevelItemCount() == 0;
    ui->FilesLabel->setVisible(files);
    ui->FilesTree->setVisible(files);
}

void ContentsWindow::showEntry(const std::string& path) {
    refresh();
    const QModelIndex found = model_->indexOfPath(path);
    if (!found.isValid()) return;
    for (QModelIndex folder = found.parent(); folder.isValid(); folder = folder.parent())
        ui->FilesTree->expand(folder);
    ui->FilesTree->setCurrentIndex(found);
    ui->FilesTree->scrollTo(found);
    ui->FilesTree->setFocus(Qt::OtherFocusReason);
}

void ContentsWindow::showTracks(const std::vector<store::Track>& tracks) {
    ui->TracksList->clear();
    for (const store::Track& t : tracks) {
        auto* item = new QTreeWidgetItem(
            ui->TracksList, {QString::number(t.number), trackLength(t.sectors),
                             QString::fromUtf8(t.title), QString::fromUtf8(t.performer)});
        item->setTextAlignment(0, Qt::AlignRight | Qt::AlignVCenter);
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    }
    const bool any = ui->TracksList->topLevelItemCount() > 0;
    ui->TracksLabel->setVisible(any);
    ui->TracksList->setVisible(any);
}

void ContentsWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    scheduleRefresh();
}

void ContentsWindow::hideEvent(QHideEvent* event) {
    if (!event->spontaneous()) savePlace();
    refreshPending_ = false;
    model_->show(nullptr, std::nullopt);
    ui->TracksList->clear();
    shown_.reset();
    QWidget::hideEvent(event);
}

}  // namespace contents
