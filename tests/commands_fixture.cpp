#include "tests/commands_fixture.h"

#include "app/Unit1.h"
#include "dialogs/Unit2.h"
#include "dialogs/Unit3.h"
#include "store/database.h"
#include "store/query.h"
#include "store/value.h"
#include "ui_Unit1.h"
#include "widgets/listquery.h"

namespace {

// The rows of the header comment, in SQLite's own SQL.
constexpr const char* kCatalogue = R"sql(
INSERT INTO SprKategoy(Num, Name) VALUES
  (1, 'Фильмы'), (2, 'Музыка'), (3, 'Игры'), (4, 'Документы');
INSERT INTO SprType(N, Tip) VALUES (1, 'CD-R'), (2, 'DVD-R'), (3, 'Blu-ray');
INSERT INTO SprDolgnik(N, Dolgnik) VALUES
  (1, 'Петров Пётр'), (2, 'Иванов Иван'), (3, 'Сидоров Сидор');
INSERT INTO CDBase(N, Name, Opisan, Kategory, Tip, Dolg) VALUES
  (1, 'Матрица', 'Фильм о выборе', 1, 2, 1),
  (2, 'Битлз', 'Лучшие песни' || char(13, 10) || 'Два диска', 2, 1, 0),
  (3, 'Тетрис', '', 3, 1, 0);
INSERT INTO Dolg(NomCD, Dolgnik, DatN, DatK, Dolg) VALUES
  (1, 1, '2024-03-01', NULL, 1), (2, 2, '2024-01-10', '2024-01-20', 0);
)sql";

}  // namespace

CommandsFixture::CommandsFixture() : catalogue_(kCatalogue) {
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
