// An audio CD in a drive or its image as a CUE sheet with its BIN, through libcdio: the
// tracks and their lengths, CD-TEXT, the media catalogue number, and the MusicBrainz disc
// id libdiscid computes from the table of contents without going online.

#include <cdio/cdio.h>
#include <cdio/cdtext.h>
#include <cdio/logging.h>
#include <discid/discid.h>
#include <iconv.h>
#include <stdlib.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <fstream>
#include <memory>

#include "contents/readers.h"
#include "store/contentsstore.h"

namespace contents {
namespace {

namespace fs = std::filesystem;
using store::ReadFailed;

constexpr int64_t kAudioSectorSize = 2352;
// An Enhanced CD's data session starts this many sectors after the audio's lead-out.
constexpr int kSessionGap = 11400;

std::string quoted(const fs::path& path) {
    std::string text = "«";
    text += path.string();
    text += "»";
    return text;
}

struct CdioDeleter {
    void operator()(CdIo_t* cdio) const { cdio_destroy(cdio); }
    void operator()(char* text) const { cdio_free(text); }
    void operator()(DiscId* disc) const { discid_free(disc); }
};
using Cdio = std::unique_ptr<CdIo_t, CdioDeleter>;
using CdioText = std::unique_ptr<char, CdioDeleter>;
using Disc = std::unique_ptr<DiscId, CdioDeleter>;

class Iconv {
public:
    Iconv(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
    ~Iconv() {
        if (handle_ != invalid()) iconv_close(handle_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    // The whole text converted, or nothing when any character has no place in the target.
    std::optional<std::string> convert(std::string_view text) const {
        if (handle_ == invalid()) return std::nullopt;
        std::string out(text.size() * 4 + 4, '\0');
        char* in = const_cast<char*>(text.data());
        size_t inLeft = text.size();
        char* to = out.data();
        size_t outLeft = out.size();
        if (iconv(handle_, &in, &inLeft, &to, &outLeft) == static_cast<size_t>(-1))
            return std::nullopt;
        out.resize(out.size() - outLeft);
        return out;
    }

private:
    static iconv_t invalid() { return reinterpret_cast<iconv_t>(-1); }
    iconv_t handle_;
};

// Letters a Windows-1251 text is made of: А..я and Ё, ё.
bool isCyrillic1251(unsigned char c) {
    return c >= 0xC0 || c == 0xA8 || c == 0xB8;
}
bool isLatinLetter(unsigned char c) {
    return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
}

// In a Windows-1251 text the high letters make whole words; in ISO-8859-1 they are
// accents beside plain Latin letters. Adjacent pairs of each kind are counted.
bool looksLike1251(std::string_view bytes) {
    int cyrillic = 0;
    int latin = 0;
    for (size_t i = 1; i < bytes.size(); ++i) {
        const auto a = static_cast<unsigned char>(bytes[i - 1]);
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (isCyrillic1251(a) && isCyrillic1251(b)) {
            ++cyrillic;
        } else if ((isCyrillic1251(a) && isLatinLetter(b)) ||
                   (isLatinLetter(a) && isCyrillic1251(b))) {
            ++latin;
        }
    }
    return cyrillic > latin;
}

// Russian discs often hold Windows-1251 under CD-TEXT's ISO-8859-1 code, and CUE sheets
// are written in whatever the tool used; libcdio reads them all as ISO-8859-1. The bytes
// are taken back and read as UTF-8 where they are that, as Windows-1251 where they look
// like it, and as ISO-8859-1 otherwise.
std::string readableText(const char* asLatin1) {
    const Iconv toLatin1("ISO-8859-1", "UTF-8");
    const Iconv from1251("UTF-8", "CP1251");
    const std::string decoded = asLatin1;
    const auto bytes = toLatin1.convert(decoded);
    if (!bytes || *bytes == decoded) return decoded;
    if (store::isUtf8(*bytes)) return *bytes;
    if (looksLike1251(*bytes)) {
        if (auto text = from1251.convert(*bytes)) return *text;
    }
    return decoded;
}

std::string cdText(cdtext_t* text, cdtext_field_t field, track_t track) {
    if (!text) return {};
    const char* value = cdtext_get_const(text, field, track);
    return value ? readableText(value) : std::string();
}

// libcdio reports on stderr what it cannot open; the reader says it in its own message.
void quietLog(cdio_log_level_t, const char*) {}

// libcdio reads a CUE sheet's data from the BIN named like the sheet, whatever its FILE
// line says. When that file is missing but the FILE line names one beside the sheet, the
// sheet is read through a copy in a temporary folder beside a link so named.
class CueAlias {
public:
    explicit CueAlias(const fs::path& cue) {
        std::error_code error;
        if (const CdioText expected{cdio_is_cuefile(cue.c_str())};
            expected && fs::exists(expected.get(), error))
            return;
        const auto named = binNamedIn(cue);
        if (!named) return;
        const fs::path bin = cue.parent_path() / *named;
        if (!fs::exists(bin, error))
            throw ReadFailed("Не найден файл " + quoted(bin) + ", на который ссылается " +
                             quoted(cue));
        std::string pattern = (fs::temp_directory_path() / "korvalen-cue-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw ReadFailed("Не удалось создать временную папку, чтобы прочитать " + quoted(cue));
        folder_ = pattern;
        fs::copy_file(cue, folder_ / "disc.cue", error);
        if (!error) fs::create_symlink(fs::absolute(bin), folder_ / "disc.bin", error);
        if (error)
            throw ReadFailed("Не удалось подготовить к чтению " + quoted(cue) + ": " +
                             error.message());
    }
    ~CueAlias() {
        std::error_code error;
        if (!folder_.empty()) fs::remove_all(folder_, error);
    }
    CueAlias(const CueAlias&) = delete;
    CueAlias& operator=(const CueAlias&) = delete;

    fs::path sheet(const fs::path& cue) const {
        return folder_.empty() ? cue : folder_ / "disc.cue";
    }

private:
    static std::optional<std::string> binNamedIn(const fs::path& cue) {
        std::ifstream in(cue);
        std::string line;
        while (std::getline(in, line)) {
            if (auto name = fileNamedOn(line)) return name;
        }
        return std::nullopt;
    }
    // FILE "name" BINARY, or FILE name BINARY.
    static std::optional<std::string> fileNamedOn(std::string_view line) {
        constexpr std::string_view blanks = " \t\r";
        const auto start = line.find_first_not_of(blanks);
        if (start == std::string_view::npos || line.size() < start + 5) return std::nullopt;
        std::string keyword(line.substr(start, 4));
        for (char& c : keyword) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (keyword != "FILE" || blanks.find(line[start + 4]) == std::string_view::npos)
            return std::nullopt;
        line.remove_prefix(std::min(line.size(), line.find_first_not_of(blanks, start + 4)));
        if (line.starts_with('"')) {
            const auto close = line.find('"', 1);
            if (close == std::string_view::npos) return std::nullopt;
            return std::string(line.substr(1, close - 1));
        }
        const auto name = line.substr(0, line.find_first_of(blanks));
        return name.empty() ? std::nullopt : std::optional<std::string>(name);
    }

    fs::path folder_;
};

bool isCueSheet(const fs::path& source) {
    std::string extension = source.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    return extension == ".cue";
}

// The alias, when one is needed, is kept while libcdio reads through it.
Cdio openCue(const fs::path& cue, std::unique_ptr<CueAlias>& alias) {
    std::error_code error;
    if (!fs::is_regular_file(cue, error)) throw ReadFailed("Не найден файл " + quoted(cue));
    alias = std::make_unique<CueAlias>(cue);
    Cdio cdio(cdio_open_cue(alias->sheet(cue).c_str()));
    if (!cdio) {
        throw ReadFailed("Не удалось прочитать " + quoted(cue) +
                         ": это не лист CUE аудиодиска или рядом нет его файла BIN");
    }
    return cdio;
}

Cdio openDrive(const fs::path& device) {
    Cdio cdio(cdio_open(device.c_str(), DRIVER_DEVICE));
    if (!cdio)
        throw ReadFailed("Не удалось открыть привод " + quoted(device) +
                         ": в нём нет диска или к нему нет доступа");
    return cdio;
}

struct TableOfContents {
    track_t first = 0;
    track_t last = 0;
    int leadOut = 0;  // in sectors from the disc's start, the 2-second lead-in included
};

TableOfContents tableOf(CdIo_t* cdio, const fs::path& source) {
    TableOfContents toc;
    toc.first = cdio_get_first_track_num(cdio);
    const track_t count = cdio_get_num_tracks(cdio);
    if (toc.first == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK || count == 0)
        throw ReadFailed("На диске " + quoted(source) + " нет дорожек");
    toc.last = static_cast<track_t>(toc.first + count - 1);
    toc.leadOut = cdio_get_track_lba(cdio, CDIO_CDROM_LEADOUT_TRACK);
    return toc;
}

// The MusicBrainz disc id counts an Enhanced CD's audio only: a data track at the end is
// left out and the audio ends a session gap before it.
std::string discIdOf(CdIo_t* cdio, const TableOfContents& toc) {
    int last = toc.last;
    int leadOut = toc.leadOut;
    if (last > toc.first && cdio_get_track_format(cdio, toc.last) == TRACK_FORMAT_DATA) {
        leadOut = cdio_get_track_lba(cdio, toc.last) - kSessionGap;
        --last;
    }
    std::array<int, 100> offsets{};
    offsets[0] = leadOut;
    for (int track = toc.first; track <= last; ++track)
        offsets[track] = cdio_get_track_lba(cdio, static_cast<track_t>(track));
    Disc disc(discid_new());
    if (!disc || !discid_put(disc.get(), toc.first, last, offsets.data())) return {};
    return discid_get_id(disc.get());
}

}  // namespace

void readAudioDisc(const fs::path& cueOrDevice, store::ContentsSink& sink, store::SourceKind kind) {
    cdio_log_set_handler(quietLog);
    std::unique_ptr<CueAlias> alias;
    const Cdio cdio =
        isCueSheet(cueOrDevice) ? openCue(cueOrDevice, alias) : openDrive(cueOrDevice);
    const TableOfContents toc = tableOf(cdio.get(), cueOrDevice);
    cdtext_t* text = cdio_get_cdtext(cdio.get());  // owned by cdio

    store::VolumeFacts facts;
    facts.kind = kind;
    facts.origin = cueOrDevice.string();
    facts.fileSystem = "cdda";
    facts.label = cdText(text, CDTEXT_FIELD_TITLE, 0);
    facts.capacity =
        int64_t{toc.leadOut - cdio_get_track_lba(cdio.get(), toc.first)} * kAudioSectorSize;
    facts.freeSpace = 0;
    facts.discId = discIdOf(cdio.get(), toc);
    if (const CdioText mcn{cdio_get_mcn(cdio.get())}) {
        // A disc without one reports thirteen zeros.
        if (std::string(mcn.get()).find_first_not_of('0') != std::string::npos)
            facts.catalogueNumber = mcn.get();
    }
    sink.volume(facts);

    for (int number = toc.first; number <= toc.last; ++number) {
        if (sink.stopRequested()) throw store::ReadStopped();
        const auto track = static_cast<track_t>(number);
        store::Track found;
        found.number = number;
        found.sectors = cdio_get_track_sec_count(cdio.get(), track);
        found.title = cdText(text, CDTEXT_FIELD_TITLE, track);
        found.performer = cdText(text, CDTEXT_FIELD_PERFORMER, track);
        sink.track(found);
    }
}

}  // namespace contents
