#include "localfiles/local_file.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <random>
#include <vector>

#include "session/error_detail.hpp"
#include "vtplatform.h"
#include "vtplatform/errors.hpp"
#include "vtplatform/text.hpp"

namespace vtbox {

uint32_t LastErrorFromErrno(int err) {
    if (err == 0) {
        SetLastError(vt::code(vt::Code::INTERNAL_ERROR));
        return vt::code(vt::Code::INTERNAL_ERROR);
    }
    return vt::SetLastErrorFromErrno(err);
}

bool WriteAll(int fd, const void *data, size_t size) {
    auto *bytes = static_cast<const char *>(data);
    while (size > 0) {
        ssize_t put = write(fd, bytes, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            LastErrorFromErrno(put < 0 ? errno : ENOSPC);
            return false;
        }
        bytes += put;
        size -= static_cast<size_t>(put);
    }
    return true;
}

bool WriteAllAt(int fd, const void *data, size_t size, uint64_t at) {
    auto *bytes = static_cast<const char *>(data);
    while (size > 0) {
        ssize_t put = pwrite(fd, bytes, size, static_cast<off_t>(at));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            if (put == 0) errno = ENOSPC;
            int err = errno;
            LastErrorFromErrno(err);
            errno = err;
            return false;
        }
        bytes += put;
        at += static_cast<uint64_t>(put);
        size -= static_cast<size_t>(put);
    }
    return true;
}

bool ReadAllAt(int fd, void *data, size_t size, uint64_t at) {
    auto *bytes = static_cast<char *>(data);
    while (size > 0) {
        ssize_t got = pread(fd, bytes, size, static_cast<off_t>(at));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            LastErrorFromErrno(errno);
            return false;
        }
        if (got == 0) {
            SetLastError(vt::code(vt::Code::END_OF_FILE));
            return false;
        }
        bytes += got;
        at += static_cast<uint64_t>(got);
        size -= static_cast<size_t>(got);
    }
    return true;
}

std::string FullPath(const std::string &path) {
    std::string joined = path;
    if (path.empty() || path[0] != '/') {
        std::vector<char> cwd(4096);
        if (getcwd(cwd.data(), cwd.size())) joined = std::string(cwd.data()) + "/" + path;
    }
    std::vector<std::string> parts;
    size_t pos = 0;
    while (pos <= joined.size()) {
        size_t slash = joined.find('/', pos);
        if (slash == std::string::npos) slash = joined.size();
        std::string part = joined.substr(pos, slash - pos);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(std::move(part));
        }
        pos = slash + 1;
    }
    std::string out;
    for (const auto &p : parts) out += "/" + p;
    return out.empty() ? "/" : out;
}

std::string ParentFolder(const std::string &path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string LastName(const std::string &path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string JoinPath(const std::string &folder, const std::string &name) {
    if (folder.empty()) return name;
    if (folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

bool PathExists(const std::string &path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

const char *IrregularFileKind(const std::string &path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return nullptr;
    switch (st.st_mode & S_IFMT) {
    case S_IFREG: return nullptr;
    case S_IFLNK: return "a symbolic link";
    case S_IFDIR: return "a folder";
    case S_IFIFO: return "a FIFO";
    case S_IFCHR: return "a character device";
    case S_IFBLK: return "a block device";
    case S_IFSOCK: return "a socket";
    default: return "not a regular file";
    }
}

uint32_t CheckReplaceableTarget(const std::string &path) {
    const char *kind = IrregularFileKind(path);
    if (!kind) return 0;
    uint32_t rc = vt::code(vt::Code::ACCESS_DENIED);
    NoteFailure(rc, path + " is " + kind + ", not a regular file: it is never replaced by one");
    SetLastError(rc);
    return rc;
}

std::string FindIgnoringCase(const std::string &path) {
    if (PathExists(path)) return path;
    const std::string folder = ParentFolder(FullPath(path));
    const std::string name = LastName(path);
    DIR *dir = opendir(folder.c_str());
    if (!dir) return path;
    std::string found = path;
    while (dirent *e = readdir(dir)) {
        if (vt::EqualsIgnoreCase(e->d_name, name)) {
            found = JoinPath(folder, e->d_name);
            break;
        }
    }
    closedir(dir);
    return found;
}

bool CreateFolderTree(const std::string &path) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return true;
        SetLastError(vt::code(vt::Code::ALREADY_EXISTS));
        return false;
    }
    // No folder of a path the system cannot name is made, not even its first levels.
    if (path.size() >= PATH_MAX) {
        LastErrorFromErrno(ENAMETOOLONG);
        return false;
    }
    // Made from the top down in one copy of the path, each level cut off in
    // place: the memory stays that of the path, however many levels it has.
    std::string prefix = path;
    for (size_t end = prefix.find('/', 1);; end = prefix.find('/', end + 1)) {
        const bool last = end == std::string::npos;
        if (!last) prefix[end] = '\0';
        if (mkdir(prefix.c_str(), 0777) != 0) {
            int err = errno;
            // There already (or made by someone else meanwhile): fine, as long as it is a folder.
            if (err != EEXIST) {
                LastErrorFromErrno(err);
                return false;
            }
            if (stat(prefix.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
                SetLastError(vt::code(vt::Code::ALREADY_EXISTS));
                return false;
            }
        }
        if (last) return true;
        prefix[end] = '/';
    }
}

void UniqueFd::reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool UniqueFd::Close() {
    if (fd_ < 0) return true;
    int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0) {
        LastErrorFromErrno(errno);
        return false;
    }
    return true;
}

PartFile::~PartFile() { Discard(); }

void PartFile::Discard() {
    fd_.reset();
    if (!path_.empty()) unlink(path_.c_str());
    path_.clear();
}

bool PartFile::Create(const std::string &folder, bool keepOpen) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device seed;
    std::mt19937 gen(seed());
    std::uniform_int_distribution<size_t> pick(0, sizeof kLetters - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = ".vtbox-";
        for (int i = 0; i < 6; ++i) name += kLetters[pick(gen)];
        name += ".part";
        std::string candidate = JoinPath(folder, name);
        int fd = open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            path_ = candidate;
            fd_ = UniqueFd(fd);
            if (!keepOpen) fd_.Close();
            return true;
        }
        if (errno != EEXIST) {
            LastErrorFromErrno(errno);
            return false;
        }
    }
    SetLastError(vt::code(vt::Code::CANNOT_MAKE));
    return false;
}

bool PartFile::Commit(const std::string &finalPath, bool replace) {
    if (fd_ && !fd_.Close()) return false;
    if (replace) {
        if (CheckReplaceableTarget(finalPath) != 0) return false;
        if (rename(path_.c_str(), finalPath.c_str()) != 0) {
            LastErrorFromErrno(errno);
            return false;
        }
    } else if (renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, finalPath.c_str(), RENAME_NOREPLACE) != 0) {
        int err = errno;
        if (err != EINVAL && err != ENOSYS) {
            LastErrorFromErrno(err);
            return false;
        }
        // A file system without the no-replace rename: a hard link refuses an
        // existing name just the same.
        if (link(path_.c_str(), finalPath.c_str()) != 0) {
            LastErrorFromErrno(errno);
            return false;
        }
        unlink(path_.c_str());
    }
    path_.clear();
    return true;
}

}  // namespace vtbox
