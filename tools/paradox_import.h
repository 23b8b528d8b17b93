#pragma once

// Reading the original program's Paradox tables. pxlib reads the header, the field
// descriptions and the records; memo text and empty values are decoded here from
// the raw bytes, since Debian's pxlib 0.6.8 gets both wrong (it aborts on opening
// a well-formed .MB file, and on 64-bit machines an empty long or date reads as 0).
// Every offset and length taken from a file is checked against the file's size: a
// damaged file raises store::Error naming it, never a crash.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tools::paradox {

// Field types as the table header stores them (the same codes as pxlib's pxf*).
enum FieldType : int {
    kAlpha = 0x01,
    kDate = 0x02,
    kShort = 0x03,
    kLong = 0x04,
    kCurrency = 0x05,
    kNumber = 0x06,
    kLogical = 0x09,
    kMemo = 0x0C,
    kBlob = 0x0D,
    kFmtMemo = 0x0E,
    kOle = 0x0F,
    kGraphic = 0x10,
    kTime = 0x14,
    kTimestamp = 0x15,
    kAutoInc = 0x16,
    kBcd = 0x17,
    kBytes = 0x18,
};

// The Russian name of a field type, for messages.
std::string typeName(int type);

struct Field {
    std::string name;
    int type = 0;
    int length = 0;  // bytes in the record
    int offset = 0;  // from the start of the record
};

// One value of a record, text still in the table's code page.
struct Cell {
    enum class Kind { Empty, Integer, Number, Logical, Date, Text, Unsupported };
    Kind kind = Kind::Empty;
    int64_t integer = 0;  // Integer; Logical 0 or 1; Date: days, 1 January of year 1 being day 1
    double number = 0;    // Number
    std::string bytes;    // Text
};

// A calendar day from a Paradox day number; nullopt outside years 1 to 9999.
struct Day {
    int year, month, day;
};
std::optional<Day> dayFromNumber(int64_t days);

// The .MB file beside a table, holding memo text that does not fit in the record.
class MemoFile {
public:
    explicit MemoFile(const std::filesystem::path& path);  // read-only
    const std::filesystem::path& path() const { return path_; }

    // The text a memo field points to: offsetAndIndex is the block's offset with
    // the index of its pointer in the low byte (0xFF: a block of one memo).
    // where names the record for messages.
    std::string read(uint32_t offsetAndIndex, uint32_t length, const std::string& where);

private:
    std::string readAt(uint64_t offset, uint64_t count, const std::string& where);
    [[noreturn]] void damaged(const std::string& what, const std::string& where) const;

    std::filesystem::path path_;
    std::ifstream in_;
    uint64_t size_ = 0;
};

// One Paradox table (.DB), opened read-only.
class Table {
public:
    explicit Table(const std::filesystem::path& path);
    ~Table();
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    const std::filesystem::path& path() const;
    const std::vector<Field>& fields() const;
    const Field* field(std::string_view name) const;  // without regard to letter case
    int codePage() const;                             // as the header says; 0 when it names none
    int64_t autoIncrement() const;  // the header's counter of the autoincrement field
    int recordCount() const;

    // Record number i (from 0), as raw bytes.
    std::span<const unsigned char> record(int i);

    // A field of the record last read. The .MB file is opened on the first memo
    // that does not fit in its record.
    Cell cell(const Field& field, int recordNumber);

private:
    MemoFile& memoFile(const std::string& where);
    Cell memoCell(std::span<const unsigned char> raw, const std::string& where);

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Decodes a field that needs no .MB file; memo fields come back Unsupported.
Cell decodePlainField(int type, std::span<const unsigned char> raw);

// Text in a table's code page (Windows-1251, DOS 866, ...) turned into UTF-8.
class TextDecoder {
public:
    explicit TextDecoder(int codePage);  // store::Error when the system knows no such code page
    ~TextDecoder();
    TextDecoder(const TextDecoder&) = delete;
    TextDecoder& operator=(const TextDecoder&) = delete;

    int codePage() const { return codePage_; }
    // A byte with no character in the code page becomes U+FFFD and clears clean.
    std::string toUtf8(std::string_view bytes, bool& clean);

private:
    int codePage_;
    void* cd_;  // iconv_t
};

}  // namespace tools::paradox
