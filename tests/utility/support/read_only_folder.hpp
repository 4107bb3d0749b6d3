// A folder that this process cannot write into, as a read-only share or
// file system is, for the life of the object.
#pragma once

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace vttest {

// Makes a folder read-only: by its permissions, or for root, whom
// permissions do not stop, by a read-only bind mount of the folder onto
// itself in a mount namespace of the test process's own.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const std::string &path) : path_(path) {
        if (::geteuid() != 0) {
            ok_ = ::chmod(path.c_str(), 0555) == 0;
            return;
        }
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount(path.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) != 0)
            return;
        mounted_ = true;
        ok_ = ::mount(nullptr, path.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
    }
    ~ReadOnlyFolder() {
        if (mounted_)
            ::umount2(path_.c_str(), MNT_DETACH);
        else
            ::chmod(path_.c_str(), 0755);
    }
    bool Ok() const { return ok_ && ::access(path_.c_str(), W_OK) != 0; }
    // Read-only for the file system itself, not only by its permissions
    // (which a program may change back).
    bool Mounted() const { return mounted_ && ok_; }

private:
    std::string path_;
    bool mounted_ = false;
    bool ok_ = false;
};

}  // namespace vttest
