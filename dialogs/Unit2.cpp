#include "Unit2.h"

#include "Unit1.h"
#include "commandquery.h"
#include "dialogwindow.h"
#include "layoutqueries.h"
#include "listquery.h"
#include "ui_Unit2.h"

TForm2* Form2 = nullptr;

TForm2::TForm2(QWidget* parent) : ButtonClosedDialog(parent), ui(std::make_unique<Ui::TForm2>()) {
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

void TForm2::Button1Click() {
    ListQuery& disks = *Form1->Query5;
    if (command::refuseEmpty(disks, command::emptyDiskList())) return;
    if (command::refuseEmpty(*Query1, command::emptyDebtors())) return;
    const int64_t diskKey = disks.key(QStringLiteral("N"));
    const int64_t debtor = Query1->key(QStringLiteral("N"));
    // The flag and the loan row change together or not at all.
    command::asOneUnit([&] {
        command::executeByKey(Form1->Query4, statements::setLentFlag(diskKey, true),
                              command::missingDisk());
        command::execute(Form1->Query4, statements::openLoan(), [&](store::Query& q) {
            q.setInteger("NomCD", diskKey);
            q.setInteger("Dolgnik", debtor);
            q.setDate("DatN", store::Date::today());
        });
    });
    disks.reopen();
    done(QDialog::Accepted);
}

void TForm2::Button2Click() {
    done(QDialog::Rejected);
}
