#include "replace_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

namespace vtcli {

namespace {

// A temporary name that is taken (another writer at the same moment, or a
// name someone planted) is passed over for another; this many taken names
// in a row is no accident.
constexpr int kTemporaryNameTries = 16;

std::string Why(int err) { return std::strerror(err); }

}  // namespace

bool ReplaceFile(const std::string &path, const std::string &text, mode_t mode, std::string *error) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    // Hidden and with a suffix of its own, so that a reader of the folder
    // (the textfile collector takes every *.prom) never takes it for one of
    // its files.
    std::random_device random;
    std::string temporary;
    int fd = -1;
    for (int i = 0; i < kTemporaryNameTries && fd < 0; ++i) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
        temporary = folder + "/." + base + ".tmp-" + suffix;
        fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        *error = path + ": could not make a temporary file beside it: " + Why(errno);
        return false;
    }
    const auto fail = [&](const std::string &what, int err) {
        if (fd >= 0) close(fd);
        unlink(temporary.c_str());
        *error = path + ": " + what + ": " + Why(err);
        return false;
    };
    // The umask may have taken bits that the readers need (the node exporter
    // runs as a user of its own).
    if (fchmod(fd, mode) != 0) return fail("could not set the mode of its temporary file", errno);
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail("could not write its temporary file", errno);
        done += static_cast<size_t>(n);
    }
    if (fsync(fd) != 0) return fail("could not write its temporary file to disk", errno);
    const int closed = close(fd);
    fd = -1;
    if (closed != 0) return fail("could not write its temporary file", errno);
    if (rename(temporary.c_str(), path.c_str()) != 0) return fail("could not replace it", errno);
    // The rename itself lasts only once the folder is on disk.
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0 || fsync(dir) != 0) {
        const int err = errno;
        if (dir >= 0) close(dir);
        *error = path + ": written, but its folder could not be written to disk: " + Why(err);
        return false;
    }
    close(dir);
    return true;
}

}  // namespace vtcli
