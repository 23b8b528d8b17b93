#include "tests/commands_fixture.h"

#include "app/Unit1.h"
#include "dialogs/Unit2.h"
#include "dialogs/Unit3.h"
#include "store/database.h"
#include "store/query.h"
#include "store/value.h"
#include "ui_Unit1.h"
#include "widgets/listquery.h"

CommandsFixture::CommandsFixture() {
    form1_ = std::make_unique<TForm1>();
    const MainWindowQueries mainWindow{*form1_->Query5, form1_->Query4};
    form2_ = std::make_unique<TForm2>(mainWindow);
    form3_ = std::make_unique<TForm3>(mainWindow);
    // Whatever a settings file beside the test restored: the whole disk list.
    Ui::TForm1& ui = *form1_->ui;
    ui.RadioButton1->setChecked(true);
    for (QCheckBox* box : {ui.CheckBox1, ui.CheckBox2, ui.CheckBox4}) box->setChecked(false);
}

CommandsFixture::~CommandsFixture() {
    form3_.reset();
    form2_.reset();
    form1_.reset();
}

void CommandsFixture::raw(const char* sql) {
    store::Database::defaultDatabase()->execRaw(sql);
}

QStringList CommandsFixture::rows(const QString& statement) {
    store::Query query({statement.toStdString()});
    query.open();
    return fixture::queryRows(query);
}

bool CommandsFixture::select(ListQuery& list, const QString& field, const QString& value) {
    const int row = list.findRow(field, value);
    return row >= 0 && list.setCurrentRow(row);
}

QStringList CommandsFixture::lines(const statements::Lines& lines) {
    QStringList out;
    for (const auto& line : lines) out << QString::fromStdString(line);
    return out;
}

QStringList CommandsFixture::lines(const store::Query& query) {
    QStringList out;
    for (const auto& line : query.lines()) out << QString::fromStdString(line);
    return out;
}

QString CommandsFixture::today() {
    return QString::fromStdString(store::Date::today().display());
}

ReopenSpy::ReopenSpy() {
    auto watch = [this](ListQuery* list, const QString& name) {
        connections_ << QObject::connect(list, &ListQuery::opened,
                                         [this, name] { opened << name; });
    };
    TForm1& f = *Form1;
    watch(f.Query1, "Query1");
    watch(f.Query2, "Query2");
    watch(f.Query3, "Query3");
    watch(f.Query5, "Query5");
    watch(f.Query6, "Query6");
    watch(f.Query7, "Query7");
    watch(f.Query8, "Query8");
    watch(Form2->Query1, "Form2.Query1");
    watch(Form3->Query1, "Form3.Query1");
    watch(Form3->Query2, "Form3.Query2");
}

ReopenSpy::~ReopenSpy() {
    for (const auto& c : connections_) QObject::disconnect(c);
}
