#include "ftp/transfer_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace vtbox {

DownloadFile::DownloadFile(const std::string &finalPath) : final_(finalPath) {
    size_t slash = finalPath.rfind('/');
    // The folder part, with its "/": the temporary file goes beside the final one.
    std::string pattern = finalPath.substr(0, slash == std::string::npos ? 0 : slash + 1);
    pattern.append(".vtftp-XXXXXX");
    int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        errno_ = errno;
        return;
    }
    fd_ = UniqueFd(fd);
    temp_ = pattern;
    ::fchmod(fd, 0644);
}

DownloadFile::~DownloadFile() {
    fd_.reset();
    if (!temp_.empty()) ::unlink(temp_.c_str());
}

bool DownloadFile::Write(const char *data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd_.get(), data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool DownloadFile::Commit() {
    if (!fd_.Close()) return false;
    if (::rename(temp_.c_str(), final_.c_str()) != 0) return false;
    temp_.clear();
    return true;
}

HeldDownload::HeldDownload(HeldFiles &held, const std::string &finalPath) : held_(held), final_(finalPath) {
    if (!HeldFiles::Holdable(finalPath)) Spill();
}

HeldDownload::~HeldDownload() {
    if (!disk_ && !committed_) held_.Release(bytes_.size());
}

bool HeldDownload::Spill() {
    disk_ = std::make_unique<DownloadFile>(final_);
    const bool ok = disk_->Opened() && disk_->Write(bytes_.data(), bytes_.size());
    const int err = disk_->Opened() ? errno : disk_->OpenErrno();
    held_.Release(bytes_.size());
    bytes_ = std::string();
    errno = err;
    return ok;
}

bool HeldDownload::Write(const char *data, size_t size) {
    if (!disk_) {
        if (held_.Reserve(bytes_.size(), size)) {
            bytes_.append(data, size);
            return true;
        }
        if (!Spill()) return false;
    }
    if (!disk_->Opened()) {
        errno = disk_->OpenErrno();
        return false;
    }
    return disk_->Write(data, size);
}

bool HeldDownload::Commit() {
    if (disk_) {
        if (!disk_->Opened()) {
            errno = disk_->OpenErrno();
            return false;
        }
        if (!disk_->Commit()) return false;
        held_.Drop(final_);
        return true;
    }
    held_.Put(final_, std::move(bytes_), time(nullptr));
    committed_ = true;
    return true;
}

UploadFile::UploadFile(const std::string &path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    struct stat st;
    if (fd_.get() < 0) {
        errno_ = errno;
    } else if (::fstat(fd_.get(), &st) != 0) {
        errno_ = errno;
    } else if (S_ISDIR(st.st_mode)) {
        errno_ = EISDIR;
    } else {
        size_ = static_cast<uint64_t>(st.st_size);
    }
}

bool UploadFile::Rewind() { return ::lseek(fd_.get(), 0, SEEK_SET) == 0; }

long long UploadFile::Read(char *buffer, size_t size) {
    for (;;) {
        ssize_t n = ::read(fd_.get(), buffer, size);
        if (n < 0 && errno == EINTR) continue;
        return n;
    }
}

}  // namespace vtbox
