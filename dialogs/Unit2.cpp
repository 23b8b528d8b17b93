#include "dialogs/Unit2.h"

#include <QLabel>

#include "commands/commandquery.h"
#include "dialogs/dialogwindow.h"
#include "resources/layoutqueries.h"
#include "ui_Unit2.h"
#include "widgets/listquery.h"

TForm2* Form2 = nullptr;

TForm2::TForm2(MainWindowQueries mainWindow, QWidget* parent)
    : ButtonClosedDialog(parent), ui(std::make_unique<Ui::TForm2>()), mainWindow_(mainWindow) {
    Form2 = this;
    initResources();
    ui->setupUi(this);
    setFixedDialogWindow(*this, {185, 124});
    Query1 = createLayoutListQuery(QStringLiteral("Unit2"), QStringLiteral("Query1"), this);
    ui->DBLookupComboBox1->bind(Query1, QStringLiteral("Dolgnik"));
    Query1->open();
    onClick(this, ui->BitBtn1, &TForm2::Button1Click);
    onClick(this, ui->BitBtn2, &TForm2::Button2Click);
    FormCreate();
}

TForm2::~TForm2() {
    if (Form2 == this) Form2 = nullptr;
}

void TForm2::FormCreate() {
    Query1->open();
}

void TForm2::lendDisk(int64_t diskKey, const QString& name) {
    disk_ = diskKey;
    const QString line = QStringLiteral("Диск № %1: %2").arg(QString::number(diskKey), name);
    QLabel& label = *ui->LabelDisk;
    label.setText(label.fontMetrics().elidedText(line, Qt::ElideRight, label.width()));
    label.setToolTip(line);
}

void TForm2::Button1Click() {
    ListQuery& disks = mainWindow_.disks;
    if (!disk_ && command::refuseEmpty(disks, command::emptyDiskList())) return;
    if (command::refuseEmpty(*Query1, command::emptyDebtors())) return;
    const int64_t diskKey = disk_ ? *disk_ : disks.key(QStringLiteral("N"));
    const int64_t debtor = Query1->key(QStringLiteral("N"));
    closingIfRecordGone(*this, [&] { writeLoan(diskKey, debtor); });
    disks.reopen();
    done(QDialog::Accepted);
}

// The flag and the loan row change together or not at all.
void TForm2::writeLoan(int64_t diskKey, int64_t debtor) {
    command::asOneUnit([&] {
        command::executeByKey(mainWindow_.command, statements::setLentFlag(diskKey, true),
                              command::missingDisk());
        command::execute(mainWindow_.command, statements::openLoan(), [&](store::Query& q) {
            q.setInteger("NomCD", diskKey);
            q.setInteger("Dolgnik", debtor);
            q.setDate("DatN", store::Date::today());
        });
    });
}

void TForm2::Button2Click() {
    done(QDialog::Rejected);
}

void TForm2::done(int result) {
    disk_.reset();
    ui->LabelDisk->clear();
    QDialog::done(result);
}
