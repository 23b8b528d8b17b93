// The disk list filter's 24 statements: their exact text, and the disks each returns
// from a real catalogue.
#include <QTest>
#include <set>

#include "statements/diskfilter.h"
#include "store/database.h"
#include "store/query.h"
#include "tests/fixture.h"

using diskfilter::Availability;
using diskfilter::Key;
using diskfilter::Switches;

Q_DECLARE_METATYPE(Availability)

namespace {

const std::vector<std::string> kJoins = {
    "FROM \"base\\CDBase.DB\" Cdbase",        "INNER JOIN \"base\\SprKategoy.db\" Sprkategoy",
    "ON  (Cdbase.Kategory = Sprkategoy.Num)", "INNER JOIN \"base\\SprType.db\" Sprtype",
    "ON  (Cdbase.Tip = Sprtype.N)",
};
// The select lines: the list's six columns, then the keys the condition compares.
const std::string kS0 =
    "SELECT Cdbase.Name, Cdbase.N, Cdbase.Opisan, Cdbase.Dolg, Sprkategoy.Name, Sprtype.Tip";
const std::string kS1 = kS0 + ", SprKategoy.Num";
const std::string kS2 = kS0 + ", SprType.N";
const std::string kS3 = kS0 + ", SprKategoy.Num, SprType.N";

// Variant number to its switches, as diskfilter::variant numbers them.
Switches switchesOf(int variant) {
    static const Switches table[8] = {
        {false, false, false}, {true, false, false}, {false, true, false}, {false, false, true},
        {true, true, true},    {true, true, false},  {true, false, true},  {false, true, true}};
    return table[variant - 1];
}

const char* availabilityName(Availability a) {
    return a == Availability::All ? "all" : a == Availability::Available ? "available" : "lent";
}

std::set<int> run(const std::shared_ptr<store::Database>& db, Availability availability,
                  const Switches& switches, const std::string& fragment, double categoryKey,
                  double mediaKey) {
    const auto statement = diskfilter::build(availability, switches, fragment);
    store::Query query(statement.lines, db);
    for (Key key : statement.parameters)
        query.setFloat(diskfilter::parameterName(key),
                       key == Key::Category ? categoryKey : mediaKey);
    query.open();
    query.fetchAll();
    std::set<int> found;
    const int n = query.columnIndex("N");
    for (int row = 0; row < query.fetchedRows(); ++row)
        found.insert(int(query.fieldAt(row, n).asInteger()));
    return found;
}

// What the statement must return, worked out from the fixture's rows directly.
std::set<int> expected(Availability availability, const Switches& switches, const QString& fragment,
                       int categoryKey, int mediaKey) {
    std::set<int> out;
    for (const auto& d : fixture::disks()) {
        const bool joined =
            fixture::categoryExists(d.category) && fixture::mediaTypeExists(d.mediaType);
        if (!joined) continue;
        if (switches.category && d.category != categoryKey) continue;
        if (switches.mediaType && d.mediaType != mediaKey) continue;
        if (switches.name && !d.name.contains(fragment, Qt::CaseInsensitive)) continue;
        if (availability == Availability::Available && d.lent) continue;
        if (availability == Availability::Lent && !d.lent) continue;
        out.insert(d.n);
    }
    return out;
}

}  // namespace

class TestDiskFilter : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        fixture_ = std::make_unique<fixture::FixtureCatalogue>();
        db_ = fixture_->open();
    }
    void cleanupTestCase() {
        db_.reset();
        fixture_.reset();
    }
    void statementText_data();
    void statementText();
    void variantReturnsItsDisks_data();
    void variantReturnsItsDisks();
    void quoteInFragmentMatchesQuote();
    void wildcardsStayWildcards();

private:
    std::unique_ptr<fixture::FixtureCatalogue> fixture_;
    std::shared_ptr<store::Database> db_;
};

void TestDiskFilter::statementText_data() {
    QTest::addColumn<Availability>("availability");
    QTest::addColumn<int>("variant");
    QTest::addColumn<QString>("select");
    QTest::addColumn<QString>("condition");  // empty: no condition line
    QTest::addColumn<QString>("parameters");

    struct Row {
        int variant;
        const std::string& select;
        const char* params;
        const char* all;
        const char* available;
        const char* lent;
    };
    const Row rows[] = {
        {1, kS0, "", "", "Where (Cdbase.Dolg = False)", "Where (Cdbase.Dolg = True)"},
        {2, kS1, "Num", "Where SprKategoy.Num = :Num",
         "Where (SprKategoy.Num = :Num) and (Cdbase.Dolg = False)",
         "Where (SprKategoy.Num = :Num) and (Cdbase.Dolg = True)"},
        {3, kS2, "N", "Where SprType.N = :N", "Where (SprType.N = :N) and (Cdbase.Dolg = False)",
         "Where (SprType.N = :N) and (Cdbase.Dolg = True)"},
        {4, kS0, "", "Where CDBase.Name like '%abc%'",
         "Where (CDBase.Name like '%abc%') and (Cdbase.Dolg = False)",
         "Where (CDBase.Name like '%abc%') and (Cdbase.Dolg = True)"},
        {5, kS3, "N,Num",
         "Where (SprKategoy.Num = :Num) and (SprType.N = :N) and (CDBase.Name like '%abc%')",
         "Where (SprKategoy.Num = :Num) and (SprType.N = :N) and (CDBase.Name like '%abc%') and "
         "(Cdbase.Dolg = False)",
         "Where (SprKategoy.Num = :Num) and (SprType.N = :N) and (CDBase.Name like '%abc%') and "
         "(Cdbase.Dolg = True)"},
        {6, kS3, "N,Num", "Where (SprKategoy.Num = :Num) and (SprType.N = :N)",
         "Where (SprKategoy.Num = :Num) and (SprType.N = :N) and (Cdbase.Dolg = False)",
         "Where (SprKategoy.Num = :Num) and (SprType.N = :N) and (Cdbase.Dolg = True)"},
        {7, kS3, "Num", "Where (SprKategoy.Num = :Num) and (CDBase.Name like '%abc%')",
         "Where (SprKategoy.Num = :Num) and (CDBase.Name like '%abc%') and (Cdbase.Dolg = False)",
         "Where (SprKategoy.Num = :Num) and (CDBase.Name like '%abc%') and (Cdbase.Dolg = True)"},
        {8, kS3, "N", "Where (SprType.N = :N) and (CDBase.Name like '%abc%')",
         "Where (SprType.N = :N) and (CDBase.Name like '%abc%') and (Cdbase.Dolg = False)",
         "Where (SprType.N = :N) and (CDBase.Name like '%abc%') and (Cdbase.Dolg = True)"},
    };
    for (const Row& r : rows) {
        const std::pair<Availability, const char*> columns[] = {
            {Availability::All, r.all},
            {Availability::Available, r.available},
            {Availability::Lent, r.lent}};
        for (const auto& [availability, condition] : columns)
            QTest::addRow("%s %d", availabilityName(availability), r.variant)
                << availability << r.variant << QString::fromStdString(r.select)
                << QString::fromUtf8(condition) << QString::fromLatin1(r.params);
    }
}

void TestDiskFilter::statementText() {
    QFETCH(Availability, availability);
    QFETCH(int, variant);
    QFETCH(QString, select);
    QFETCH(QString, condition);
    QFETCH(QString, parameters);

    const Switches switches = switchesOf(variant);
    QCOMPARE(diskfilter::variant(switches), variant);
    const auto statement = diskfilter::build(availability, switches, "abc");

    std::vector<std::string> lines{select.toStdString()};
    lines.insert(lines.end(), kJoins.begin(), kJoins.end());
    if (!condition.isEmpty()) lines.push_back(condition.toStdString());
    QCOMPARE(statement.lines, lines);

    QStringList names;
    for (Key key : statement.parameters)
        names << QString::fromLatin1(diskfilter::parameterName(key).data(),
                                     qsizetype(diskfilter::parameterName(key).size()));
    QCOMPARE(names.join(QLatin1Char(',')), parameters);

    // With a fragment the same rows come through the candidates call, its arguments
    // what the condition requires; the joins keep their order.
    if (!switches.name) {
        QVERIFY(statement.narrowed.empty());
        return;
    }
    const QString category = parameters.contains(QLatin1String("Num")) ? ":Num" : "''";
    const QString media =
        parameters.split(QLatin1Char(',')).contains(QLatin1String("N")) ? ":N" : "''";
    const char* lent[] = {"''", "False", "True"};
    const QString call =
        QStringLiteral("FROM korvalen_disk_candidates('%abc%', %1, %2, %3) Candidates")
            .arg(category, media, QLatin1String(lent[int(availability)]));
    std::vector<std::string> narrowed{
        select.toStdString(),
        call.toStdString(),
        "CROSS JOIN \"base\\CDBase.DB\" Cdbase ON (Cdbase.N = Candidates.rowid)",
        "CROSS JOIN \"base\\SprKategoy.db\" Sprkategoy",
        kJoins[2],
        "CROSS JOIN \"base\\SprType.db\" Sprtype",
        kJoins[4],
        condition.toStdString()};
    QCOMPARE(statement.narrowed, narrowed);
    narrowed.push_back("and (Candidates.rowid > :After)");
    QCOMPARE(statement.narrowedReadOn, narrowed);
}

void TestDiskFilter::variantReturnsItsDisks_data() {
    QTest::addColumn<Availability>("availability");
    QTest::addColumn<int>("variant");
    QTest::addColumn<int>("categoryKey");
    QTest::addColumn<int>("mediaKey");
    for (Availability a : {Availability::All, Availability::Available, Availability::Lent})
        for (int v = 1; v <= 8; ++v)
            for (auto [category, media] : {std::pair{2, 1}, std::pair{4, 2}})
                QTest::addRow("%s %d keys %d,%d", availabilityName(a), v, category, media)
                    << a << v << category << media;
}

void TestDiskFilter::variantReturnsItsDisks() {
    QFETCH(Availability, availability);
    QFETCH(int, variant);
    QFETCH(int, categoryKey);
    QFETCH(int, mediaKey);
    const Switches switches = switchesOf(variant);
    // "RO" matches Abbey Road, Rock'n'Roll and Road_trip whatever their letter case.
    QCOMPARE(run(db_, availability, switches, "RO", categoryKey, mediaKey),
             expected(availability, switches, QStringLiteral("RO"), categoryKey, mediaKey));
}

void TestDiskFilter::quoteInFragmentMatchesQuote() {
    QCOMPARE(diskfilter::quoteFragment("Rock'n'"), std::string("Rock''n''"));
    QCOMPARE(diskfilter::build(Availability::All, {false, false, true}, "it's").lines.back(),
             std::string("Where CDBase.Name like '%it''s%'"));

    for (Availability a : {Availability::All, Availability::Lent})
        QCOMPARE(run(db_, a, {false, false, true}, "k'n'r", 0, 0), std::set<int>{6});
    QCOMPARE(run(db_, Availability::Available, {false, false, true}, "'", 0, 0), std::set<int>{});
}

void TestDiskFilter::wildcardsStayWildcards() {
    const Switches name{false, false, true};
    QCOMPARE(run(db_, Availability::All, name, "Ro_d", 0, 0), (std::set<int>{2, 8}));
    QCOMPARE(run(db_, Availability::All, name, "b%d", 0, 0), (std::set<int>{2}));
    QCOMPARE(run(db_, Availability::All, name, "100%", 0, 0), (std::set<int>{7}));
    // An empty fragment matches every listed disk with a name.
    QCOMPARE(run(db_, Availability::All, name, "", 0, 0), (std::set<int>{1, 2, 3, 4, 6, 7, 8}));
}

QTEST_GUILESS_MAIN(TestDiskFilter)
#include "test_diskfilter.moc"
