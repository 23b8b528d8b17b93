#pragma once

// Paradox tables as the original program left them, written for tests: pxlib writes
// the .DB file (header, fields, records); the .MB file of long memos is written here
// byte by byte, since pxlib's own blob writing is not to be trusted.

#include <cstdint>
#include <filesystem>
#include <string>
#include <variant>
#include <vector>

namespace fixture {

struct Day {
    int year, month, day;
};

// Text is given in UTF-8 and stored in the table's code page; Raw is stored as it is.
struct Raw {
    std::string bytes;
};
using Value = std::variant<std::monostate, int64_t, double, bool, std::string, Day, Raw>;

struct ParadoxField {
    std::string name;
    int type;    // pxfAlpha, pxfMemoBLOb, ... as in paradox.h
    int length;  // alpha width; for memos the leader plus the 10-byte tail
};

// Text converted from UTF-8 to a code page ("CP1251", "CP866").
std::string encode(const std::string& utf8, int codePage);

class TableWriter {
public:
    TableWriter(std::filesystem::path file, std::vector<ParadoxField> fields, int codePage = 1251,
                bool keyed = false);
    TableWriter& row(std::vector<Value> values);
    TableWriter& autoIncrement(int value);
    // Writes the .DB file, and the .MB file beside it when a memo outgrew its leader.
    void write() const;

private:
    std::filesystem::path file_;
    std::vector<ParadoxField> fields_;
    int codePage_;
    bool keyed_;
    int autoInc_ = 0;
    std::vector<std::vector<Value>> rows_;
};

// The offset of each field in a record and the record's length.
std::vector<int> fieldOffsets(const std::vector<ParadoxField>& fields, int* recordSize = nullptr);

}  // namespace fixture
