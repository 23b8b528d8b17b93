#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace store {

struct Date {
    int year = 0;
    int month = 0;
    int day = 0;

    static Date today();      // local calendar day
    std::string iso() const;  // yyyy-MM-dd, as stored
    // False for anything but a calendar day written yyyy-MM-dd.
    static bool fromIso(std::string_view text, Date& out);
    std::string display() const;  // dd.MM.yyyy, as shown
    bool operator==(const Date&) const = default;
};

// How a result column's values read as text.
enum class ColumnKind { Plain, Logical, Date };

// One value of a result row, as SQLite gave it.
class Value {
public:
    enum class Type : unsigned char { Null, Integer, Float, Text };

    Value() = default;
    explicit Value(int64_t v) : type_(Type::Integer), integer_(v) {}
    explicit Value(double v) : type_(Type::Float), float_(v) {}
    explicit Value(std::string v) : type_(Type::Text), text_(std::move(v)) {}

    Type type() const { return type_; }
    bool isNull() const { return type_ == Type::Null; }
    // Logical reads "True"/"False" (1/0; another value as stored), a valid date dd.MM.yyyy
    // (anything else as stored), no value the empty text.
    std::string asString(ColumnKind kind = ColumnKind::Plain) const;
    int64_t asInteger() const;  // no value or text that is no number: 0
    // A key exactly as stored: a whole number, never text or a rounded floating number.
    std::optional<int64_t> asKey() const;
    double asFloat() const;

private:
    Type type_ = Type::Null;
    int64_t integer_ = 0;
    double float_ = 0;
    std::string text_;
};

}  // namespace store
