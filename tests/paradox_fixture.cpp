#include "tests/paradox_fixture.h"

#include <iconv.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>

extern "C" {
#include <paradox.h>
}

namespace fixture {
namespace {

namespace fs = std::filesystem;

constexpr size_t kBlock = 4096;

void putLe(std::string& out, size_t at, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// The .MB file: a 4 KB header block, then blocks of one long memo (type 2) and
// 4 KB blocks shared by up to 64 short memos (type 3), as the Paradox engine writes them.
class MemoBlocks {
public:
    MemoBlocks() : file_(kBlock, '\0') {
        putLe(file_, 1, 1, 2);  // one 4 KB block
        putLe(file_, 3, 1, 2);  // modification count
    }
    bool empty() const { return file_.size() == kBlock; }
    const std::string& bytes() const { return file_; }

    // Where the memo went: the block's offset, with its pointer's index in the low byte.
    uint32_t add(const std::string& text) {
        return text.size() > 2048 ? addLong(text) : addShort(text);
    }

private:
    uint32_t addLong(const std::string& text) {
        const size_t at = file_.size();
        const size_t chunks = (9 + text.size() + kBlock - 1) / kBlock;
        file_.resize(at + chunks * kBlock, '\0');
        file_[at] = 2;
        putLe(file_, at + 1, static_cast<uint32_t>(chunks), 2);
        putLe(file_, at + 3, static_cast<uint32_t>(text.size()), 4);
        putLe(file_, at + 7, 1, 2);
        file_.replace(at + 9, text.size(), text);
        return static_cast<uint32_t>(at) | 0xFF;
    }

    uint32_t addShort(const std::string& text) {
        const unsigned chunks = static_cast<unsigned>((text.size() + 15) / 16);
        if (shared_ == 0 || pointer_ < 0 || nextChunk_ + chunks > 256) {
            shared_ = file_.size();
            file_.resize(shared_ + kBlock, '\0');
            file_[shared_] = 3;
            putLe(file_, shared_ + 1, 1, 2);
            pointer_ = 63;  // pointers are taken from the last one down
            nextChunk_ = 0x15;
        }
        const size_t entry = shared_ + 12 + 5 * static_cast<size_t>(pointer_);
        file_[entry] = static_cast<char>(nextChunk_);
        file_[entry + 1] = static_cast<char>(chunks);
        putLe(file_, entry + 2, 1, 2);
        file_[entry + 4] = static_cast<char>(text.size() % 16 == 0 ? 16 : text.size() % 16);
        file_.replace(shared_ + nextChunk_ * 16, text.size(), text);
        nextChunk_ += chunks;
        return static_cast<uint32_t>(shared_) | static_cast<uint32_t>(pointer_--);
    }

    std::string file_;
    size_t shared_ = 0;
    int pointer_ = -1;
    unsigned nextChunk_ = 0;
};

struct DocCloser {
    void operator()(pxdoc_t* d) const { PX_delete(d); }
};

void putMemo(char* data, int length, const std::string& text, MemoBlocks& memos) {
    const int leader = length - 10;
    std::string tail(10, '\0');
    std::memcpy(data, text.data(), std::min<size_t>(text.size(), static_cast<size_t>(leader)));
    if (static_cast<int>(text.size()) > leader) putLe(tail, 0, memos.add(text), 4);
    putLe(tail, 4, static_cast<uint32_t>(text.size()), 4);
    putLe(tail, 8, 1, 2);
    std::memcpy(data + leader, tail.data(), tail.size());
}

std::string bytesOf(const Value& v, int codePage) {
    if (const auto* s = std::get_if<std::string>(&v)) return encode(*s, codePage);
    return std::get<Raw>(v).bytes;
}

void putValue(pxdoc_t* doc, char* data, const ParadoxField& f, const Value& v, int codePage,
              MemoBlocks& memos) {
    if (std::holds_alternative<std::monostate>(v)) return;  // blank: zero bytes
    switch (f.type) {
        case pxfAlpha: {
            const std::string b = bytesOf(v, codePage);
            if (static_cast<int>(b.size()) > f.length)
                throw std::runtime_error("alpha too long: " + f.name);
            std::memcpy(data, b.data(), b.size());
            break;
        }
        case pxfMemoBLOb:
        case pxfFmtMemoBLOb:
            putMemo(data, f.length, bytesOf(v, codePage), memos);
            break;
        case pxfShort:
            PX_put_data_short(doc, data, 2, static_cast<short>(std::get<int64_t>(v)));
            break;
        case pxfLong:
        case pxfAutoInc:
            PX_put_data_long(doc, data, 4, static_cast<int>(std::get<int64_t>(v)));
            break;
        case pxfNumber:
        case pxfCurrency:
            PX_put_data_double(doc, data, 8, std::get<double>(v));
            break;
        case pxfLogical:
            PX_put_data_byte(doc, data, 1, std::get<bool>(v) ? 1 : 0);
            break;
        case pxfDate: {
            const Day d = std::get<Day>(v);
            // pxlib counts days from the Julian day number; Paradox from 1 January of year 1.
            PX_put_data_long(doc, data, 4,
                             static_cast<int>(PX_GregorianToSdn(d.year, d.month, d.day) - 1721425));
            break;
        }
        default:
            throw std::runtime_error("field type not written by the fixture: " + f.name);
    }
}

}  // namespace

std::string encode(const std::string& utf8, int codePage) {
    iconv_t cd = iconv_open(("CP" + std::to_string(codePage)).c_str(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("no such code page");
    std::string out(utf8.size() * 4 + 4, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size(), outLeft = out.size();
    char* o = out.data();
    const size_t rc = iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1)) throw std::runtime_error("text not in code page: " + utf8);
    out.resize(out.size() - outLeft);
    return out;
}

std::vector<int> fieldOffsets(const std::vector<ParadoxField>& fields, int* recordSize) {
    std::vector<int> offsets;
    int at = 0;
    for (const auto& f : fields) {
        offsets.push_back(at);
        at += f.length;
    }
    if (recordSize) *recordSize = at;
    return offsets;
}

TableWriter::TableWriter(fs::path file, std::vector<ParadoxField> fields, int codePage, bool keyed)
    : file_(std::move(file)), fields_(std::move(fields)), codePage_(codePage), keyed_(keyed) {}

TableWriter& TableWriter::row(std::vector<Value> values) {
    if (values.size() != fields_.size()) throw std::runtime_error("row of wrong width");
    rows_.push_back(std::move(values));
    return *this;
}

TableWriter& TableWriter::autoIncrement(int value) {
    autoInc_ = value;
    return *this;
}

void TableWriter::write() const {
    std::unique_ptr<pxdoc_t, DocCloser> doc(PX_new());
    auto* fields = static_cast<pxfield_t*>(
        doc->malloc(doc.get(), fields_.size() * sizeof(pxfield_t), "fields"));
    for (size_t i = 0; i < fields_.size(); ++i) {
        fields[i].px_fname = PX_strdup(doc.get(), fields_[i].name.c_str());
        fields[i].px_ftype = static_cast<char>(fields_[i].type);
        fields[i].px_flen = fields_[i].length;
        fields[i].px_fdc = 0;
    }
    FILE* fp = std::fopen(file_.c_str(), "wb+");
    if (!fp) throw std::runtime_error("cannot write " + file_.string());
    if (PX_create_fp(doc.get(), fields, static_cast<int>(fields_.size()), fp,
                     keyed_ ? pxfFileTypIndexDB : pxfFileTypNonIndexDB) < 0)
        throw std::runtime_error("pxlib cannot create " + file_.string());
    if (keyed_) PX_set_value(doc.get(), "numprimkeys", 1);
    PX_set_value(doc.get(), "codepage", static_cast<float>(codePage_));

    int recordSize = 0;
    const auto offsets = fieldOffsets(fields_, &recordSize);
    MemoBlocks memos;
    std::vector<char> data(static_cast<size_t>(recordSize));
    for (const auto& values : rows_) {
        std::fill(data.begin(), data.end(), 0);
        for (size_t i = 0; i < fields_.size(); ++i)
            putValue(doc.get(), data.data() + offsets[i], fields_[i], values[i], codePage_, memos);
        if (PX_put_record(doc.get(), data.data()) < 0)
            throw std::runtime_error("pxlib cannot add a record");
    }
    PX_close(doc.get());
    doc.reset();
    std::fclose(fp);
    if (autoInc_) {  // pxlib cannot set the header's autoincrement counter
        std::string counter(4, '\0');
        putLe(counter, 0, static_cast<uint32_t>(autoInc_), 4);
        std::fstream db(file_, std::ios::in | std::ios::out | std::ios::binary);
        db.seekp(0x49);
        db << counter;
    }
    if (!memos.empty()) {
        fs::path mb = file_;
        mb.replace_extension(".MB");
        std::ofstream(mb, std::ios::binary) << memos.bytes();
    }
}

}  // namespace fixture
