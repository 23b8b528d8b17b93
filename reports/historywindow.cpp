#include "reports/historywindow.h"

#include <QDate>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTimer>

#include "commands/changes.h"
#include "commands/loancommands.h"
#include "reports/loanmodel.h"
#include "reports/reportsettings.h"
#include "reports/savefile.h"
#include "reports/summarycount.h"
#include "store/database.h"
#include "ui_LoanHistory.h"
#include "widgets/guarded.h"
#include "widgets/listquery.h"
#include "widgets/lookupcombobox.h"
#include "widgets/messages.h"

namespace {

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
    : ReportWindow(QStringLiteral("history"), parent),
      ui(std::make_unique<Ui::LoanHistory>()),
      disks_(disks) {
    ui->setupUi(this);
    Loans = new ListQuery(this);
    Loans->setObjectName(QStringLiteral("Loans"));
    LoansSource =
        new LoanModel(Loans,
                      {{QStringLiteral("NomCD"), QStringLiteral("№ диска"), 60},
                       {QStringLiteral("DiskName"), QStringLiteral("Наименование диска"), 250},
                       {QStringLiteral("Dolgnik"), QStringLiteral("Должник"), 160},
                       {QStringLiteral("DatN"), QStringLiteral("Выдан"), 80},
                       {QStringLiteral("DatK"), QStringLiteral("Возвращён"), 80},
                       {QStringLiteral("Days"), QStringLiteral("Дней"), 50},
                       {QStringLiteral("Overdue"), QStringLiteral("Отметка"), 90}},
                      this);
    LoansSource->bindView(ui->HistoryGrid);

    summary_ = new SummaryCount(this);
    summary_->showIn(ui->SummaryLabel, [](const loans::Summary& s) {
        return QString::fromStdString(loans::describe(s));
    });

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
    showDebtorWhenTicked();
    settle();
}

HistoryWindow::~HistoryWindow() = default;

void HistoryWindow::wireControls() {
    for (QCheckBox* box : {ui->CurrentDiskOnly, ui->DebtorOnly, ui->OpenOnly, ui->PeriodOnly})
        connect(box, &QCheckBox::toggled, this, &HistoryWindow::scheduleRefresh);
    connect(ui->DebtorOnly, &QCheckBox::toggled, this, &HistoryWindow::showDebtorWhenTicked);
    for (auto signal : {&ListQuery::opened, &ListQuery::closed})
        connect(Debtors, signal, this, &HistoryWindow::showDebtorWhenTicked);
    connect(Debtors, &ListQuery::currentRowChanged, this, &HistoryWindow::showDebtorWhenTicked);
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
                                      QStringLiteral("История выдачи"), filterText());
        });
    });
    connect(ui->CloseLoanButton, &QPushButton::clicked, this,
            [this] { guarded([&] { closeLoan(); }); });
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

// The box names a debtor only while the list is filtered by one: an unticked box showing
// the first debtor read as a filter that was not there.
void HistoryWindow::showDebtorWhenTicked() {
    const QSignalBlocker blocker(ui->DebtorBox);
    const bool shown = ui->DebtorOnly->isChecked() && Debtors->isOpen();
    ui->DebtorBox->setCurrentIndex(shown ? Debtors->currentRow() : -1);
}

void HistoryWindow::closeLoan() {
    if (!Loans->isOpen() || Loans->currentRow() < 0) {
        messages().information(QStringLiteral("В списке нет выдачи, которую можно закрыть."), this);
        return;
    }
    const int64_t disk = Loans->integer(QStringLiteral("NomCD"));
    const int64_t loan = Loans->integer(QStringLiteral("LoanKey"));
    if (!Loans->text(QStringLiteral("DatK")).isEmpty()) {
        messages().information(QStringLiteral("Эта выдача уже закрыта: диск вернули %1.")
                                   .arg(Loans->text(QStringLiteral("DatK"))),
                               this);
        return;
    }
    const bool closed = command::closeLoanOfDeletedDisk(command_, loan, disk, [&] {
        return messages().confirm(
            QStringLiteral("Диск № %1 удалён из каталога, и вернуть его нельзя. Закрыть его "
                           "выдачу (%2) сегодняшним днём?")
                .arg(disk)
                .arg(Loans->text(QStringLiteral("Dolgnik"))),
            this);
    });
    refresh();
    if (closed) emit loanClosed();
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

QString HistoryWindow::filterText() const {
    QStringList parts;
    if (ui->CurrentDiskOnly->isChecked())
        parts << QStringLiteral("диск %1").arg(ui->CurrentDiskLabel->text());
    if (ui->DebtorOnly->isChecked())
        parts << QStringLiteral("должник %1").arg(ui->DebtorBox->currentText());
    if (ui->OpenOnly->isChecked()) parts << QStringLiteral("только на руках");
    if (ui->PeriodOnly->isChecked())
        parts << QStringLiteral("выданы с %1 по %2")
                     .arg(ui->DateFrom->date().toString(QStringLiteral("dd.MM.yyyy")),
                          ui->DateTo->date().toString(QStringLiteral("dd.MM.yyyy")));
    if (parts.isEmpty()) parts << QStringLiteral("все выдачи");
    parts << QStringLiteral("просрочен — на руках дольше %1 дн.").arg(ui->OverdueDays->value());
    return parts.join(QStringLiteral("; "));
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
    // The summary scans every loan the filter lets through: it is counted on a thread of
    // its own and shown when ready, so the grid never waits for it.
    summary_->start(Loans->query().databaseForRun()->baseDir(), f, r);
}

void HistoryWindow::showEvent(QShowEvent* event) {
    ReportWindow::showEvent(event);
    showCurrentDisk();
    scheduleRefresh();
}

// A hidden window holds no rows and keeps no statement of the catalogue open.
void HistoryWindow::hideEvent(QHideEvent* event) {
    refreshPending_ = false;
    summary_->cancel();
    Loans->close();
    ReportWindow::hideEvent(event);
}
