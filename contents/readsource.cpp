// Which reader a source needs, told by what it is and, for a file or a device, by what
// it holds rather than by its name alone.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string>

#include "contents/readers.h"
#include "store/systemerror.h"

namespace contents {
namespace {

namespace fs = std::filesystem;

constexpr off_t kSector = 2048;

std::string lowered(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return s;
}

// A data disc's volume descriptors start at sector 16: "CD001" for ISO 9660, "BEA01",
// "NSR02"/"NSR03" and "TEA01" for UDF. An audio disc in a drive has no readable sector 16.
bool holdsFileSystem(int fd) {
    std::array<char, 8> id{};
    for (off_t sector = 16; sector < 20; ++sector) {
        if (::pread(fd, id.data(), id.size(), sector * kSector) != static_cast<ssize_t>(id.size()))
            return false;
        const std::string_view tag(id.data() + 1, 5);
        if (tag == "CD001" || tag == "BEA01" || tag == "NSR02" || tag == "NSR03") return true;
    }
    return false;
}

// A CUE sheet is short text whose commands name a FILE and its TRACKs.
bool looksLikeCueSheet(int fd) {
    std::array<char, 4096> head{};
    const ssize_t got = ::pread(fd, head.data(), head.size(), 0);
    if (got <= 0) return false;
    const std::string text = lowered(std::string(head.data(), static_cast<size_t>(got)));
    if (text.find('\0') != std::string::npos) return false;
    return text.find("file ") != std::string::npos && text.find("track ") != std::string::npos;
}

// A raw BIN is read through the CUE sheet beside it.
fs::path cueBeside(const fs::path& bin) {
    std::error_code ec;
    for (const char* ext : {".cue", ".CUE", ".Cue"}) {
        fs::path cue = bin;
        cue.replace_extension(ext);
        if (fs::is_regular_file(cue, ec)) return cue;
    }
    return {};
}

}  // namespace

void readSource(const fs::path& source, store::ContentsSink& sink) {
    struct stat st {};
    if (::stat(source.c_str(), &st) != 0)
        throw store::ReadFailed("Не найден источник " + source.string() + ": " +
                                store::systemErrorText(errno) + ".");
    if (S_ISDIR(st.st_mode)) return readFolder(source, sink);
    const bool device = S_ISBLK(st.st_mode);
    if (!device && !S_ISREG(st.st_mode))
        throw store::ReadFailed(source.string() +
                                " — не папка, не образ диска и не привод: прочитать нечего.");
    const int fd = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | (device ? O_NONBLOCK : 0));
    if (fd < 0)
        throw store::ReadFailed("Не удалось открыть " + source.string() + ": " +
                                store::systemErrorText(errno) + ".");
    const bool data = holdsFileSystem(fd);
    const bool cue = !device && !data && looksLikeCueSheet(fd);
    ::close(fd);
    const auto kind = device ? store::SourceKind::Drive : store::SourceKind::Image;
    if (data) return readDiscImage(source, sink, kind);
    if (device || cue) return readAudioDisc(source, sink, kind);
    if (const fs::path sheet = cueBeside(source); !sheet.empty())
        return readAudioDisc(sheet, sink, kind);
    throw store::ReadFailed("Файл " + source.string() +
                            " — не образ диска: в нём нет файловой системы ISO 9660 или UDF, "
                            "и это не CUE-файл звукового диска.");
}

}  // namespace contents
