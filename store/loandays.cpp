#include "store/loandays.h"

#include <sqlite3.h>

#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace store {
namespace {

constexpr const char* kGeneralForm =
    "SELECT CASE WHEN coalesce(?2 < ?1 or ?1 > ?4 or ?2 > ?4, 0) THEN NULL "
    "ELSE CAST(julianday(coalesce(?2, ?3)) - julianday(?1) AS INTEGER) END";

// A date as the program writes it, YYYY-MM-DD with a month and day SQLite's parser takes.
std::optional<std::string_view> plainDate(sqlite3_value* v) {
    if (sqlite3_value_type(v) != SQLITE_TEXT || sqlite3_value_bytes(v) != 10) return {};
    const std::string_view d(reinterpret_cast<const char*>(sqlite3_value_text(v)), 10);
    for (int i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (d[i] < '0' || d[i] > '9') return {};
    if (d[4] != '-' || d[7] != '-') return {};
    const int month = (d[5] - '0') * 10 + (d[6] - '0');
    const int day = (d[8] - '0') * 10 + (d[9] - '0');
    if (month < 1 || month > 12 || day < 1 || day > 31) return {};
    return d;
}

// Days since 1970-01-01 of a plain date; a day past the month's end runs on into the next,
// as julianday counts it.
long long dayNumber(std::string_view d) {
    auto digits = [&](int from, int count) {
        int n = 0;
        for (int i = from; i < from + count; ++i) n = n * 10 + (d[i] - '0');
        return n;
    };
    long long y = digits(0, 4);
    const int m = digits(5, 2);
    const int day = digits(8, 2);
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void generalForm(sqlite3_context* ctx, sqlite3_value** argv) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(sqlite3_context_db_handle(ctx), kGeneralForm, -1, &raw, nullptr) !=
        SQLITE_OK) {
        sqlite3_result_error(ctx, "korvalen_days: the general form did not prepare", -1);
        return;
    }
    for (int i = 0; i < 4; ++i) sqlite3_bind_value(raw, i + 1, argv[i]);
    if (sqlite3_step(raw) == SQLITE_ROW)
        sqlite3_result_value(ctx, sqlite3_column_value(raw, 0));
    else
        sqlite3_result_error(ctx, "korvalen_days: the general form failed", -1);
    sqlite3_finalize(raw);
}

void loanDays(sqlite3_context* ctx, int, sqlite3_value** argv) {
    const auto start = plainDate(argv[0]);
    const bool open = sqlite3_value_type(argv[1]) == SQLITE_NULL;
    const auto end = open ? plainDate(argv[2]) : plainDate(argv[1]);
    const auto tomorrow = plainDate(argv[3]);
    if (!start || !end || !tomorrow) return generalForm(ctx, argv);
    const bool wrong = (!open && *end < *start) || *start > *tomorrow || (!open && *end > *tomorrow);
    if (wrong)
        sqlite3_result_null(ctx);
    else
        sqlite3_result_int64(ctx, dayNumber(*end) - dayNumber(*start));
}

struct SumCount {
    int64_t sum = 0;
    int64_t count = 0;
};

void sumCountStep(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return;
    auto* s = static_cast<SumCount*>(sqlite3_aggregate_context(ctx, sizeof(SumCount)));
    if (!s) return sqlite3_result_error_nomem(ctx);
    if (__builtin_add_overflow(s->sum, sqlite3_value_int64(argv[0]), &s->sum))
        return sqlite3_result_error(ctx, "korvalen_sum_count: integer overflow", -1);
    ++s->count;
}

void sumCountFinal(sqlite3_context* ctx) {
    const SumCount none;
    const auto* s = static_cast<SumCount*>(sqlite3_aggregate_context(ctx, 0));
    if (!s) s = &none;
    std::string text = std::to_string(s->sum);
    text += ' ';
    text += std::to_string(s->count);
    sqlite3_result_text(ctx, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

}  // namespace

int registerLoanDays(sqlite3* db) {
    // Not deterministic in SQLite's sense only because the general form reads through
    // the connection; the result depends on the arguments alone.
    const int rc = sqlite3_create_function(db, "korvalen_days", 4, SQLITE_UTF8 | SQLITE_INNOCUOUS,
                                           nullptr, loanDays, nullptr, nullptr);
    if (rc != SQLITE_OK) return rc;
    return sqlite3_create_function(db, "korvalen_sum_count", 1, SQLITE_UTF8 | SQLITE_INNOCUOUS,
                                   nullptr, nullptr, sumCountStep, sumCountFinal);
}

}  // namespace store
