#include "reports/historywindow.h"

#include <QDate>
#include <QShortcut>
#include <QTimer>

#include "commands/changes.h"
#include "reports/loanmodel.h"
#include "reports/reportsettings.h"
#include "reports/savefile.h"
#include "ui_LoanHistory.h"
#include "widgets/guarded.h"
#include "widgets/listquery.h"
#include "widgets/lookupcombobox.h"

namespace {

// How soon a summary the catalogue's writers kept out is tried again.
constexpr int kRetryMs = 250;

store::Date fromQDate(const QDate& d) {
    return {d.year(), d.month(), d.day()};
}

QStringList qtLines(const std::vector<std::string>& lines) {
    QStringList out;
    for (const auto& l : lines) out << QString::fromStdString(l);
    return out;
}

}  // namespace

HistoryWindow::HistoryWindow(ListQuery& disks, QWidget* parent)
    : QWidget(parent, Qt::Window), ui(std::make_unique<Ui::LoanHistory>()), disks_(disks) {
    ui->setupUi(this);
    Loans = new ListQuery(this);
    Loans->setObjectName(QStringLiteral("Loans"));
    LoansSource =
        new LoanModel(Loans,
                      {{QStringLiteral("Overdue"), QStringLiteral("Просрочка"), 75},
                       {QStringLiteral("NomCD"), QStringLiteral("№ диска"), 60},
                       {QStringLiteral("DiskName"), QStringLiteral("Наименование диска"), 250},
                       {QStringLiteral("Dolgnik"), QStringLiteral("Должник"), 160},
                       {QStringLiteral("DatN"), QStringLiteral("Выдан"), 80},
                       {QStringLiteral("DatK"), QStringLiteral("Возвращён"), 80},
                       {QStringLiteral("Days"), QStringLiteral("Дней"), 50}},
                      this);
    LoansSource->bindView(ui->HistoryGrid);

    Debtors = new ListQuery(this);
    Debtors->setObjectName(QStringLiteral("Debtors"));
    Debtors->setLines({QStringLiteral("Select N, Dolgnik from 'base\\SprDolgnik.db'"),
                       QStringLiteral("order by Dolgnik")});
    Debtors->setFetchAll(true);
    ui->DebtorBox->bind(Debtors, QStringLiteral("Dolgnik"));
    guarded([&] { Debtors->open(); });

    const QDate today = QDate::currentDate();
    ui->DateFrom->setDate(QDate(today.year(), 1, 1));
    ui->DateTo->setDate(today);
    ui->OverdueDays->setValue(reports::overdueDays());
    wireControls();
    followMainWindow();
    showCurrentDisk();
}

HistoryWindow::~HistoryWindow() = default;

void HistoryWindow::wireControls() {
    for (QCheckBox* box : {ui->CurrentDiskOnly, ui->DebtorOnly, ui->OpenOnly, ui->PeriodOnly})
        connect(box, &QCheckBox::toggled, this, &HistoryWindow::scheduleRefresh);
    // Choosing a debtor means filtering by them.
    connect(ui->DebtorBox, &LookupComboBox::clicked, this, [this] {
        if (ui->DebtorOnly->isChecked())
            scheduleRefresh();
        else
            ui->DebtorOnly->setChecked(true);
    });
    for (QDateEdit* edit : {ui->DateFrom, ui->DateTo})
        connect(edit, &QDateEdit::dateChanged, this, [this] {
            if (ui->PeriodOnly->isChecked()) scheduleRefresh();
        });
    connect(ui->OverdueDays, &QSpinBox::valueChanged, this, [this](int days) {
        reports::saveOverdueDays(days);
        scheduleRefresh();
        emit overdueDaysChanged(days);
    });
    connect(ui->ExportButton, &QPushButton::clicked, this, [this] {
        guarded([&] {
            if (!Loans->isOpen()) refresh();
            reports::exportWithDialog(this, Loans->query(), reports::loanExport(),
                                      QStringLiteral("История выдачи"));
        });
    });
    connect(ui->CloseButton, &QPushButton::clicked, this, &QWidget::close);
    new QShortcut(QKeySequence::Cancel, this, this, &QWidget::close);  // Escape closes
}

// The rows show loans, disk names and debtor names: a committed write of any of them,
// from whichever window, is read anew.
void HistoryWindow::followMainWindow() {
    connect(&command::Changes::instance(), &command::Changes::written, this,
            [this](const command::Tables& tables) {
                if (tables.contains(store::Table::Debtors)) guarded([&] { Debtors->reopen(); });
                if (changesLoanRows(tables)) scheduleRefresh();
            });
    auto diskMoved = [this] {
        showCurrentDisk();
        if (ui->CurrentDiskOnly->isChecked()) scheduleRefresh();
    };
    connect(&disks_, &ListQuery::currentRowChanged, this, diskMoved);
    connect(&disks_, &ListQuery::closed, this, diskMoved);
}

std::optional<int64_t> HistoryWindow::currentDisk() const {
    const ListQuery& disks = disks_;
    if (!disks.isOpen() || disks.currentRow() < 0) return std::nullopt;
    return disks.integer(QStringLiteral("N"));
}

void HistoryWindow::showCurrentDisk() {
    guarded([&] {
        const auto disk = currentDisk();
        ui->CurrentDiskLabel->setText(
            disk ? QStringLiteral("№ %1 «%2»").arg(*disk).arg(disks_.text(QStringLiteral("Name")))
                 : QStringLiteral("(в списке дисков нет текущего диска)"));
    });
}

loans::Filter HistoryWindow::filter() const {
    loans::Filter f;
    if (ui->CurrentDiskOnly->isChecked()) f.disk = currentDisk().value_or(-1);  // none: no rows
    if (ui->DebtorOnly->isChecked())
        f.debtor = Debtors->isOpen() && Debtors->currentRow() >= 0
                       ? Debtors->integer(QStringLiteral("N"))
                       : -1;
    f.openOnly = ui->OpenOnly->isChecked();
    if (ui->PeriodOnly->isChecked()) {
        f.from = fromQDate(ui->DateFrom->date());
        f.to = fromQDate(ui->DateTo->date());
    }
    return f;
}

loans::Reckoning HistoryWindow::reckoning() const {
    return {today_.value_or(store::Date::today()), ui->OverdueDays->value()};
}

void HistoryWindow::scheduleRefresh() {
    if (refreshPending_ || !isVisible()) return;
    refreshPending_ = true;
    QTimer::singleShot(0, this, [this] {
        if (refreshPending_) guarded([&] { refresh(); });
    });
}

void HistoryWindow::refresh() {
    refreshPending_ = false;
    const loans::Filter f = filter();
    const loans::Reckoning r = reckoning();
    Loans->setLines(qtLines(loans::historyLines(f)));
    loans::bind(Loans->query(), f, r);
    Loans->open();
    // The summary scans every loan the filter lets through: it follows once the grid's
    // first screen is up, so the list never waits for it.
    ui->SummaryLabel->setText(QStringLiteral("Подсчёт..."));
    const int current = ++refreshes_;
    QTimer::singleShot(0, this,
                       [this, f, r, current] { guarded([&] { showSummary(f, r, current); }); });
}

// Another program that keeps the loans busy only delays the summary: it is tried again
// a moment later, for as long as the window shows the same list.
void HistoryWindow::showSummary(const loans::Filter& f, const loans::Reckoning& r, int refresh) {
    if (!Loans->isOpen() || refresh != refreshes_) return;  // hidden or rebuilt meanwhile
    store::Query summary(loans::summaryLines(f));
    loans::bind(summary, f, r);
    try {
        ui->SummaryLabel->setText(
            QString::fromStdString(loans::describe(loans::readSummary(summary))));
    } catch (const store::Error& e) {
        if (e.kind() != store::Error::Kind::Locked) throw;
        ui->SummaryLabel->setText(QStringLiteral("Каталог занят другой программой, ждём…"));
        QTimer::singleShot(kRetryMs, this,
                           [this, f, r, refresh] { guarded([&] { showSummary(f, r, refresh); }); });
    }
}

void HistoryWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    showCurrentDisk();
    scheduleRefresh();
}

// A hidden window holds no rows and keeps no statement of the catalogue open.
void HistoryWindow::hideEvent(QHideEvent* event) {
    refreshPending_ = false;
    Loans->close();
    QWidget::hideEvent(event);
}
