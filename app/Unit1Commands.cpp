// The disk, lending and reference-book commands of the main window.
#include "app/Unit1.h"
#include "app/referencebooks.h"
#include "commands/commandquery.h"
#include "dialogs/Unit2.h"
#include "dialogs/Unit3.h"
#include "ui_Unit3.h"
#include "widgets/listquery.h"
#include "widgets/messages.h"

namespace {

// The current disk's name between double quotes, after the question's text.
QString aboutCurrentDisk(const ListQuery& disks, const QString& question) {
    return question + QStringLiteral(" \"") + disks.text(QStringLiteral("Name")) + QLatin1Char('"');
}

bool currentDiskIsLent(const ListQuery& disks) {
    return disks.text(QStringLiteral("Dolg")) == QLatin1String("True");
}

}  // namespace

// Take back the current disk: its flag cleared and its open loans closed today.
void TForm1::Button1Click() {
    if (!currentDiskIsLent(*Query5)) {
        messages().information(QStringLiteral("Этот диск вы не отдавали!"));
        return;
    }
    // The disk the user confirms for, whatever the list stands on once the box is gone.
    const int64_t diskKey = Query5->key(QStringLiteral("N"));
    if (!messages().confirm(
            aboutCurrentDisk(*Query5, QStringLiteral("Подтвердите, что забираете диск"))))
        return;
    // The flag and the loan rows change together or not at all.
    command::asOneUnit([&] {
        command::executeByKey(Query4, statements::setLentFlag(diskKey, false),
                              command::missingDisk());
        command::execute(Query4, statements::closeOpenLoans(), [&](store::Query& q) {
            q.setInteger("NomCD", diskKey);
            q.setDate("DatK", store::Date::today());
        });
    });
    Query5->reopen();
    Query6->reopen();
}

// Lend the current disk: the lend dialog picks the debtor and writes the loan.
void TForm1::Button2Click() {
    if (command::refuseEmpty(*Query5, command::emptyDiskList())) return;
    if (currentDiskIsLent(*Query5)) {
        messages().information(QStringLiteral("Этот диск вы уже отдали!"));
        return;
    }
    if (command::refuseEmpty(*Form2->Query1, command::emptyDebtors())) return;
    Form2->lendDisk(Query5->key(QStringLiteral("N")), Query5->text(QStringLiteral("Name")));
    Form2->ShowModal();
    Query6->reopen();
}

// Add a disk in the editor; the editor keeps the last category and media type chosen.
void TForm1::Button3Click() {
    EditMode = false;
    Form3->ui->LabeledEdit1->clear();
    Form3->ui->Memo1->clear();
    Form3->ShowModal();
}

// Delete the current disk. Its loan rows stay: they are the lending history.
void TForm1::Button4Click() {
    if (command::refuseEmpty(*Query5, command::emptyDiskList())) return;
    const int64_t diskKey = Query5->key(QStringLiteral("N"));
    if (!messages().confirm(
            aboutCurrentDisk(*Query5, QStringLiteral("Вы действительно хотите удалить диск"))))
        return;
    command::executeByKey(Query4, statements::deleteDisk(diskKey), command::missingDisk());
    Query5->reopen();
}

// Edit the current disk in the editor, its boxes on the disk's own category and
// media type.
void TForm1::Button5Click() {
    if (command::refuseEmpty(*Query5, command::emptyDiskList())) return;
    EditMode = true;
    Form3->ui->LabeledEdit1->setText(Query5->text(QStringLiteral("Name")));
    Form3->setDescription(std::string(Query5->utf8(QStringLiteral("Opisan"))));
    Form3->startOnDisk(Query5->key(QStringLiteral("N")));
    Form3->ShowModal();
}

using referencebooks::Book;

void TForm1::ButtonAddKategoryClick() {
    referencebooks::add(*this, Book::Categories);
}
void TForm1::ButtonRenameKategoryClick() {
    referencebooks::rename(*this, Book::Categories);
}
void TForm1::ButtonDeleteKategoryClick() {
    referencebooks::remove(*this, Book::Categories);
}
void TForm1::ButtonAddTypeClick() {
    referencebooks::add(*this, Book::MediaTypes);
}
void TForm1::ButtonRenameTypeClick() {
    referencebooks::rename(*this, Book::MediaTypes);
}
void TForm1::ButtonDeleteTypeClick() {
    referencebooks::remove(*this, Book::MediaTypes);
}
void TForm1::ButtonAddDolgnikClick() {
    referencebooks::add(*this, Book::Debtors);
}
void TForm1::ButtonRenameDolgnikClick() {
    referencebooks::rename(*this, Book::Debtors);
}
void TForm1::ButtonDeleteDolgnikClick() {
    referencebooks::remove(*this, Book::Debtors);
}
