// An ISO 9660 or UDF image, or a data disc in a drive read through its device the same way.
// The volume's label and size come from the volume descriptors, parsed here (2048-byte
// sectors from sector 16 on); the tree of an ISO 9660 volume from libarchive, which prefers
// Rock Ridge names and falls back to Joliet's; a UDF-only volume's tree from libudfread.

#include <archive.h>
#include <archive_entry.h>
#include <locale.h>
#include <udfread/udfread.h>

#include <array>
#include <cstring>
#include <fstream>
#include <memory>
#include <unordered_map>

#include "contents/readers.h"
#include "store/contentsstore.h"

namespace contents {
namespace {

namespace fs = std::filesystem;
using store::FolderId;
using store::ReadFailed;

constexpr int64_t kSectorSize = 2048;
constexpr int kFirstDescriptor = 16;
// A volume recognition sequence is a few sectors long; a longer run is not one.
constexpr int kDescriptorLimit = 64;
const std::string kReplacement = "\xEF\xBF\xBD";

std::string quoted(const fs::path& path) {
    std::string text = "«";
    text += path.string();
    text += "»";
    return text;
}

void stopIfAsked(const store::ContentsSink& sink) {
    if (sink.stopRequested()) throw store::ReadStopped();
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Joliet's names and label are UCS-2 big-endian; pairs of surrogates are taken as UTF-16,
// a lone one becomes a visible replacement character.
std::string utf16beToUtf8(const unsigned char* bytes, size_t size) {
    std::string out;
    for (size_t i = 0; i + 1 < size; i += 2) {
        char32_t unit = (bytes[i] << 8) | bytes[i + 1];
        if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < size) {
            const char32_t low = (bytes[i + 2] << 8) | bytes[i + 3];
            if (low >= 0xDC00 && low < 0xE000) {
                appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        if (unit >= 0xD800 && unit < 0xE000) {
            out += kReplacement;
        } else {
            appendUtf8(out, unit);
        }
    }
    return out;
}

std::string trimmedRight(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
    return text;
}

// The primary descriptor's label is meant to be ASCII; bytes that are not UTF-8 are shown
// as replacement characters rather than passed on as a broken label.
std::string labelFromBytes(std::string bytes) {
    if (store::isUtf8(bytes)) return bytes;
    std::string out;
    for (char c : bytes) {
        if (static_cast<unsigned char>(c) < 0x80) {
            out += c;
        } else {
            out += kReplacement;
        }
    }
    return out;
}

uint32_t littleEndian32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

struct Descriptors {
    bool iso9660 = false;
    bool udf = false;
    std::string primaryLabel;
    std::string jolietLabel;
    std::optional<int64_t> capacity;
};

using Sector = std::array<unsigned char, kSectorSize>;

bool isJoliet(const Sector& s) {
    return s[88] == 0x25 && s[89] == 0x2F && (s[90] == 0x40 || s[90] == 0x43 || s[90] == 0x45);
}

void takeIsoDescriptor(const Sector& s, Descriptors& found) {
    if (s[0] == 1) {
        found.iso9660 = true;
        found.primaryLabel =
            labelFromBytes(trimmedRight(std::string(reinterpret_cast<const char*>(&s[40]), 32)));
        const int64_t blocks = littleEndian32(&s[80]);
        const int64_t blockSize = s[128] | (s[129] << 8);
        found.capacity = blocks * (blockSize ? blockSize : kSectorSize);
    } else if (s[0] == 2 && isJoliet(s)) {
        found.jolietLabel = trimmedRight(utf16beToUtf8(&s[40], 32));
    }
}

// Joliet's label holds any letter but only 16 of them; the primary one 32, of few letters.
// The Joliet label is taken unless it is the primary one cut short.
std::string labelOf(const Descriptors& found) {
    const auto& joliet = found.jolietLabel;
    const auto& primary = found.primaryLabel;
    if (joliet.empty() || (primary.size() > joliet.size() && primary.starts_with(joliet)))
        return primary;
    return joliet;
}

// Reads the ISO 9660 descriptors and the UDF recognition sequence that follows them.
Descriptors readDescriptors(const fs::path& image, store::SourceKind kind) {
    std::ifstream in(image, std::ios::binary);
    if (!in) {
        std::error_code error;
        if (!fs::exists(image, error))
            throw ReadFailed("Не найден файл или устройство " + quoted(image));
        throw ReadFailed(kind == store::SourceKind::Drive
                             ? "Не удалось открыть привод " + quoted(image) +
                                   ": в нём нет диска или к нему нет доступа"
                             : "Не удалось открыть " + quoted(image));
    }
    in.seekg(kFirstDescriptor * kSectorSize);
    Descriptors found;
    bool isoEnded = false;
    Sector s;
    for (int i = 0; i < kDescriptorLimit; ++i) {
        if (!in.read(reinterpret_cast<char*>(s.data()), s.size())) break;
        const std::string_view id(reinterpret_cast<const char*>(&s[1]), 5);
        if (id == "CD001" && !isoEnded) {
            if (s[0] == 255) isoEnded = true;
            takeIsoDescriptor(s, found);
        } else if (id == "NSR02" || id == "NSR03") {
            found.udf = true;
        } else if (id == "TEA01") {
            break;
        } else if (id != "BEA01" && id != "BOOT2" && id != "CD001") {
            break;
        }
    }
    return found;
}

std::optional<int64_t> regularFileSize(const fs::path& path) {
    std::error_code error;
    if (!fs::is_regular_file(path, error)) return std::nullopt;
    const auto size = fs::file_size(path, error);
    if (error) return std::nullopt;
    return static_cast<int64_t>(size);
}

// libarchive converts Joliet's UTF-16 names to the thread's locale; in the C locale that
// fails for every name outside ASCII, so the read runs under UTF-8 (Rock Ridge names are
// bytes and pass unchanged either way).
class Utf8Locale {
public:
    Utf8Locale() : locale_(newlocale(LC_ALL_MASK, "C.UTF-8", locale_t{})) {
        if (locale_) previous_ = uselocale(locale_);
    }
    ~Utf8Locale() {
        if (!locale_) return;
        uselocale(previous_);
        freelocale(locale_);
    }
    Utf8Locale(const Utf8Locale&) = delete;
    Utf8Locale& operator=(const Utf8Locale&) = delete;

private:
    locale_t locale_;
    locale_t previous_ = LC_GLOBAL_LOCALE;
};

// The folders met so far, by their path in the image: memory grows with the folders, not
// with the files. A folder named by a path before its own entry is made then.
class FolderIds {
public:
    explicit FolderIds(store::ContentsSink& sink) : sink_(sink) {}

    FolderId parentOf(std::string_view path) {
        const auto slash = path.rfind('/');
        return slash == std::string_view::npos ? store::kRootFolder : folder(path.substr(0, slash));
    }
    FolderId folder(std::string_view path, std::optional<int64_t> modified = std::nullopt,
                    unsigned marks = 0) {
        if (path.empty()) return store::kRootFolder;
        const std::string key(path);
        if (const auto it = ids_.find(key); it != ids_.end()) return it->second;
        const FolderId parent = parentOf(path);
        const FolderId id = sink_.folder(parent, nameOf(path), modified, marks);
        ids_.emplace(key, id);
        return id;
    }
    static std::string_view nameOf(std::string_view path) {
        const auto slash = path.rfind('/');
        return slash == std::string_view::npos ? path : path.substr(slash + 1);
    }

private:
    store::ContentsSink& sink_;
    std::unordered_map<std::string, FolderId> ids_;
};

// libarchive's paths may start with "./" and folders may end with "/"; the root is ".".
std::string_view relativePath(const char* raw) {
    std::string_view path(raw);
    while (path.starts_with("./")) path.remove_prefix(2);
    while (path.starts_with('/')) path.remove_prefix(1);
    while (path.ends_with('/')) path.remove_suffix(1);
    return path == "." ? std::string_view() : path;
}

unsigned nameMarks(std::string_view name) {
    return store::isUtf8(name) ? 0u : unsigned{store::kNotUtf8};
}

using Archive = std::unique_ptr<archive, decltype(&archive_read_free)>;

// The entries of an ISO 9660 tree, as libarchive lists them.
class IsoTreeReader {
public:
    IsoTreeReader(const fs::path& image, store::ContentsSink& sink)
        : image_(image), sink_(sink), folders_(sink) {}

    void read() {
        Archive reader(archive_read_new(), &archive_read_free);
        if (!reader) throw ReadFailed("Не хватает памяти, чтобы прочитать " + quoted(image_));
        archive_read_support_format_iso9660(reader.get());
        if (archive_read_open_filename(reader.get(), image_.c_str(), 64 * 1024) != ARCHIVE_OK)
            throw ReadFailed("Не удалось прочитать оглавление образа " + quoted(image_));
        archive_entry* entry = nullptr;
        for (size_t index = 0;; ++index) {
            stopIfAsked(sink_);
            const int result = archive_read_next_header(reader.get(), &entry);
            if (result == ARCHIVE_EOF) break;
            if (result == ARCHIVE_FATAL)
                throw ReadFailed("Образ " + quoted(image_) +
                                 " повреждён: его оглавление прочитано не до конца");
            take(entry, result == ARCHIVE_OK ? 0u : unsigned{store::kUnreadable}, index);
        }
    }

private:
    void take(archive_entry* entry, unsigned marks, size_t index) {
        const char* raw = archive_entry_pathname(entry);
        std::string fallback;
        if (!raw) {
            // A name nothing could decode: kept, visibly, in the root.
            fallback = kReplacement + std::to_string(index);
            raw = fallback.c_str();
            marks |= store::kUnreadable;
        }
        const std::string_view path = relativePath(raw);
        if (path.empty()) return;
        const std::optional<int64_t> modified =
            archive_entry_mtime_is_set(entry) ? std::optional<int64_t>(archive_entry_mtime(entry))
                                              : std::nullopt;
        marks |= nameMarks(FolderIds::nameOf(path));
        const auto type = archive_entry_filetype(entry);
        if (type == AE_IFDIR) {
            folders_.folder(path, modified, marks);
            return;
        }
        const FolderId parent = folders_.parentOf(path);
        const auto size = sizeOf(entry, path, type, marks);
        sink_.file(parent, FolderIds::nameOf(path), size, modified, marks);
    }

    std::optional<int64_t> sizeOf(archive_entry* entry, std::string_view path, mode_t type,
                                  unsigned& marks) {
        if (type == AE_IFLNK) {
            marks |= store::kLink;
            const char* target = archive_entry_symlink(entry);
            return target ? std::optional<int64_t>(std::strlen(target)) : std::nullopt;
        }
        if (type != AE_IFREG) {
            marks |= store::kSpecial;
            return std::nullopt;
        }
        // A hard link comes after the file it shares its data with, sized 0: it is that
        // file's size that a user expects.
        if (const char* target = archive_entry_hardlink(entry)) {
            const auto it = linkedSizes_.find(std::string(relativePath(target)));
            return it != linkedSizes_.end() ? std::optional<int64_t>(it->second) : std::nullopt;
        }
        if (!archive_entry_size_is_set(entry)) return std::nullopt;
        const int64_t size = archive_entry_size(entry);
        if (archive_entry_nlink(entry) > 1) linkedSizes_.emplace(std::string(path), size);
        return size;
    }

    const fs::path& image_;
    store::ContentsSink& sink_;
    FolderIds folders_;
    std::unordered_map<std::string, int64_t> linkedSizes_;
};

struct UdfDeleter {
    void operator()(udfread* udf) const { udfread_close(udf); }
    void operator()(UDFDIR* dir) const { udfread_closedir(dir); }
    void operator()(UDFFILE* file) const { udfread_file_close(file); }
};
using Udf = std::unique_ptr<udfread, UdfDeleter>;
using UdfDir = std::unique_ptr<UDFDIR, UdfDeleter>;
using UdfFile = std::unique_ptr<UDFFILE, UdfDeleter>;

// UDF keeps no dates libudfread hands out; a folder's handle lives while its subtree is
// read, so the depth, not the breadth, bounds what is held.
void walkUdf(UDFDIR* dir, FolderId parent, store::ContentsSink& sink) {
    udfread_dirent entry{};
    while (udfread_readdir(dir, &entry)) {
        stopIfAsked(sink);
        const std::string name = entry.d_name ? entry.d_name : kReplacement;
        if (name == "." || name == "..") continue;
        const unsigned marks = nameMarks(name);
        if (entry.d_type == UDF_DT_DIR) {
            UdfDir sub(udfread_opendir_at(dir, name.c_str()));
            const FolderId id =
                sink.folder(parent, name, std::nullopt, sub ? marks : marks | store::kUnreadable);
            if (sub) walkUdf(sub.get(), id, sink);
        } else if (entry.d_type == UDF_DT_REG) {
            UdfFile file(udfread_file_openat(dir, name.c_str()));
            const int64_t size = file ? udfread_file_size(file.get()) : -1;
            sink.file(parent, name, size >= 0 ? std::optional<int64_t>(size) : std::nullopt,
                      std::nullopt, size >= 0 ? marks : marks | store::kUnreadable);
        } else {
            sink.file(parent, name, std::nullopt, std::nullopt, marks | store::kUnreadable);
        }
    }
}

void readUdf(const fs::path& image, store::VolumeFacts facts, store::ContentsSink& sink) {
    Udf udf(udfread_init());
    if (!udf || udfread_open(udf.get(), image.c_str()) < 0)
        throw ReadFailed("Не удалось прочитать файловую систему UDF в " + quoted(image));
    const char* label = udfread_get_volume_id(udf.get());
    facts.fileSystem = "udf";
    facts.label = labelFromBytes(label ? label : "");
    if (!facts.capacity) facts.capacity = regularFileSize(image);
    UdfDir root(udfread_opendir(udf.get(), "/"));
    if (!root) throw ReadFailed("Не удалось прочитать корневую папку UDF в " + quoted(image));
    sink.volume(facts);
    walkUdf(root.get(), store::kRootFolder, sink);
}

}  // namespace

void readDiscImage(const fs::path& image, store::ContentsSink& sink, store::SourceKind kind) {
    const Descriptors found = readDescriptors(image, kind);
    if (!found.iso9660 && !found.udf) {
        throw ReadFailed(kind == store::SourceKind::Drive
                             ? "На диске в приводе " + quoted(image) +
                                   " нет файловой системы ISO 9660 или UDF"
                             : quoted(image) + " — не образ диска: в нём нет ни ISO 9660, ни UDF");
    }
    const auto size = regularFileSize(image);
    if (found.iso9660 && size && found.capacity && *size < *found.capacity)
        throw ReadFailed("Образ " + quoted(image) + " обрезан: в нём " + std::to_string(*size) +
                         " байт из " + std::to_string(*found.capacity));

    store::VolumeFacts facts;
    facts.kind = kind;
    facts.origin = image.string();
    facts.capacity = found.capacity;
    // A disc holds no room to write to.
    facts.freeSpace = 0;
    if (!found.iso9660) {
        readUdf(image, facts, sink);
        return;
    }
    facts.fileSystem = "iso9660";
    facts.label = labelOf(found);
    sink.volume(facts);
    const Utf8Locale utf8;
    IsoTreeReader(image, sink).read();
}

}  // namespace contents
