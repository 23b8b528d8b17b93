#include "contents/filesearchwindow.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include "contents/contentssettings.h"
#include "contents/foundexport.h"
#include "reports/savefile.h"
#include "store/database.h"
#include "store/query.h"
#include "store/readmoment.h"
#include "store/statement.h"
#include "widgets/guarded.h"
#include "widgets/listquery.h"
#include "widgets/messages.h"
#include "widgets/windowplace.h"

namespace contents {
namespace {

enum Column { kName, kFolder, kSize, kDate, kDiskNumber, kDiskName, kLent, kColumns };

QString folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos
               ? QStringLiteral("/")
               : QLatin1Char('/') + QString::fromUtf8(path.data(), static_cast<qsizetype>(slash));
}

QString nameOf(const store::FoundRow& row) {
    const size_t slash = row.path.rfind('/');
    QString name =
        QString::fromUtf8(slash == std::string::npos ? row.path : row.path.substr(slash + 1));
    return row.folder ? name + QLatin1Char('/') : name;
}

QTableWidgetItem* cell(const QString& text, bool right = false) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    if (right) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

// The entries of a reference book for the narrowing boxes, "Все" first.
void fillBox(QComboBox* box, const store::Database& db, const std::string& sql) {
    box->addItem(QStringLiteral("Все"));
    store::Statement s(db, sql);
    while (s.step())
        box->addItem(QString::fromUtf8(s.columnText(1).data(),
                                       static_cast<qsizetype>(s.columnText(1).size())),
                     QVariant::fromValue<qint64>(s.columnInt64(0)));
}

// The export of every match of q, on the worker's own read-only connection, its count
// and rows of one moment of the catalogue.
reports::ExportWork exportWork(const std::filesystem::path& baseDir, const store::FileQuery& q) {
    return
        [baseDir, q](reports::Format format, std::ostream& out, const reports::WorkerHooks& hooks) {
            const auto db = store::Database::openForReading(baseDir);
            const store::ReadMoment moment(*db, hooks.waitForCatalogue);
            return exportFound(*db, q, format, out, hooks.progress, hooks.stopped);
        };
}

}  // namespace

FileSearchWindow::FileSearchWindow(ListQuery& disks, std::function<void()> clearFilter,
                                   std::function<void(const std::string& path)> showContents,
                                   QWidget* parent)
    : QWidget(parent, Qt::Window),
      disks_(disks),
      clearFilter_(std::move(clearFilter)),
      showContents_(std::move(showContents)) {
    setObjectName(QStringLiteral("FileSearchWindow"));
    setWindowTitle(QStringLiteral("Найти файл"));
    auto* form = new QFormLayout;
    fragment_ = new QLineEdit(this);
    fragment_->setObjectName(QStringLiteral("FragmentEdit"));
    fragment_->setAccessibleName(QStringLiteral("Часть имени файла или папки"));
    form->addRow(QStringLiteral("&Имя содержит:"), fragment_);
    auto* hint = new QLabel(QStringLiteral("Регистр букв не важен; ё и е различаются; % и _ — "
                                           "обычные знаки, не шаблоны."),
                            this);
    hint->setObjectName(QStringLiteral("HintLabel"));
    hint->setWordWrap(true);
    form->addRow(QString(), hint);
    category_ = new QComboBox(this);
    category_->setObjectName(QStringLiteral("CategoryBox"));
    form->addRow(QStringLiteral("&Категория:"), category_);
    mediaType_ = new QComboBox(this);
    mediaType_->setObjectName(QStringLiteral("MediaTypeBox"));
    form->addRow(QStringLiteral("&Носитель:"), mediaType_);
    minimumSize_ = new QSpinBox(this);
    minimumSize_->setObjectName(QStringLiteral("MinimumSizeBox"));
    minimumSize_->setRange(0, 1000000);
    minimumSize_->setSuffix(QStringLiteral(" МБ"));
    minimumSize_->setSpecialValueText(QStringLiteral("любой"));
    form->addRow(QStringLiteral("Размер не &меньше:"), minimumSize_);
    table_ = new QTableWidget(0, kColumns, this);
    table_->setObjectName(QStringLiteral("FoundTable"));
    table_->setAccessibleName(QStringLiteral("Найденные файлы"));
    table_->setHorizontalHeaderLabels({QStringLiteral("Имя"), QStringLiteral("Папка"),
                                       QStringLiteral("Размер"), QStringLiteral("Изменён"),
                                       QStringLiteral("Диск №"), QStringLiteral("Диск"),
                                       QStringLiteral("На руках")});
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setTabKeyNavigation(false);
    table_->verticalHeader()->hide();
    table_->setWordWrap(false);  // one line a row: a screen holds more of them
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    // The names take the room: the file's, its folder's and its disk's are the long ones.
    QHeaderView* header = table_->horizontalHeader();
    const int em = table_->fontMetrics().averageCharWidth();
    header->resizeSection(kName, 24 * em);
    header->resizeSection(kFolder, 24 * em);
    header->resizeSection(kSize, 13 * em);
    header->resizeSection(kDate, 17 * em);
    header->resizeSection(kDiskNumber, 8 * em);
    header->resizeSection(kLent, 16 * em);
    header->setSectionResizeMode(kDiskName, QHeaderView::Stretch);
    count_ = new QLabel(this);
    count_->setObjectName(QStringLiteral("CountLabel"));
    save_ = new QPushButton(QStringLiteral("&Сохранить..."), this);
    save_->setObjectName(QStringLiteral("SaveButton"));
    save_->setAccessibleName(QStringLiteral("Сохранить..."));
    save_->setEnabled(false);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(count_, 1);
    bottom->addWidget(save_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(table_, 1);
    layout->addLayout(bottom);
    resize(900, 520);
    placeWindow(*this, windowPlace(Window::FindFile));

    guarded([&] { fillNarrowing(); });
    const auto db = disks_.query().databaseForRun();
    QPointer<FileSearchWindow> self(this);
    runner_ = std::make_unique<store::FileSearchRunner>(
        db->baseDir(), store::FileSearchRunner::Callbacks{
                           [self](uint64_t query, std::vector<store::FoundRow> rows) {
                               QMetaObject::invokeMethod(self,
                                                         [self, query, rows = std::move(rows)] {
                                                             if (self) self->showRows(query, rows);
                                                         });
                           },
                           [self](uint64_t query, int64_t matches) {
                               QMetaObject::invokeMethod(self, [self, query, matches] {
                                   if (self) self->showCount(query, matches);
                               });
                           },
                           [self](uint64_t query, std::string message) {
                               QMetaObject::invokeMethod(self, [self, query, message] {
                                   if (self && query == self->query_)
                                       self->count_->setText(QStringLiteral("Поиск не удался: ") +
                                                             QString::fromStdString(message));
                               });
                           }});
    connect(fragment_, &QLineEdit::textChanged, this, [this] { search(); });
    connect(category_, &QComboBox::currentIndexChanged, this, [this] { search(); });
    connect(mediaType_, &QComboBox::currentIndexChanged, this, [this] { search(); });
    connect(minimumSize_, &QSpinBox::valueChanged, this, [this] { search(); });
    connect(save_, &QPushButton::clicked, this, [this] {
        guarded([&] {
            const auto baseDir = disks_.query().databaseForRun()->baseDir();
            reports::exportOnWorkerWithDialog(
                this, baseDir, exportWork(baseDir, query()),
                QStringLiteral("Сохранить найденные файлы: %1").arg(fragment_->text()),
                QStringLiteral("Найденные файлы"));
        });
    });
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        if (isVisible()) savePlace();
    });
    connect(table_, &QTableWidget::cellActivated, this,
            [this](int row, int) { guarded([&] { openRow(row); }); });
    connect(fragment_, &QLineEdit::returnPressed, this, [this] {
        if (table_->rowCount() > 0) guarded([&] { openRow(std::max(0, table_->currentRow())); });
    });
}

FileSearchWindow::~FileSearchWindow() = default;

void FileSearchWindow::fillNarrowing() {
    const auto db = disks_.query().databaseForRun();
    fillBox(category_, *db,
            "SELECT Num, Name FROM sprkategoy_db.\"SprKategoy\" ORDER BY Name COLLATE RUSSIAN");
    fillBox(mediaType_, *db,
            "SELECT N, Tip FROM sprtype_db.\"SprType\" ORDER BY Tip COLLATE RUSSIAN");
}

store::FileQuery FileSearchWindow::query() const {
    store::FileQuery q;
    q.fragment = fragment_->text().toStdString();
    if (category_->currentIndex() > 0) q.category = category_->currentData().toLongLong();
    if (mediaType_->currentIndex() > 0) q.mediaType = mediaType_->currentData().toLongLong();
    q.minimumSize = static_cast<int64_t>(minimumSize_->value()) * 1024 * 1024;
    return q;
}

void FileSearchWindow::search() {
    store::FileQuery q = query();
    save_->setEnabled(!q.fragment.empty());
    table_->setRowCount(0);
    rows_.clear();
    const bool empty = q.fragment.empty();
    count_->setText(empty ? QString() : QStringLiteral("Поиск..."));
    // An emptied box still stops the running search: an empty fragment finds nothing.
    query_ = runner_->search(std::move(q));
    if (empty) query_ = 0;
}

void FileSearchWindow::showRows(uint64_t query, const std::vector<store::FoundRow>& rows) {
    if (query != query_) return;
    const QLocale russian(QLocale::Russian);
    table_->setUpdatesEnabled(false);
    int at = table_->rowCount();
    // One insertion for the lot: a row at a time has the view and its header catch up each time.
    table_->setRowCount(at + static_cast<int>(rows.size()));
    for (const auto& r : rows) {
        table_->setItem(at, kName, cell(nameOf(r)));
        table_->setItem(at, kFolder, cell(folderOf(r.path)));
        table_->setItem(
            at, kSize,
            cell(r.size ? russian.toString(static_cast<qlonglong>(*r.size)) : QString(), true));
        table_->setItem(at, kDate,
                        cell(r.modified ? QDateTime::fromSecsSinceEpoch(*r.modified)
                                              .toString(QStringLiteral("dd.MM.yyyy hh:mm"))
                                        : QString()));
        table_->setItem(at, kDiskNumber, cell(QString::number(r.disk), true));
        table_->setItem(at, kDiskName, cell(QString::fromStdString(r.diskName)));
        table_->setItem(at, kLent,
                        cell(r.lent ? QString::fromStdString(r.lentTo) : QStringLiteral("нет")));
        rows_.push_back(r);
        ++at;
    }
    table_->setUpdatesEnabled(true);
    if (table_->currentRow() < 0 && table_->rowCount() > 0) table_->selectRow(0);
}

void FileSearchWindow::showCount(uint64_t query, int64_t matches) {
    if (query != query_) return;
    const QLocale russian(QLocale::Russian);
    QString text =
        QStringLiteral("Найдено: %1").arg(russian.toString(static_cast<qlonglong>(matches)));
    if (matches > table_->rowCount())
        text += QStringLiteral(", показаны первые %1").arg(russian.toString(table_->rowCount()));
    count_->setText(text);
}

void FileSearchWindow::openRow(int row) {
    if (row < 0 || row >= static_cast<int>(rows_.size())) return;
    const store::FoundRow& r = rows_[static_cast<size_t>(row)];
    if (!disks_.standOnKey(r.disk)) {
        if (!messages().confirm(QStringLiteral("Диск № %1 «%2» скрыт фильтром главного окна. Снять "
                                               "фильтр и показать его?")
                                    .arg(r.disk)
                                    .arg(QString::fromStdString(r.diskName)),
                                this))
            return;
        clearFilter_();
        if (!disks_.standOnKey(r.disk)) return;
    }
    showContents_(r.path);
}

bool FileSearchWindow::saveFound(const QString& path) {
    const auto baseDir = disks_.query().databaseForRun()->baseDir();
    return reports::exportOnWorker(this, baseDir, exportWork(baseDir, query()), path);
}

void FileSearchWindow::savePlace() const {
    saveWindowPlace({pos(), size()}, Window::FindFile);
}

void FileSearchWindow::hideEvent(QHideEvent* event) {
    if (!event->spontaneous()) savePlace();
    QWidget::hideEvent(event);
}

}  // namespace contents
