// The disk list filter of the main window.
#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <utility>

#include "app/Unit1.h"
#include "statements/diskfilter.h"
#include "ui_Unit1.h"
#include "widgets/listquery.h"
#include "widgets/lookupcombobox.h"

// Exactly one radio button is selected, so exactly one builder runs.
void TForm1::rebuildDiskList() {
    if (ui->RadioButton1->isChecked()) Query5SQLAll();
    if (ui->RadioButton2->isChecked()) Query5SQLNal();
    if (ui->RadioButton3->isChecked()) Query5SQLRuk();
}

void TForm1::CheckBox1Click() {
    rebuildDiskList();
}
void TForm1::CheckBox2Click() {
    rebuildDiskList();
}
void TForm1::CheckBox4Click() {
    rebuildDiskList();
}
void TForm1::DBLookupComboBox1Click() {
    rebuildDiskList();
}
void TForm1::DBLookupComboBox2Click() {
    rebuildDiskList();
}
void TForm1::Edit4Click() {
    rebuildDiskList();
}
void TForm1::Edit4KeyUp() {
    rebuildDiskList();
}
void TForm1::RadioButton1Click() {
    rebuildDiskList();
}
void TForm1::RadioButton2Click() {
    rebuildDiskList();
}
void TForm1::RadioButton3Click() {
    rebuildDiskList();
}

void TForm1::Query5SQLAll() {
    buildDiskList(ui->RadioButton1, diskfilter::Availability::All);
}
void TForm1::Query5SQLNal() {
    buildDiskList(ui->RadioButton2, diskfilter::Availability::Available);
}
void TForm1::Query5SQLRuk() {
    buildDiskList(ui->RadioButton3, diskfilter::Availability::Lent);
}

// Rebuilds the statement only while the builder's own radio button is selected;
// otherwise the list reopens with the statement it had.
void TForm1::buildDiskList(const QRadioButton* own, diskfilter::Availability availability) {
    Query5->rebuild([&](store::Query& sql) {
        if (!own->isChecked()) return;
        const diskfilter::Switches switches{ui->CheckBox1->isChecked(), ui->CheckBox2->isChecked(),
                                            ui->CheckBox4->isChecked()};
        diskfilter::Statement statement =
            diskfilter::build(availability, switches, ui->Edit4->text().toStdString());
        sql.setSql(std::move(statement.lines));
        sql.setReadOn(std::move(statement.readOn), std::string(diskfilter::kKeyColumn));
        sql.setNarrowed(std::move(statement.narrowed), std::move(statement.narrowedReadOn));
        for (diskfilter::Key key : statement.parameters) {
            // Each key comes from the current row of its list; the field has the
            // parameter's name (SprType.N, SprKategoy.Num).
            const ListQuery* list = key == diskfilter::Key::MediaType ? Query7 : Query8;
            const std::string_view name = diskfilter::parameterName(key);
            // An empty list stands on no entry: no disk has key 0.
            const QString field = QString::fromLatin1(name.data(), qsizetype(name.size()));
            sql.setInteger(name, list->currentRow() < 0 ? 0 : list->key(field));
        }
    });
}

// The disk list's filter as its controls show it.
QString TForm1::diskFilterText() const {
    const Ui::TForm1& ui = *this->ui;
    QStringList parts;
    const std::pair<const QRadioButton*, QString> availability[] = {
        {ui.RadioButton1, QStringLiteral("все диски")},
        {ui.RadioButton2, QStringLiteral("в наличии")},
        {ui.RadioButton3, QStringLiteral("на руках")}};
    for (const auto& [button, said] : availability)
        if (button->isChecked()) parts << said;
    const std::pair<const QCheckBox*, QString> switches[] = {
        {ui.CheckBox1, ui.DBLookupComboBox1->currentText()},
        {ui.CheckBox2, ui.DBLookupComboBox2->currentText()},
        {ui.CheckBox4, ui.Edit4->text()}};
    for (const auto& [box, value] : switches)
        if (box->isChecked())
            parts << QStringLiteral("%1 «%2»").arg(box->text().remove(QLatin1Char('&')).toLower(),
                                                   value);
    return parts.join(QStringLiteral("; "));
}
