#include "tools/paradox_import.h"

#include <iconv.h>

#include <cstdio>

extern "C" {  // pxlib's header declares C functions without saying so
#include <paradox.h>
}

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "store/catalogue.h"
#include "store/error.h"
#include "store/systemerror.h"

namespace tools::paradox {
namespace {

namespace fs = std::filesystem;
using store::Error;

constexpr uint64_t kMemoBlock = 4096;  // .MB files are made of 4 KB blocks
constexpr int kMemoPointers = 64;      // pointers in a block of small memos
constexpr int kBlobTail = 10;  // offset, length and modification number after a memo's leader
constexpr uint64_t kFixedHeader = 0x58;  // the part of a table header common to all versions

uint32_t le16(const unsigned char* p) {
    return p[0] | (p[1] << 8);
}
uint32_t le32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t be(std::span<const unsigned char> raw) {
    uint64_t v = 0;
    for (unsigned char b : raw) v = (v << 8) | b;
    return v;
}

bool allZero(std::span<const unsigned char> raw) {
    for (unsigned char b : raw)
        if (b != 0) return false;
    return true;
}

std::string fileName(const fs::path& p) {
    return p.filename().string();
}

[[noreturn]] void damagedFile(const fs::path& file, const std::string& what) {
    throw Error(Error::Kind::NotCatalogue, "Файл " + file.string() + " повреждён: " + what + ".");
}

uint64_t sizeOf(const fs::path& file) {
    std::error_code ec;
    const auto size = fs::file_size(file, ec);
    if (ec)
        throw Error(Error::Kind::Io, "Не удалось прочитать файл " + file.string() + ": " +
                                         store::systemErrorText(ec) + ".");
    return size;
}

// Bytes of a field type whose length is fixed; 0 for types of any length.
int fixedLength(int type) {
    switch (type) {
        case kLogical:
            return 1;
        case kShort:
            return 2;
        case kDate:
        case kLong:
        case kTime:
        case kAutoInc:
            return 4;
        case kNumber:
        case kCurrency:
        case kTimestamp:
            return 8;
        case kBcd:
            return 17;
        default:
            return 0;
    }
}

bool isMemo(int type) {
    return type == kMemo || type == kFmtMemo;
}
bool isBlobLike(int type) {
    return isMemo(type) || type == kBlob || type == kOle || type == kGraphic;
}

Cell make(Cell::Kind kind, int64_t integer = 0, double number = 0) {
    Cell c;
    c.kind = kind;
    c.integer = integer;
    c.number = number;
    return c;
}

Cell text(std::string bytes) {
    const auto nul = bytes.find('\0');
    if (nul != std::string::npos) bytes.resize(nul);
    if (bytes.empty()) return {};
    Cell c = make(Cell::Kind::Text);
    c.bytes = std::move(bytes);
    return c;
}

double decodeDouble(std::span<const unsigned char> raw) {
    uint64_t bits = be(raw);
    // Positive numbers are stored with the sign bit set, negative ones inverted whole.
    bits = (bits & (uint64_t{1} << 63)) ? bits & ~(uint64_t{1} << 63) : ~bits;
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

// The header facts that the block walk needs, read by us before pxlib reads them.
struct Header {
    uint32_t recordSize, headerSize, fileType, maxTableSize, numRecords, fileBlocks, firstBlock;
    uint32_t numFields, version;
    bool encrypted;
};

Header readHeader(const fs::path& path, std::ifstream& in, uint64_t size) {
    if (size < kFixedHeader) damagedFile(path, "файл короче заголовка таблицы");
    std::array<unsigned char, 0x78> h{};
    in.read(reinterpret_cast<char*>(h.data()),
            static_cast<std::streamsize>(std::min<uint64_t>(size, h.size())));
    if (!in && !in.eof())
        throw Error(Error::Kind::Io, "Не удалось прочитать файл " + path.string() + ".");
    in.clear();
    Header hd{};
    hd.recordSize = le16(&h[0]);
    hd.headerSize = le16(&h[2]);
    hd.fileType = h[4];
    hd.maxTableSize = h[5];
    hd.numRecords = le32(&h[6]);
    hd.fileBlocks = le16(&h[0x0C]);
    hd.firstBlock = le16(&h[0x0E]);
    hd.numFields = le16(&h[0x21]);
    hd.version = h[0x39];
    const uint32_t crypt1 = le32(&h[0x25]);
    hd.encrypted = hd.version >= 5 && size >= 0x60 && crypt1 == 0xFF00FF00u
                       ? le32(&h[0x5C]) != 0
                       : crypt1 != 0 && crypt1 != 0xFF00FF00u;
    if (hd.fileType == pxfFileTypPrimIndex || hd.fileType > pxfFileTypIncSecIndexG)
        throw Error(Error::Kind::NotCatalogue,
                    "Файл " + path.string() + " — не таблица данных Paradox.");
    if (hd.fileType != pxfFileTypIndexDB && hd.fileType != pxfFileTypNonIndexDB)
        throw Error(Error::Kind::NotCatalogue,
                    "Файл " + path.string() + " — индекс Paradox, а не таблица данных.");
    if (hd.version < 3 || hd.version > 15) damagedFile(path, "неизвестная версия таблицы");
    if (hd.maxTableSize < 1 || hd.maxTableSize > 32)
        damagedFile(path, "неверный размер блока данных");
    if (hd.recordSize == 0) damagedFile(path, "нулевая длина записи");
    if (hd.headerSize < kFixedHeader || hd.headerSize > size)
        damagedFile(path, "неверная длина заголовка");
    if (hd.numFields == 0 || hd.numFields > 255 || 0x78 + 2 * hd.numFields > hd.headerSize)
        damagedFile(path, "неверное число полей");
    if (hd.encrypted)
        throw Error(Error::Kind::NotCatalogue,
                    "Таблица " + path.string() +
                        " защищена паролем. Снимите пароль в прежней программе или в Database "
                        "Desktop и повторите перенос.");
    return hd;
}

// Walks the chain of data blocks as pxlib will, so that everything pxlib reads lies
// inside the file and the records it finds are the ones the header counts.
void checkBlocks(const fs::path& path, std::ifstream& in, uint64_t size, const Header& hd) {
    const uint64_t blockSize = uint64_t{hd.maxTableSize} * 1024;
    const uint64_t blocksInFile = (size - hd.headerSize) / blockSize;
    std::vector<bool> seen(blocksInFile + 1);
    uint64_t records = 0, chain = 0;
    for (uint64_t n = hd.firstBlock; n != 0;) {
        const std::string block = "блок данных № " + std::to_string(n);
        if (n > blocksInFile) damagedFile(path, block + " лежит за концом файла");
        if (seen[n]) damagedFile(path, "цепочка блоков данных замкнута в кольцо");
        seen[n] = true;
        ++chain;
        std::array<unsigned char, 6> b{};
        in.seekg(static_cast<std::streamoff>(hd.headerSize + (n - 1) * blockSize));
        in.read(reinterpret_cast<char*>(b.data()), b.size());
        if (!in) throw Error(Error::Kind::Io, "Не удалось прочитать файл " + path.string() + ".");
        const auto extra = static_cast<int16_t>(le16(&b[4]));
        const int64_t rs = hd.recordSize;
        if (extra < -rs || extra % rs != 0 || 6 + extra + rs > static_cast<int64_t>(blockSize))
            damagedFile(path, block + " указывает неверную длину данных");
        records += static_cast<uint64_t>(extra / rs + 1);
        n = le16(&b[0]);
    }
    if (chain > hd.fileBlocks) damagedFile(path, "в цепочке больше блоков данных, чем в заголовке");
    if (records != hd.numRecords)
        damagedFile(path, "в заголовке записей " + std::to_string(hd.numRecords) +
                              ", а в блоках данных " + std::to_string(records));
}

void collectPxError(pxdoc_t*, int, const char* msg, void* data) {
    if (data && msg) *static_cast<std::string*>(data) = msg;
}

}  // namespace

std::string typeName(int type) {
    switch (type) {
        case kAlpha:
            return "текст (A)";
        case kDate:
            return "дата (D)";
        case kShort:
            return "короткое целое (S)";
        case kLong:
            return "длинное целое (I)";
        case kCurrency:
            return "денежное ($)";
        case kNumber:
            return "число (N)";
        case kLogical:
            return "логическое (L)";
        case kMemo:
            return "мемо (M)";
        case kBlob:
            return "двоичное (B)";
        case kFmtMemo:
            return "форматированное мемо (F)";
        case kOle:
            return "OLE (O)";
        case kGraphic:
            return "рисунок (G)";
        case kTime:
            return "время (T)";
        case kTimestamp:
            return "дата и время (@)";
        case kAutoInc:
            return "автоинкремент (+)";
        case kBcd:
            return "BCD (#)";
        case kBytes:
            return "байты (Y)";
        default:
            return "неизвестный тип " + std::to_string(type);
    }
}

std::optional<Day> dayFromNumber(int64_t days) {
    using namespace std::chrono;
    constexpr int64_t kLastDay = 3652059;  // 31 December 9999
    if (days < 1 || days > kLastDay) return std::nullopt;
    const sys_days first = year{1} / January / 1;
    const year_month_day ymd{first + std::chrono::days{days - 1}};
    return Day{static_cast<int>(ymd.year()), static_cast<int>(static_cast<unsigned>(ymd.month())),
               static_cast<int>(static_cast<unsigned>(ymd.day()))};
}

Cell decodePlainField(int type, std::span<const unsigned char> raw) {
    const int fixed = fixedLength(type);
    if (fixed != 0 && raw.size() != static_cast<size_t>(fixed))
        return make(Cell::Kind::Unsupported);
    // Paradox writes an empty value of any type as zero bytes.
    if (allZero(raw)) return {};
    switch (type) {
        case kAlpha:
            return text(std::string(raw.begin(), raw.end()));
        case kShort:
            return make(Cell::Kind::Integer, static_cast<int16_t>(be(raw) ^ 0x8000u));
        case kLong:
        case kAutoInc:
        case kTime:
            return make(Cell::Kind::Integer, static_cast<int32_t>(be(raw) ^ 0x80000000u));
        case kDate:
            return make(Cell::Kind::Date, static_cast<int32_t>(be(raw) ^ 0x80000000u));
        case kNumber:
        case kCurrency:
            return make(Cell::Kind::Number, 0, decodeDouble(raw));
        case kTimestamp: {
            // Milliseconds, counted from the same day zero as dates.
            const double days = decodeDouble(raw) / 86400000.0;
            if (!(days > 0 && days < 1e7)) return make(Cell::Kind::Date, 0);
            return make(Cell::Kind::Date, static_cast<int64_t>(days));
        }
        case kLogical:
            return make(Cell::Kind::Logical, raw[0] == 0x80 ? 0 : 1);
        default:
            return make(Cell::Kind::Unsupported);
    }
}

// MemoFile ---------------------------------------------------------------------

MemoFile::MemoFile(const fs::path& path) : path_(path), in_(path, std::ios::binary) {
    if (!in_) throw Error(Error::Kind::Io, "Не удалось открыть файл " + path.string() + ".");
    size_ = sizeOf(path);
    if (size_ < kMemoBlock) damagedFile(path, "файл короче заголовка");
    char type = 1;
    in_.read(&type, 1);
    if (!in_ || type != 0) damagedFile(path, "нет заголовка файла описаний");
}

void MemoFile::damaged(const std::string& what, const std::string& where) const {
    damagedFile(path_, what + " (" + where + ")");
}

std::string MemoFile::readAt(uint64_t offset, uint64_t count, const std::string& where) {
    if (offset > size_ || count > size_ - offset)
        damaged("текст описания выходит за конец файла", where);
    std::string out(count, '\0');
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(offset));
    in_.read(out.data(), static_cast<std::streamsize>(count));
    if (static_cast<uint64_t>(in_.gcount()) != count)
        throw Error(Error::Kind::Io, "Не удалось прочитать файл " + path_.string() + ".");
    return out;
}

std::string MemoFile::read(uint32_t offsetAndIndex, uint32_t length, const std::string& where) {
    const uint64_t block = offsetAndIndex & 0xFFFFFF00u;
    const unsigned index = offsetAndIndex & 0xFFu;
    if (block < kMemoBlock) damaged("испорчен указатель на текст описания", where);
    const std::string head = readAt(block, 3, where);
    const auto* h = reinterpret_cast<const unsigned char*>(head.data());
    const uint64_t blockLength = le16(h + 1) * kMemoBlock;
    const auto mismatch = [&] {
        damaged("длина текста описания в таблице и в файле различается", where);
    };
    if (index == 0xFF) {  // a block holding one memo: type, size, length, modification number, text
        if (h[0] != 2) damaged("указатель ведёт не на блок с текстом описания", where);
        const std::string len = readAt(block + 3, 4, where);
        if (le32(reinterpret_cast<const unsigned char*>(len.data())) != length) mismatch();
        if (9 + uint64_t{length} > blockLength)
            damaged("текст описания длиннее своего блока", where);
        return readAt(block + 9, length, where);
    }
    // A block shared by small memos: a 12-byte head, then 64 pointers of five bytes.
    if (h[0] != 3 || index >= kMemoPointers)
        damaged("указатель ведёт не на блок с текстами описаний", where);
    const std::string entry = readAt(block + 12 + 5 * uint64_t{index}, 5, where);
    const auto* e = reinterpret_cast<const unsigned char*>(entry.data());
    const unsigned start = e[0] * 16u, chunks = e[1], lastChunk = e[4];
    if (start == 0 || chunks == 0 || lastChunk == 0 || lastChunk > 16)
        damaged("текст описания удалён из файла", where);
    const uint64_t count = (chunks - 1) * 16ull + lastChunk;
    if (count != length) mismatch();
    if (start + count > blockLength) damaged("текст описания длиннее своего блока", where);
    return readAt(block + start, count, where);
}

// Table --------------------------------------------------------------------------

struct Table::Impl {
    fs::path path;
    uint64_t size = 0;
    Header header{};
    FILE* fp = nullptr;
    pxdoc_t* doc = nullptr;
    std::string pxError;
    std::vector<Field> fields;
    std::vector<unsigned char> record;
    int codePage = 0;
    int64_t autoIncrement = 0;
    std::optional<MemoFile> memo;

    ~Impl() {
        if (doc) PX_delete(doc);
        if (fp) std::fclose(fp);
    }

    void readFields() {
        const int count = PX_get_num_fields(doc);
        pxfield_t* pf = PX_get_fields(doc);
        if (count != static_cast<int>(header.numFields) || !pf)
            damagedFile(path, "не читаются описания полей");
        int offset = 0;
        for (int i = 0; i < count; ++i, ++pf) {
            Field f{pf->px_fname ? pf->px_fname : "", static_cast<unsigned char>(pf->px_ftype),
                    pf->px_flen, offset};
            const int fixed = fixedLength(f.type);
            if (f.length <= 0 || (fixed != 0 && f.length != fixed) ||
                (isBlobLike(f.type) && f.length < kBlobTail))
                damagedFile(path, "неверная длина поля " + f.name);
            offset += f.length;
            fields.push_back(std::move(f));
        }
        if (offset != static_cast<int>(header.recordSize))
            damagedFile(path, "длины полей не сходятся с длиной записи");
    }
};

Table::Table(const fs::path& path) : impl_(std::make_unique<Impl>()) {
    Impl& t = *impl_;
    t.path = path;
    t.size = sizeOf(path);
    {
        std::ifstream in(path, std::ios::binary);
        if (!in) throw Error(Error::Kind::Io, "Не удалось открыть файл " + path.string() + ".");
        t.header = readHeader(path, in, t.size);
        checkBlocks(path, in, t.size, t.header);
    }
    // Read-only: PX_open_file would open the file for writing too.
    t.fp = std::fopen(path.c_str(), "rb");
    if (!t.fp) throw Error(Error::Kind::Io, "Не удалось открыть файл " + path.string() + ".");
    t.doc = PX_new3(collectPxError, nullptr, nullptr, nullptr, &t.pxError);
    if (!t.doc)
        throw Error(Error::Kind::Other, "Не хватает памяти для чтения " + path.string() + ".");
    if (PX_open_fp(t.doc, t.fp) < 0) damagedFile(path, "заголовок не читается (" + t.pxError + ")");
    if (PX_get_num_records(t.doc) != static_cast<int>(t.header.numRecords) ||
        PX_get_recordsize(t.doc) != static_cast<int>(t.header.recordSize))
        damagedFile(path, "заголовок не читается");
    t.readFields();
    t.codePage = t.doc->px_head->px_doscodepage;
    t.autoIncrement = t.doc->px_head->px_autoinc;
    t.record.resize(t.header.recordSize);
}

Table::~Table() = default;

const fs::path& Table::path() const {
    return impl_->path;
}
const std::vector<Field>& Table::fields() const {
    return impl_->fields;
}
int Table::codePage() const {
    return impl_->codePage;
}
int64_t Table::autoIncrement() const {
    return impl_->autoIncrement;
}
int Table::recordCount() const {
    return static_cast<int>(impl_->header.numRecords);
}

const Field* Table::field(std::string_view name) const {
    for (const auto& f : impl_->fields)
        if (store::equalsNoCase(f.name, name)) return &f;
    return nullptr;
}

std::span<const unsigned char> Table::record(int i) {
    Impl& t = *impl_;
    int deleted = 0;  // only records that the blocks count as present
    pxdatablockinfo_t info{};
    std::fill(t.record.begin(), t.record.end(), 0);
    t.pxError.clear();
    if (i < 0 || i >= recordCount() ||
        !PX_get_record2(t.doc, i, reinterpret_cast<char*>(t.record.data()), &deleted, &info))
        damagedFile(t.path, "не читается запись № " + std::to_string(i + 1) +
                                (t.pxError.empty() ? "" : " (" + t.pxError + ")"));
    if (info.recordpos < static_cast<long>(t.header.headerSize) ||
        static_cast<uint64_t>(info.recordpos) + t.header.recordSize > t.size)
        damagedFile(t.path, "запись № " + std::to_string(i + 1) + " лежит за концом файла");
    return t.record;
}

Cell Table::cell(const Field& field, int recordNumber) {
    const std::span<const unsigned char> raw(impl_->record.data() + field.offset,
                                             static_cast<size_t>(field.length));
    if (!isMemo(field.type)) return decodePlainField(field.type, raw);
    return memoCell(raw, "поле " + field.name + " записи № " + std::to_string(recordNumber + 1) +
                             " таблицы " + fileName(impl_->path));
}

Cell Table::memoCell(std::span<const unsigned char> raw, const std::string& where) {
    const size_t leader = raw.size() - kBlobTail;
    const uint32_t offsetAndIndex = le32(&raw[leader]);
    const uint32_t length = le32(&raw[leader + 4]);
    if (length == 0) return {};
    // A memo that fits in the leader is kept there whole; otherwise the leader is a copy
    // of its start and the text lies in the .MB file.
    if (length <= leader) return text(std::string(raw.begin(), raw.begin() + length));
    return text(memoFile(where).read(offsetAndIndex, length, where));
}

MemoFile& Table::memoFile(const std::string& where) {
    Impl& t = *impl_;
    if (!t.memo) {
        const std::string name = t.path.stem().string() + ".MB";
        const auto file = store::findFileNoCase(t.path.parent_path(), name);
        if (!file)
            throw Error(Error::Kind::Missing,
                        "Не найден файл " + (t.path.parent_path() / name).string() +
                            " с текстом описаний таблицы " + fileName(t.path) +
                            " (нужен для: " + where + ").");
        t.memo.emplace(*file);
    }
    return *t.memo;
}

// TextDecoder --------------------------------------------------------------------

TextDecoder::TextDecoder(int codePage) : codePage_(codePage) {
    const std::string name = "CP" + std::to_string(codePage);
    cd_ = iconv_open("UTF-8", name.c_str());
    if (cd_ == reinterpret_cast<void*>(-1))
        throw Error(Error::Kind::Other, "Кодовая страница " + std::to_string(codePage) +
                                            " не поддерживается системой.");
}

TextDecoder::~TextDecoder() {
    iconv_close(static_cast<iconv_t>(cd_));
}

std::string TextDecoder::toUtf8(std::string_view bytes, bool& clean) {
    clean = true;
    std::string out;
    out.reserve(bytes.size() * 2);
    iconv(static_cast<iconv_t>(cd_), nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    std::array<char, 1024> buf;
    while (inLeft > 0) {
        char* outPtr = buf.data();
        size_t outLeft = buf.size();
        const size_t rc = iconv(static_cast<iconv_t>(cd_), &in, &inLeft, &outPtr, &outLeft);
        out.append(buf.data(), outPtr);
        if (rc != static_cast<size_t>(-1) || errno == E2BIG) continue;
        // A byte the code page leaves undefined: mark it and go on with the next.
        out += "\xEF\xBF\xBD";
        clean = false;
        ++in;
        --inLeft;
    }
    return out;
}

}  // namespace tools::paradox
