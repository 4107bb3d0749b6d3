// Local file helpers for packing and unpacking: full paths, folder trees,
// owned descriptors, and files that appear under their final name only once
// they are complete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vtbox {

// The path made absolute against the current folder, with "." and ".." parts
// and repeated or trailing "/" removed (no file-system access).
std::string FullPath(const std::string &path);

// The folder part of a full path ("/a/b" -> "/a", "/a" -> "/").
std::string ParentFolder(const std::string &path);

// The last name of a path ("/a/b" -> "b").
std::string LastName(const std::string &path);

// path joined to name with one "/".
std::string JoinPath(const std::string &folder, const std::string &name);

// Creates a folder and any missing parents. An existing folder counts as
// success; an existing file in the way fails, as does a path of PATH_MAX
// bytes or more (nothing of it is made). The memory it takes is that of the
// path, however deep. False with last error set.
bool CreateFolderTree(const std::string &path);

// True when something (file, folder or link) exists at path.
bool PathExists(const std::string &path);

// What stands at path when it is something a finished file must never take
// the place of ("a FIFO", "a character device", "a symbolic link", ...):
// replacing a device node or a link with a regular file is never what the
// caller meant (as root, "/dev/null" would be replaced). Null when path is a
// regular file or nothing at all.
const char *IrregularFileKind(const std::string &path);

// 0 when a finished file may take path's place; otherwise notes why not and
// returns 5 (the local disk refuses).
uint32_t CheckReplaceableTarget(const std::string &path);

// The path of an existing item whose last name equals path's without regard
// to case (names written on another system may differ in case: "DATA.ZIP"
// for "DATA.zip"). The path itself when it exists, or when nothing matches.
// Lists the folder without changing the current folder.
std::string FindIgnoringCase(const std::string &path);

// Writes all of data to fd (retrying short writes). False with last error set.
bool WriteAll(int fd, const void *data, size_t size);
// The same at an offset of fd, which keeps its file position. errno is left
// as the failing call set it.
bool WriteAllAt(int fd, const void *data, size_t size, uint64_t at);
// Reads exactly size bytes at offset at; a file that ends early fails with
// 38 (end of file). False with last error set.
bool ReadAllAt(int fd, void *data, size_t size, uint64_t at);

// Sets last error from errno and returns it (1359 when errno is 0, so that a
// failure never reads as success).
uint32_t LastErrorFromErrno(int err);

// An owned file descriptor, closed when the object dies.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd &&other) noexcept : fd_(other.release()) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.release();
        }
        return *this;
    }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset();
    // Closes now and reports a failed close (a late write error) as false.
    bool Close();

private:
    int fd_ = -1;
};

// A file being written under a unique hidden name (".vtbox-XXXXXX.part") in
// the folder of its final name. It takes the final name only when it is
// complete; until then, and on every failure path, the object removes it.
class PartFile {
public:
    PartFile() = default;
    ~PartFile();
    PartFile(const PartFile &) = delete;
    PartFile &operator=(const PartFile &) = delete;

    // Creates the file (mode 0666 less the umask) in folder. When keepOpen
    // is set the descriptor stays open for fd(). False with last error set.
    bool Create(const std::string &folder, bool keepOpen);
    const std::string &path() const { return path_; }
    int fd() const { return fd_.get(); }
    // Closes the descriptor; false when the close reports a write error.
    bool CloseFd() { return fd_.Close(); }

    // Gives the file its final name. Without replace an existing file is
    // never replaced (last error 183); with replace it is, in one step.
    bool Commit(const std::string &finalPath, bool replace);

    // Closes and removes the file now (as the destructor would).
    void Discard();

private:
    std::string path_;
    UniqueFd fd_;
};

}  // namespace vtbox
