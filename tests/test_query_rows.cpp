// What the query keeps of the rows it has read (all fields of a row share one
// text buffer), its column names, and parameters found once a statement built
// line by line runs.
#include <QtTest>
#include <memory>
#include <optional>
#include <string>

#include "store/database.h"
#include "store/error.h"
#include "store/query.h"
#include "tests/fixture.h"

class TestQueryRows : public QObject {
    Q_OBJECT

private:
    std::optional<fixture::TemporaryCatalogue> catalogue_;
    std::shared_ptr<store::Database> db_;

private slots:
    void initTestCase() {
        catalogue_.emplace(
            "INSERT INTO CDBase(Name, Opisan, Kategory, Tip, Dolg) VALUES "
            "('Старые записи', 'Первая строка\r\nвторая', 3, 2, 1),"
            "('', NULL, 7, 1, 0),"
            "(X'610062', 'x', 1.5, 1, 0);"  // a name with a NUL inside
            "INSERT INTO Dolg(NomCD, Dolgnik, DatN, DatK, Dolg) VALUES "
            "(1, 2, '2024-03-05', NULL, 1);"
            "INSERT INTO SprType(N, Tip) VALUES (1, 'CD-R')");
        db_ = catalogue_->open();
    }

    void valuesOfEveryKind() {
        store::Query q(
            {"select N, Name, Opisan, Kategory, Dolg from 'base\\CDBase.db'", "order by N"}, db_);
        q.open();
        q.fetchAll();
        QCOMPARE(q.fetchedRows(), 3);
        QCOMPARE(q.text(0, 1), std::string("Старые записи"));
        QCOMPARE(q.text(0, 2), std::string("Первая строка\r\nвторая"));
        QCOMPARE(q.fieldAt(0, 3).asInteger(), int64_t{3});
        QCOMPARE(q.text(0, 4), std::string("True"));
        QCOMPARE(q.text(1, 1), std::string());
        QVERIFY(!q.fieldAt(1, 1).isNull());  // empty text is a value
        QVERIFY(q.fieldAt(1, 2).isNull());
        QCOMPARE(q.text(1, 4), std::string("False"));
        QCOMPARE(q.fieldAt(2, 1).asString(), std::string("a\0b", 3));
        QCOMPARE(q.fieldAt(2, 3).asFloat(), 1.5);
        QCOMPARE(q.fieldAt(2, 0).asInteger(), int64_t{3});
        q.first();
        QCOMPARE(q.field("name").asString(), std::string("Старые записи"));
    }

    void datesAndReopen() {
        store::Query q({"select DatN, DatK from 'base\\Dolg.DB'"}, db_);
        q.open();
        QCOMPARE(q.field("DatN").asString(), std::string("05.03.2024"));
        QVERIFY(q.field("DatK").isNull());
        q.reopen();
        QCOMPARE(q.fetchedRows(), 1);
        QCOMPARE(q.text(0, 0), std::string("05.03.2024"));
    }

    // A key is read only as the whole number stored: anything else in its place is a
    // clear refusal, never text spliced into a statement or a key rounded to another.
    void keysAreWholeNumbersOnly_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("message");
        QTest::newRow("text") << "'0 OR 1=1'"
                              << "Номер текущей записи (поле N) — «0 OR 1=1», а не целое число";
        QTest::newRow("word") << "'abc'"
                              << "— «abc», а не целое число";
        QTest::newRow("floating") << "1.5"
                                  << "— «1.5», а не целое число";
        QTest::newRow("empty text") << "''"
                                    << "У текущей записи нет номера (поле N пусто)";
        QTest::newRow("no value") << "NULL"
                                  << "У текущей записи нет номера (поле N пусто)";
    }

    void keysAreWholeNumbersOnly() {
        QFETCH(QString, value);
        QFETCH(QString, message);
        store::Query q({"select " + value.toStdString() + " as N from 'base\\SprType.db'"}, db_);
        q.open();
        try {
            q.key("N");
            QFAIL("a key that is no whole number was read");
        } catch (const store::Error& e) {
            QVERIFY2(QString::fromStdString(e.what()).contains(message), e.what());
        }
    }

    void repeatedColumnNames() {
        const std::vector<std::string> expected = {"Name", "name_1", "Name_1_1", "Имя", "ИМЯ_1"};
        QCOMPARE(store::uniqueColumnNames({"Name", "name", "Name_1", "Имя", "ИМЯ"}), expected);
    }

    void parametersOfALineByLineStatement() {
        store::Query q({}, db_);
        q.addLine("select Name from 'base\\CDBase.db'");
        q.addLine("where Kategory = :Num");
        q.setFloat("num", 7);
        QCOMPARE(q.parameterNames(), std::vector<std::string>{"Num"});
        q.addLine("and Tip = :N");  // a new line forgets the values set so far
        q.setFloat("N", 1);
        QVERIFY_THROWS_EXCEPTION(store::Error, q.open());
        q.setFloat("Num", 7);
        q.open();
        QCOMPARE(q.fetchedRows(), 1);
        QCOMPARE(q.text(0, 0), std::string());
    }
};

QTEST_GUILESS_MAIN(TestQueryRows)
#include "test_query_rows.moc"
