// The tree under a folder or a mounted disc, read by file descriptors relative to each
// folder (no path is built per file), links and mount loops kept but never followed.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "contents/readers.h"
#include "store/contentsstore.h"
#include "store/systemerror.h"

namespace contents {
namespace {

namespace fs = std::filesystem;
using store::ContentsSink;
using store::FolderId;

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            if (fd_ >= 0) ::close(fd_);
            fd_ = other.release();
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

// ---- the volume ------------------------------------------------------------------------

struct Mount {
    std::string point;
    std::string fileSystem;
    std::string source;
};

// mountinfo writes a space, tab, newline and backslash in a path as \ooo.
std::string unescapeOctal(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3') {
            out +=
                static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// /dev/disk/by-label writes unsafe bytes of a label as \xHH.
std::string unescapeHex(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x' && hexDigit(s[i + 2]) >= 0 &&
            hexDigit(s[i + 3]) >= 0) {
            out += static_cast<char>(hexDigit(s[i + 2]) * 16 + hexDigit(s[i + 3]));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

bool within(const std::string& path, const std::string& point) {
    if (point == "/") return true;
    return path.compare(0, point.size(), point) == 0 &&
           (path.size() == point.size() || path[point.size()] == '/');
}

// The mount holding path (resolved): of the mounts of its device, the deepest above it.
Mount mountOf(const std::string& path, dev_t device) {
    Mount best;
    std::ifstream info("/proc/self/mountinfo");
    std::string line;
    const std::string dev = std::to_string(major(device)) + ":" + std::to_string(minor(device));
    while (std::getline(info, line)) {
        // id parent major:minor root point options [optional...] - type source super
        std::vector<std::string_view> f;
        std::string_view rest(line);
        while (!rest.empty()) {
            const size_t space = rest.find(' ');
            f.push_back(rest.substr(0, space));
            rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
        }
        size_t dash = 6;
        while (dash < f.size() && f[dash] != "-") ++dash;
        if (f.size() < 5 || dash + 2 >= f.size() || f[2] != dev) continue;
        const std::string point = unescapeOctal(f[4]);
        if (!within(path, point) || point.size() < best.point.size()) continue;
        best = {point, std::string(f[dash + 1]), unescapeOctal(f[dash + 2])};
    }
    return best;
}

std::string labelOf(const std::string& source) {
    std::error_code ec;
    const fs::path device = fs::canonical(source, ec);
    if (ec) return {};
    for (const auto& link : fs::directory_iterator("/dev/disk/by-label", ec)) {
        std::error_code lc;
        if (fs::canonical(link.path(), lc) == device && !lc)
            return unescapeHex(link.path().filename().string());
    }
    return {};
}

bool opticalFileSystem(const std::string& type) {
    return type == "iso9660" || type == "udf";
}

store::VolumeFacts volumeOf(const fs::path& folder, int fd, const struct stat& st) {
    store::VolumeFacts facts;
    facts.origin = folder.string();
    std::error_code ec;
    const std::string real = fs::canonical(folder, ec).string();
    const Mount mount = mountOf(ec ? folder.string() : real, st.st_dev);
    facts.fileSystem = mount.fileSystem;
    facts.label = labelOf(mount.source);
    struct statvfs vfs {};
    if (::fstatvfs(fd, &vfs) == 0) {
        facts.capacity = static_cast<int64_t>(vfs.f_blocks) * static_cast<int64_t>(vfs.f_frsize);
        facts.freeSpace = static_cast<int64_t>(vfs.f_bavail) * static_cast<int64_t>(vfs.f_frsize);
    }
    const bool optical =
        opticalFileSystem(mount.fileSystem) || mount.source.rfind("/dev/sr", 0) == 0;
    facts.kind = !mount.point.empty() && mount.point == real && optical ? store::SourceKind::Mount
                                                                        : store::SourceKind::Folder;
    return facts;
}

// ---- the tree --------------------------------------------------------------------------

struct Place {
    dev_t device;
    ino_t inode;
};

class Walker {
public:
    explicit Walker(ContentsSink& sink) : sink_(sink) {}

    // fd: the folder, already handed to the sink as folder (or the root).
    void walk(int fd, FolderId folder, const struct stat& st) {
        ancestors_.push_back({st.st_dev, st.st_ino});
        readFolder(fd, folder);
        ancestors_.pop_back();
    }

private:
    struct Sub {
        size_t nameAt;
        size_t nameLength;
        int64_t modified;
        unsigned marks;
    };

    bool isAncestor(const struct stat& st) const {
        for (const Place& p : ancestors_)
            if (p.device == st.st_dev && p.inode == st.st_ino) return true;
        return false;
    }

    void askStop() {
        if (++sinceAsked_ >= kAskEvery) {
            sinceAsked_ = 0;
            if (sink_.stopRequested()) throw store::ReadStopped();
        }
    }

    static unsigned nameMarks(std::string_view name) {
        return store::isUtf8(name) ? 0u : unsigned{store::kNotUtf8};
    }

    // The folder's files are handed as they are read; its subfolders once it has been
    // read to the end and closed, each gone into at once: open folders are as many as the
    // tree is deep, and a subfolder is handed knowing whether it could be opened.
    void readFolder(int fd, FolderId folder) {
        std::string names;
        std::vector<Sub> subs;
        {
            const int own = ::dup(fd);
            const DirHandle dir(own >= 0 ? ::fdopendir(own) : nullptr);
            if (!dir) {
                if (own >= 0) ::close(own);
                return;
            }
            while (const dirent* e = ::readdir(dir.get())) {
                const std::string_view name(e->d_name);
                if (name == "." || name == "..") continue;
                askStop();
                unsigned marks = nameMarks(name);
                struct stat st {};
                if (::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                    sink_.file(folder, name, std::nullopt, std::nullopt,
                               marks | store::kUnreadable);
                    continue;
                }
                if (S_ISDIR(st.st_mode)) {
                    if (isAncestor(st)) marks |= store::kLinkLoop;  // a bind mount of its tree
                    subs.push_back({names.size(), name.size(), st.st_mtim.tv_sec, marks});
                    names.append(name);
                    continue;
                }
                if (S_ISLNK(st.st_mode)) {
                    marks |= store::kLink;
                    struct stat target {};
                    if (::fstatat(fd, e->d_name, &target, 0) == 0 && S_ISDIR(target.st_mode) &&
                        isAncestor(target))
                        marks |= store::kLinkLoop;
                } else if (!S_ISREG(st.st_mode)) {
                    marks |= store::kSpecial;
                }
                sink_.file(folder, name, st.st_size, st.st_mtim.tv_sec, marks);
            }
        }
        std::string name;
        for (const Sub& sub : subs) {
            name.assign(names, sub.nameAt, sub.nameLength);
            if (sub.marks & store::kLinkLoop) {
                sink_.folder(folder, name, sub.modified, sub.marks);
                continue;
            }
            // O_RDONLY on a folder asks for the right to list it.
            const Fd child(
                ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            struct stat st {};
            if (child.get() < 0 || ::fstat(child.get(), &st) != 0) {
                sink_.folder(folder, name, sub.modified, sub.marks | store::kUnreadable);
                continue;
            }
            const FolderId id = sink_.folder(folder, name, sub.modified, sub.marks);
            walk(child.get(), id, st);
        }
    }

    static constexpr int kAskEvery = 256;
    ContentsSink& sink_;
    std::vector<Place> ancestors_;
    int sinceAsked_ = 0;
};

}  // namespace

void readFolder(const fs::path& folder, ContentsSink& sink) {
    Fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0)
        throw store::ReadFailed("Не удалось открыть папку " + folder.string() + ": " +
                                store::systemErrorText(errno) + ".");
    sink.volume(volumeOf(folder, fd.get(), st));
    Walker(sink).walk(fd.get(), store::kRootFolder, st);
}

}  // namespace contents
