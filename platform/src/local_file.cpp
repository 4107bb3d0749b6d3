#include "vtplatform/local_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vt {

int OpenLocalFile(const std::string &path, LinkRule links, struct stat *st, std::string *error) {
    int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    if (links == LinkRule::Refuse) flags |= O_NOFOLLOW;
    const int fd = ::open(path.c_str(), flags);
    if (fd < 0) {
        const int err = errno;
        *error = err == ELOOP && links == LinkRule::Refuse ? "a symbolic link" : std::strerror(err);
        errno = err;
        return -1;
    }
    if (::fstat(fd, st) != 0) {
        const int err = errno;
        ::close(fd);
        *error = std::strerror(err);
        errno = err;
        return -1;
    }
    if (!S_ISREG(st->st_mode)) {
        ::close(fd);
        *error = S_ISDIR(st->st_mode) ? "a folder, not a regular file" : "not a regular file";
        errno = EINVAL;
        return -1;
    }
    return fd;
}

bool ReadLocalFile(const std::string &path, size_t maxBytes, LinkRule links, std::string *text, std::string *error,
                   struct stat *st) {
    struct stat own {};
    if (!st) st = &own;
    const int fd = OpenLocalFile(path, links, st, error);
    if (fd < 0) return false;
    const auto tooLarge = [&] {
        ::close(fd);
        *error = "larger than " + std::to_string(maxBytes) + " bytes";
        errno = EFBIG;
        return false;
    };
    if (st->st_size < 0 || static_cast<unsigned long long>(st->st_size) > maxBytes) return tooLarge();
    // One byte past the bound tells a file that grew since fstat from one
    // that ends at it.
    std::string buffer(static_cast<size_t>(st->st_size) + 1, '\0');
    size_t have = 0;
    for (;;) {
        if (have == buffer.size()) {
            if (buffer.size() > maxBytes) return tooLarge();
            buffer.resize(std::min(maxBytes + 1, buffer.size() * 2));
        }
        const ssize_t n = ::read(fd, buffer.data() + have, buffer.size() - have);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            *error = std::strerror(err);
            errno = err;
            return false;
        }
        if (n == 0) break;
        have += static_cast<size_t>(n);
    }
    ::close(fd);
    if (have > maxBytes) {
        *error = "larger than " + std::to_string(maxBytes) + " bytes";
        errno = EFBIG;
        return false;
    }
    buffer.resize(have);
    *text = std::move(buffer);
    return true;
}

}  // namespace vt
