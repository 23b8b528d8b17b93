#include "tests/file_faults.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <string>

namespace fs = std::filesystem;

namespace faults {

LockHolder::LockHolder(const fs::path& file, const char* begin) : db_(file) {
    held_ = db_.exec(begin);
}

LockHolder::~LockHolder() {
    release();
}

void LockHolder::release() {
    if (held_) db_.exec("ROLLBACK");
    held_ = false;
}

bool ownMountNamespace() {
    static const bool ok = unshare(CLONE_NEWNS) == 0 &&
                           mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    return ok;
}

ReadOnlyMount::ReadOnlyMount(const fs::path& where) : where_(where) {
    if (!ownMountNamespace()) return;
    if (mount(where.c_str(), where.c_str(), nullptr, MS_BIND, nullptr) != 0) return;
    mounted_ = true;
    if (mount(nullptr, where.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
        umount2(where.c_str(), MNT_DETACH);
        mounted_ = false;
    }
}

ReadOnlyMount::~ReadOnlyMount() {
    if (mounted_) umount2(where_.c_str(), MNT_DETACH);
}

bool ReadOnlyMount::makeWritable() {
    return mounted_ && mount(nullptr, where_.c_str(), nullptr, MS_REMOUNT | MS_BIND, nullptr) == 0;
}

SmallFileSystem::SmallFileSystem(const fs::path& where, const char* size) : where_(where) {
    if (!ownMountNamespace()) return;
    fs::create_directories(where);
    const std::string options = std::string("size=") + size;
    mounted_ = mount("tmpfs", where.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

SmallFileSystem::~SmallFileSystem() {
    if (mounted_) umount2(where_.c_str(), MNT_DETACH);
}

namespace {

__user_cap_header_struct thisThread() {
    return {_LINUX_CAPABILITY_VERSION_3, 0};
}

}  // namespace

WithoutRootOverride::WithoutRootOverride() {
    auto header = thisThread();
    if (syscall(SYS_capget, &header, saved_) != 0) return;
    __user_cap_data_struct less[_LINUX_CAPABILITY_U32S_3];
    std::copy(std::begin(saved_), std::end(saved_), std::begin(less));
    less[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    header = thisThread();
    dropped_ = syscall(SYS_capset, &header, less) == 0;
}

WithoutRootOverride::~WithoutRootOverride() {
    if (!dropped_) return;
    auto header = thisThread();
    syscall(SYS_capset, &header, saved_);
}

bool fillUp(const fs::path& file, off_t spare) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    const std::string chunk(64 * 1024, 'x');
    off_t size = 0;
    for (ssize_t n; (n = ::write(fd, chunk.data(), chunk.size())) > 0;) size += n;
    bool ok = size > 0;
    if (spare > 0) ok = ok && ftruncate(fd, size > spare ? size - spare : 0) == 0;
    ::close(fd);
    return ok;
}

}  // namespace faults
