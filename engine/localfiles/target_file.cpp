#include "localfiles/target_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "localfiles/local_file.hpp"
#include "vtplatform/errors.hpp"

namespace vtbox {

namespace {
uint32_t CopyBeside(const std::string &from, const std::string &target, std::string *temp) {
    std::string folder = ".";
    size_t slash = target.rfind('/');
    if (slash != std::string::npos) folder = slash == 0 ? "/" : target.substr(0, slash);
    std::string tmpl = folder + "/.vtbox-XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int out = mkstemp(name.data());
    if (out < 0) return vt::Win32FromErrno(errno);
    *temp = name.data();
    int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    int err = in < 0 ? errno : 0;
    std::vector<char> buf(1 << 20);
    while (!err) {
        ssize_t n = read(in, buf.data(), buf.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            err = errno;
            break;
        }
        if (n == 0) break;
        for (ssize_t done = 0; done < n && !err;) {
            ssize_t w = write(out, buf.data() + done, static_cast<size_t>(n - done));
            if (w < 0 && errno != EINTR) err = errno;
            if (w > 0) done += w;
        }
    }
    if (!err && fsync(out) != 0) err = errno;
    if (close(out) != 0 && !err) err = errno;
    if (in >= 0) close(in);
    if (err) {
        unlink(temp->c_str());
        return vt::Win32FromErrno(err);
    }
    fchmodat(AT_FDCWD, temp->c_str(), 0644, 0);
    return 0;
}
}  // namespace

uint32_t ReplaceTargetFile(const std::string &finished, const std::string &target) {
    if (uint32_t rc = CheckReplaceableTarget(target)) return rc;
    if (rename(finished.c_str(), target.c_str()) == 0) return 0;
    if (errno != EXDEV) return vt::Win32FromErrno(errno);
    std::string temp;
    if (uint32_t rc = CopyBeside(finished, target, &temp)) return rc;
    if (rename(temp.c_str(), target.c_str()) != 0) {
        uint32_t rc = vt::Win32FromErrno(errno);
        unlink(temp.c_str());
        return rc;
    }
    unlink(finished.c_str());
    return 0;
}

}  // namespace vtbox
