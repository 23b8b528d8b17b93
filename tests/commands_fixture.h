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

// The fixture catalogue (fixture.h names its rows) in a temporary folder made the
// working directory, with the program's three windows over it.
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
    fixture::FixtureCatalogue catalogue_;
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
