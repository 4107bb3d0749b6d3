// The local ends of FTP transfers: a download target that takes its name only
// once the whole file has arrived, and a local file read for an upload.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "ftp/ftp_session.hpp"
#include "localfiles/held_files.hpp"
#include "localfiles/local_file.hpp"

namespace vtbox {

// A temporary file beside the final one (".vtftp-XXXXXX", mode 0644),
// renamed over it by Commit and removed otherwise.
class DownloadFile : public FtpSink {
public:
    explicit DownloadFile(const std::string &finalPath);
    ~DownloadFile() override;
    DownloadFile(const DownloadFile &) = delete;
    DownloadFile &operator=(const DownloadFile &) = delete;

    bool Opened() const { return static_cast<bool>(fd_); }
    int OpenErrno() const { return errno_; }
    bool Write(const char *data, size_t size) override;
    // Puts the file in place; false with errno set.
    bool Commit();

private:
    std::string final_;
    std::string temp_;
    UniqueFd fd_;
    int errno_ = 0;
};

// A download kept in memory (HeldFiles) while it stays within the held
// files' bounds; once it would pass one, what came so far goes into a
// DownloadFile and the rest follows it there.
class HeldDownload : public FtpSink {
public:
    HeldDownload(HeldFiles &held, const std::string &finalPath);
    // What an unfinished file reserved is released; its temporary file goes.
    ~HeldDownload() override;
    HeldDownload(const HeldDownload &) = delete;
    HeldDownload &operator=(const HeldDownload &) = delete;

    // False with errno set when the work tree refuses the file.
    bool Write(const char *data, size_t size) override;
    // Hands the file to the held files, or puts it in place on disk (then
    // it is no longer held from an earlier try); false with errno set.
    bool Commit();

private:
    bool Spill();

    HeldFiles &held_;
    std::string final_;
    std::string bytes_;
    std::unique_ptr<DownloadFile> disk_;
    bool committed_ = false;
};

// A local regular file, read from its start.
class UploadFile : public FtpSource {
public:
    explicit UploadFile(const std::string &path);
    bool Opened() const { return errno_ == 0; }
    int OpenErrno() const { return errno_; }
    uint64_t Size() const { return size_; }
    bool Rewind();
    long long Read(char *buffer, size_t size) override;

private:
    UniqueFd fd_;
    int errno_ = 0;
    uint64_t size_ = 0;
};

// Nothing to send: an empty remote file.
class EmptySource : public FtpSource {
public:
    long long Read(char *, size_t) override { return 0; }
};

}  // namespace vtbox
