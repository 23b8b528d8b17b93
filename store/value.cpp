#include "store/value.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace store {
namespace {

int daysInMonth(int year, int month) {
    constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

Date Date::today() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

std::string Date::iso() const {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", year, month, day);
    return buf;
}

bool Date::fromIso(std::string_view t, Date& out) {
    if (t.size() != 10 || t[4] != '-' || t[7] != '-') return false;
    // Every digit a digit: "2024-1x-05" is no date, not the first of May.
    auto num = [&](size_t pos, size_t len, int& v) {
        const char* end = t.data() + pos + len;
        const auto [stop, ec] = std::from_chars(t.data() + pos, end, v);
        return ec == std::errc{} && stop == end && t[pos] != '-' && t[pos] != '+';
    };
    Date d;
    if (!num(0, 4, d.year) || !num(5, 2, d.month) || !num(8, 2, d.day)) return false;
    if (d.month < 1 || d.month > 12 || d.day < 1 || d.day > daysInMonth(d.year, d.month))
        return false;
    out = d;
    return true;
}

std::string Date::display() const {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", day, month, year);
    return buf;
}

namespace {

std::string formatFloat(double d) {
    if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 1e15)
        return std::to_string(static_cast<int64_t>(d));
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.15g", d);
    return buf;
}

// The number a text starts with; 0 when it starts with none.
template <class Number>
Number numberAtStart(const std::string& text) {
    Number v = 0;
    std::from_chars(text.data(), text.data() + text.size(), v);
    return v;
}

}  // namespace

std::string Value::asString(ColumnKind kind) const {
    if (isNull()) return {};
    // The store writes a flag as 1 or 0 only; any other value is shown as stored, so that
    // it reads neither "True" nor "False" unless it says so.
    if (kind == ColumnKind::Logical && type_ == Type::Integer && (integer_ == 0 || integer_ == 1))
        return integer_ == 1 ? "True" : "False";
    switch (type_) {
        case Type::Text: {
            Date d;
            if (kind == ColumnKind::Date && Date::fromIso(text_, d)) return d.display();
            return text_;
        }
        case Type::Integer:
            return std::to_string(integer_);
        case Type::Float:
            return formatFloat(float_);
        case Type::Null:
            break;
    }
    return {};
}

int64_t Value::asInteger() const {
    switch (type_) {
        case Type::Integer:
            return integer_;
        case Type::Float:
            return std::isfinite(float_) && std::fabs(float_) < 9e18 ? std::llround(float_) : 0;
        case Type::Text:
            return numberAtStart<int64_t>(text_);
        case Type::Null:
            break;
    }
    return 0;
}

std::optional<int64_t> Value::asKey() const {
    if (type_ == Type::Integer) return integer_;
    return std::nullopt;
}

double Value::asFloat() const {
    switch (type_) {
        case Type::Float:
            return float_;
        case Type::Integer:
            return static_cast<double>(integer_);
        case Type::Text:
            return numberAtStart<double>(text_);
        case Type::Null:
            break;
    }
    return 0;
}

}  // namespace store
