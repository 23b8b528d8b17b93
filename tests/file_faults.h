#pragma once

// Faults of the file system and of other programs, made for real for a test: a table
// file locked by another connection, a read-only mount, a small file system filled to
// the brim. The mounts live in a mount namespace of the test's own.

#include <linux/capability.h>
#include <sys/types.h>

#include <filesystem>

#include "store/connection.h"

namespace faults {

// Another program's connection that holds one table file in a transaction: an
// exclusive one, or a reading one that keeps writers from committing.
class LockHolder {
public:
    explicit LockHolder(const std::filesystem::path& file, const char* begin = "BEGIN EXCLUSIVE");
    ~LockHolder();
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;
    bool held() const { return held_; }
    void release();

private:
    store::Connection db_;
    bool held_ = false;
};

// Moves the calling thread into a mount namespace of its own, once: what the test
// mounts there vanishes with it and is never seen outside. False where the process
// may not (no CAP_SYS_ADMIN).
bool ownMountNamespace();

// A folder or file bound read-only over itself in the test's own mount namespace.
class ReadOnlyMount {
public:
    explicit ReadOnlyMount(const std::filesystem::path& where);
    ~ReadOnlyMount();
    ReadOnlyMount(const ReadOnlyMount&) = delete;
    ReadOnlyMount& operator=(const ReadOnlyMount&) = delete;
    bool mounted() const { return mounted_; }
    // The same mount made writable again.
    bool makeWritable();

private:
    std::filesystem::path where_;
    bool mounted_ = false;
};

// A tmpfs of the given size ("2m") mounted on a folder, in the test's own namespace.
class SmallFileSystem {
public:
    SmallFileSystem(const std::filesystem::path& where, const char* size);
    ~SmallFileSystem();
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;
    bool mounted() const { return mounted_; }

private:
    std::filesystem::path where_;
    bool mounted_ = false;
};

// File permissions binding the calling thread as they bind a user: root's overrides of
// read, write and search permissions are dropped for the object's lifetime. Without
// root, permissions bind anyway and nothing changes.
class WithoutRootOverride {
public:
    WithoutRootOverride();
    ~WithoutRootOverride();
    WithoutRootOverride(const WithoutRootOverride&) = delete;
    WithoutRootOverride& operator=(const WithoutRootOverride&) = delete;

private:
    __user_cap_data_struct saved_[_LINUX_CAPABILITY_U32S_3] = {};
    bool dropped_ = false;
};

// Writes file until its file system has no room left, then gives back `spare` bytes.
// False when the file could not be written at all.
bool fillUp(const std::filesystem::path& file, off_t spare);

}  // namespace faults
