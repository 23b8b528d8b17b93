// The store against the floor that SQLite sets: the same statements, as the
// store hands them to SQLite, prepared and stepped with the raw API on the same
// connection. Also our Unicode `like` against SQLite's built-in one.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <iostream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bench/catalogues.h"
#include "bench/statements.h"
#include "bench/table_reporter.h"
#include "store/catalogue.h"
#include "store/database.h"
#include "store/error.h"
#include "store/query.h"
#include "store/rowreader.h"

namespace {

using store::Database;

constexpr int kRows = 40;  // what the grid shows first

struct Case {
    std::string name;
    bench::ListStatement statement;
    bool byName = false;  // narrowed by the copy of the names
};

const std::vector<Case>& cases() {
    constexpr diskfilter::Switches name{false, false, true};
    constexpr diskfilter::Switches category{true, false, false};
    constexpr diskfilter::Switches categoryAndMedia{true, true, false};
    static const std::vector<Case> list = [&] {
        std::vector<Case> cases = {
            {"disk_list", bench::diskListLayout()},
            {"filter2", bench::filterAll(category)},
            {"filter6", bench::filterAll(categoryAndMedia)},
        };
        // A fragment in about one name of thirty, one in one of nine thousand, and two
        // in none (then the scan reads the whole table, as while a fragment is typed
        // wrong); a pattern of common letters and _ in none, and one of two pieces in
        // one name of nine thousand; alone, and with category, media type and "На руках".
        constexpr diskfilter::Switches all{true, true, true};
        for (const auto& [label, fragment] :
             std::vector<std::pair<std::string, std::string>>{{"хит", "хит"},
                                                              {"rare", "хоббит, диск 17"},
                                                              {"ёлк", "ёлк"},
                                                              {"ъ", "ъ"},
                                                              {"е_и_е", "е_и_е"},
                                                              {"pieces", "хоб%к 17"}}) {
            cases.push_back({"filter4_" + label, bench::filterAll(name, fragment), true});
            cases.push_back({"filter5_lent_" + label,
                             bench::filter(diskfilter::Availability::Lent, all, fragment), true});
        }
        return cases;
    }();
    return list;
}

const std::vector<std::string>& likeFragments() {
    static const std::vector<std::string> list = {"хит", "ЁЛК", "hit"};
    return list;
}

std::string likeItem(const std::string& fragment) {
    return "%" + fragment + "%";
}

std::shared_ptr<Database> database(int disks) {
    static std::map<int, std::shared_ptr<Database>> open;
    auto& db = open[disks];
    if (!db) db = Database::open(bench::demoCatalogue(disks) / std::string(store::kBaseFolder));
    return db;
}

// A second connection to the same catalogue, with the copy of the names ready.
std::shared_ptr<Database> databaseWithCopy(int disks) {
    static std::map<int, std::shared_ptr<Database>> open;
    auto& db = open[disks];
    if (!db) {
        db = Database::open(bench::demoCatalogue(disks) / std::string(store::kBaseFolder));
        db->startNameCopy();
        if (!db->waitForNameCopy()) throw std::runtime_error("the copy of the names did not load");
    }
    return db;
}

// The disk table's file on a connection of its own, with nothing registered:
// SQLite's built-in `like`.
sqlite3* plainConnection(int disks) {
    static std::map<int, store::ConnectionHandle> open;
    auto& db = open[disks];
    if (!db) {
        const auto file = database(disks)->baseDir() / std::string(store::diskTable().fileName);
        sqlite3* raw = nullptr;
        sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
        db.reset(raw);
    }
    return db.get();
}

std::string joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& line : lines) out += (out.empty() ? "" : "\n") + line;
    return out;
}

// What every reader of a row does at least: ask each column for its value.
int64_t readRow(sqlite3_stmt* s) {
    int64_t sum = 0;
    for (int i = 0, n = sqlite3_column_count(s); i < n; ++i) {
        switch (sqlite3_column_type(s, i)) {
            case SQLITE_INTEGER:
                sum += sqlite3_column_int64(s, i);
                break;
            case SQLITE_FLOAT:
                sum += static_cast<int64_t>(sqlite3_column_double(s, i));
                break;
            case SQLITE_NULL:
                break;
            default:
                sum += reinterpret_cast<intptr_t>(sqlite3_column_text(s, i));
                sum += sqlite3_column_bytes(s, i);
        }
    }
    return sum;
}

// A filter rebuild as the window does it: new text, parameters, open, first rows.
void storeOpen(benchmark::State& state, const Case& c, const std::shared_ptr<Database>& db) {
    store::Query q({}, db);
    for (auto _ : state) {
        q.clearSql();
        for (const auto& line : c.statement.lines) q.addLine(line);
        q.setNarrowed(c.statement.narrowed, {});
        for (const auto& [name, value] : c.statement.floats) q.setFloat(name, value);
        q.open();
        q.fetchMore(kRows - q.fetchedRows());
        benchmark::DoNotOptimize(q.fetchedRows());
    }
    state.counters["rows"] = q.fetchedRows();
}

void floorOpen(benchmark::State& state, const Case& c, int disks) {
    const auto db = database(disks);
    const std::string sql = store::sqliteSql(joined(c.statement.lines));
    std::vector<std::pair<std::string, double>> params;
    for (const auto& [name, value] : c.statement.floats) params.emplace_back(":" + name, value);
    int rows = 0;
    for (auto _ : state) {
        sqlite3_stmt* raw = nullptr;
        if (sqlite3_prepare_v3(db->handle(), sql.data(), static_cast<int>(sql.size()), 0, &raw,
                               nullptr) != SQLITE_OK) {
            state.SkipWithError(sqlite3_errmsg(db->handle()));
            break;
        }
        store::StatementHandle stmt(raw);
        for (const auto& [name, value] : params)
            sqlite3_bind_double(raw, sqlite3_bind_parameter_index(raw, name.c_str()), value);
        int64_t sum = 0;
        for (rows = 0; rows < kRows && sqlite3_step(raw) == SQLITE_ROW; ++rows) sum += readRow(raw);
        benchmark::DoNotOptimize(sum);
    }
    state.counters["rows"] = rows;
}

// The export's row count of the list under the filter (the count comes before the rows).
void countRows(benchmark::State& state, const Case& c, const std::shared_ptr<Database>& db) {
    store::Query q({}, db);
    for (const auto& line : c.statement.lines) q.addLine(line);
    q.setNarrowed(c.statement.narrowed, {});
    for (const auto& [name, value] : c.statement.floats) q.setFloat(name, value);
    int64_t rows = 0;
    for (auto _ : state) rows = store::RowReader::countRows(q);
    state.counters["rows"] = static_cast<double>(rows);
}

void likeScan(benchmark::State& state, sqlite3* db, const std::string& fragment) {
    const std::string sql = "SELECT count(*) FROM CDBase WHERE Name LIKE '%" + fragment + "%'";
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
        state.SkipWithError(sqlite3_errmsg(db));
        return;
    }
    store::StatementHandle stmt(raw);
    int64_t matches = 0;
    for (auto _ : state) {
        sqlite3_reset(raw);
        if (sqlite3_step(raw) != SQLITE_ROW) {
            state.SkipWithError(sqlite3_errmsg(db));
            break;
        }
        matches = sqlite3_column_int64(raw, 0);
    }
    state.counters["matches"] = static_cast<double>(matches);
}

void registerAll() {
    for (int disks : bench::benchSizes()) {
        bench::demoCatalogue(disks);  // made before anything is timed
        for (const Case& c : cases()) {
            benchmark::RegisterBenchmark(bench::benchName("store", c.name, disks).c_str(),
                                         [=](auto& state) { storeOpen(state, c, database(disks)); })
                ->Unit(benchmark::kMicrosecond);
            if (c.byName) {
                benchmark::RegisterBenchmark(
                    bench::benchName("copy", c.name, disks).c_str(),
                    [=](auto& state) { storeOpen(state, c, databaseWithCopy(disks)); })
                    ->Unit(benchmark::kMicrosecond);
                benchmark::RegisterBenchmark(
                    bench::benchName("count_copy", c.name, disks).c_str(),
                    [=](auto& state) { countRows(state, c, databaseWithCopy(disks)); })
                    ->Unit(benchmark::kMicrosecond);
                benchmark::RegisterBenchmark(
                    bench::benchName("count_scan", c.name, disks).c_str(),
                    [=](auto& state) { countRows(state, c, database(disks)); })
                    ->Unit(benchmark::kMicrosecond);
            }
            benchmark::RegisterBenchmark(bench::benchName("floor", c.name, disks).c_str(),
                                         floorOpen, c, disks)
                ->Unit(benchmark::kMicrosecond);
        }
        for (const auto& fragment : likeFragments()) {
            const std::string item = likeItem(fragment);
            benchmark::RegisterBenchmark(
                bench::benchName("like_unicode", item, disks).c_str(),
                [=](auto& state) { likeScan(state, database(disks)->handle(), fragment); })
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(
                bench::benchName("like_builtin", item, disks).c_str(),
                [=](auto& state) { likeScan(state, plainConnection(disks), fragment); })
                ->Unit(benchmark::kMillisecond);
        }
    }
}

}  // namespace

// The store's part of start-up, for measuring memory: the catalogue in base/
// under the working directory, the disk list opened and its first rows read.
int openDiskList() {
    try {
        store::Query q(bench::diskListLayout().lines);
        q.open();
        q.fetchMore(kRows - q.fetchedRows());
        return q.fetchedRows() > 0 ? 0 : 1;
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
}

int main(int argc, char** argv) {
    if (argc == 2 && std::string_view(argv[1]) == "--open-disk-list") return openDiskList();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    try {
        registerAll();
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    std::vector<std::string> order;
    for (const Case& c : cases()) order.push_back(c.name);
    for (const auto& fragment : likeFragments()) order.push_back(likeItem(fragment));
    bench::TableReporter reporter(order);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
