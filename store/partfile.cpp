#include "store/partfile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "store/error.h"
#include "store/systemerror.h"

namespace store {
namespace {

namespace fs = std::filesystem;

// ".NAME.part-" and the writer's process number: hidden, and told apart from any file a
// user would make.
std::string partPrefix(const fs::path& finished) {
    std::string prefix(".");  // appended piece by piece: GCC 12 misreads "." + ... at -O3
    prefix.append(finished.filename().string()).append(".part-");
    return prefix;
}

bool lockedByNobody(int fd) {
    return ::flock(fd, LOCK_EX | LOCK_NB) == 0;
}

void syncFile(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    const int synced = ::fsync(fd);
    const int err = errno;
    ::close(fd);
    if (synced != 0)
        throw Error(Error::Kind::Io,
                    "Не удалось записать " + file.string() + ": " + systemErrorText(err) + ".");
}

void syncFolder(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);  // a folder's own sync fails harmlessly on some file systems
    ::close(fd);
}

}  // namespace

PartPath::PartPath(fs::path finished, Kind kind) : finished_(std::move(finished)), kind_(kind) {
    const fs::path folder =
        finished_.parent_path().empty() ? fs::path(".") : finished_.parent_path();
    part_ = folder / (partPrefix(finished_) + std::to_string(::getpid()));
    std::error_code ec;
    fs::remove_all(part_, ec);  // a process of the same number before us, long gone
    int err = 0;
    if (kind_ == Kind::File) {
        lock_ = ::open(part_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (lock_ < 0) err = errno;
    } else if (::mkdir(part_.c_str(), 0755) != 0) {
        err = errno;
    } else {
        lock_ = ::open(part_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (lock_ < 0) err = errno;
    }
    if (err == 0 && ::flock(lock_, LOCK_EX | LOCK_NB) != 0) err = errno;
    if (err != 0) {
        if (lock_ >= 0) ::close(lock_);
        lock_ = -1;
        fs::remove_all(part_, ec);
        if (err == ENOENT)
            throw Error(Error::Kind::Missing, "Не найдена папка " + folder.string() + ", куда " +
                                                  "нужно записать " + finished_.string() + ".");
        throw Error(err == ENOSPC ? Error::Kind::DiskFull : Error::Kind::ReadOnly,
                    std::string(kind_ == Kind::File ? "Не удалось записать файл "
                                                    : "Не удалось записать папку ") +
                        finished_.string() + ": " + systemErrorText(err) + ".");
    }
}

PartPath::~PartPath() {
    if (!handedOver_) {
        std::error_code ec;
        fs::remove_all(part_, ec);
    }
    if (lock_ >= 0) ::close(lock_);
}

void PartPath::handOver(const fs::path& as) {
    if (!as.empty()) finished_ = as;
    if (kind_ == Kind::File) {
        if (::fsync(lock_) != 0)
            throw Error(Error::Kind::Io, "Не удалось записать " + finished_.string() + ": " +
                                             systemErrorText(errno) + ".");
        if (::rename(part_.c_str(), finished_.c_str()) != 0)
            throw Error(Error::Kind::Io, "Не удалось записать " + finished_.string() + ": " +
                                             systemErrorText(errno) + ".");
    } else {
        std::error_code ec;
        for (fs::recursive_directory_iterator it(part_, ec), end; !ec && it != end;
             it.increment(ec))
            if (it->is_regular_file(ec)) syncFile(it->path());
        syncFolder(part_);
        if (::renameat2(AT_FDCWD, part_.c_str(), AT_FDCWD, finished_.c_str(), RENAME_NOREPLACE) !=
            0)
            throw Error(Error::Kind::Io, "Не удалось поместить копию в " + finished_.string() +
                                             ": " + systemErrorText(errno) + ".");
    }
    handedOver_ = true;
    syncFolder(finished_.parent_path().empty() ? fs::path(".") : finished_.parent_path());
}

std::vector<fs::path> removeKilledParts(const fs::path& finished) {
    std::vector<fs::path> removed;
    const fs::path folder = finished.parent_path().empty() ? fs::path(".") : finished.parent_path();
    const std::string prefix = partPrefix(finished);
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(prefix, 0) != 0 || it->is_symlink(ec)) continue;
        const int fd = ::open(it->path().c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        if (lockedByNobody(fd)) {
            std::error_code removing;
            fs::remove_all(it->path(), removing);
            if (!removing) removed.push_back(it->path());
        }
        ::close(fd);
    }
    return removed;
}

fs::path throughLinks(const fs::path& path) {
    fs::path at = path;
    std::error_code ec;
    for (int hops = 0; hops < 40 && fs::is_symlink(at, ec); ++hops) {
        const fs::path target = fs::read_symlink(at, ec);
        if (ec) break;
        at = target.is_absolute() ? target : at.parent_path() / target;
    }
    return at;
}

}  // namespace store
