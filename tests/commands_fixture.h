#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

#include "statements/commands.h"
#include "tests/gui_fixture.h"

class TForm1;
class TForm2;
class TForm3;
class ListQuery;
namespace store {
class Query;
}

// A small catalogue whose rows the tests name, in a temporary folder made the
// working directory, with the program's three windows over it.
//
// Categories (Num Name):  1 Фильмы, 2 Музыка, 3 Игры, 4 Документы (no disk)
// Media types (N Tip):    1 CD-R, 2 DVD-R, 3 Blu-ray (no disk)
// Debtors (N Dolgnik):    1 Петров Пётр (lent Матрица), 2 Иванов Иван (returned
//                         Битлз), 3 Сидоров Сидор (never borrowed)
// Disks (N Name Kategory Tip Dolg):
//                         1 Матрица 1 2 True, 2 Битлз 2 1 False, 3 Тетрис 3 1 False
// Loans (NomCD Dolgnik DatN DatK Dolg):
//                         1 1 2024-03-01 - True, 2 2 2024-01-10 2024-01-20 False
class CommandsFixture {
public:
    CommandsFixture();
    ~CommandsFixture();
    CommandsFixture(const CommandsFixture&) = delete;
    CommandsFixture& operator=(const CommandsFixture&) = delete;

    TForm1& form1() { return *form1_; }
    RecordingMessages boxes;

    // Runs SQLite's own SQL on the catalogue (table names main.CDBase,
    // dolg_db.Dolg, sprkategoy_db.SprKategoy, sprtype_db.SprType,
    // sprdolgnik_db.SprDolgnik).
    static void raw(const char* sql);
    // The rows of a statement of the program's dialect, fields joined by "|".
    static QStringList rows(const QString& statement);
    // Makes the first row whose field reads value current; fails the test if none.
    static bool select(ListQuery& list, const QString& field, const QString& value);
    // The statement lines a query holds.
    static QStringList lines(const store::Query& query);
    static QStringList lines(const statements::Lines& lines);
    // Today as the catalogue shows a date.
    static QString today();

private:
    fixture::TemporaryCatalogue catalogue_;
    fixture::ScopedWorkingDirectory workingDirectory_{catalogue_.root()};
    std::unique_ptr<TForm1> form1_;
    std::unique_ptr<TForm2> form2_;
    std::unique_ptr<TForm3> form3_;
};

// Records, in order, which list queries of the windows open: "Query1" to "Query8"
// of the main window, "Form2.Query1", "Form3.Query1", "Form3.Query2".
class ReopenSpy {
public:
    ReopenSpy();
    ~ReopenSpy();
    QStringList opened;

private:
    QList<QMetaObject::Connection> connections_;
};
