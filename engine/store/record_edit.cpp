#include "store/record_edit.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "localfiles/local_folder.hpp"
#include "session/result.hpp"
#include "store/record_file.hpp"
#include "vtplatform/diag.hpp"
#include "vtplatform/errors.hpp"
#include "vtplatform/text.hpp"

namespace vtbox {

namespace {

constexpr size_t kOwnNameBytes = 8;

uint32_t ErrnoCode(int err) {
    uint32_t code = vt::Win32FromErrno(err);
    return code != 0 ? code : vt::code(vt::Code::INTERNAL_ERROR);
}

// A record opened for writing, never through a symbolic link, never created.
class RecordFile {
public:
    explicit RecordFile(const std::string &path) : fd_(::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC)) {}
    ~RecordFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    RecordFile(const RecordFile &) = delete;
    RecordFile &operator=(const RecordFile &) = delete;
    bool Opened() const { return fd_ >= 0; }

    // Writes all of data at offset; false with errno set.
    bool WriteAt(off_t offset, const void *data, size_t size) {
        if (::lseek(fd_, offset, SEEK_SET) != offset) {
            seekFailed_ = true;
            return false;
        }
        const auto *p = static_cast<const unsigned char *>(data);
        while (size > 0) {
            ssize_t n = ::write(fd_, p, size);
            if (n < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            p += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }
    bool SeekFailed() const { return seekFailed_; }
    // Closes now; false when the close reports a failed write.
    bool Close() {
        int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
    bool seekFailed_ = false;
};

// A rename that never replaces what is already there, as a Windows rename
// never does. 0 or an errno value.
int RenameNoReplace(const std::string &from, const std::string &to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system without the flag: check, then rename (one thread owns the tree).
    struct stat st;
    if (::lstat(to.c_str(), &st) == 0) return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

std::string Join(const std::string &folder, const std::string &name) {
    std::string path = folder;
    path += '/';
    path += name;
    return path;
}

bool IsDirectory(const std::string &path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Writes the own name of an entry into the first 8 bytes of its record.
int WriteOwnName(const std::string &record, const std::string &ownName) {
    RecordFile file(record);
    if (!file.Opened()) return errno;
    if (!file.WriteAt(0, ownName.data(), kOwnNameBytes)) return errno != 0 ? errno : EIO;
    return file.Close() ? 0 : errno;
}

void StampRecord(const std::string &path, uint32_t deviceTime) {
    RecordFile file(path);
    if (!file.Opened()) {
        vt::DebugPrint("\n Cannot open %s to stamp its time \n", path.c_str());
        Raise(vt::Code::FILE_NOT_FOUND);
    }
    const unsigned char stamp[4] = {
        static_cast<unsigned char>(deviceTime >> 24), static_cast<unsigned char>(deviceTime >> 16),
        static_cast<unsigned char>(deviceTime >> 8), static_cast<unsigned char>(deviceTime)};
    if (!file.WriteAt(static_cast<off_t>(kRecordStampOffset), stamp, sizeof stamp)) {
        if (file.SeekFailed()) Raise(vt::Code::INVALID_DATA);
        Raise(ErrnoCode(errno));
    }
    if (!file.Close()) Raise(ErrnoCode(errno));
}

}  // namespace

void WriteRecordName(const std::string &folder, uint32_t number, const std::u16string &name, bool document) {
    std::string own = EntryName(number, document);
    unsigned char bytes[kRecordNameOffset + kRecordNameBytes] = {};
    std::memcpy(bytes, own.data(), kOwnNameBytes);
    size_t units = vt::Utf16PrefixLength(name, kRecordNameUnits);
    for (size_t i = 0; i < units; ++i) {
        bytes[kRecordNameOffset + 2 * i] = static_cast<unsigned char>(name[i] & 0xFF);
        bytes[kRecordNameOffset + 2 * i + 1] = static_cast<unsigned char>(name[i] >> 8);
    }
    RecordFile file(Join(folder, RecordFileName(own)));
    if (!file.Opened()) Raise(vt::Code::FILE_NOT_FOUND);
    if (!file.WriteAt(0, bytes, sizeof bytes) || !file.Close()) Raise(ErrnoCode(errno));
}

void StampDocumentTime(const std::string &folder, uint32_t deviceTime) {
    FindList folders, files;
    uint32_t rc = ListLocalFolder(folder, kDocumentItemPattern, nullptr, &files);
    if (rc == vt::code(vt::Code::NOT_ON_DEVICE)) Raise(rc);
    for (const auto &f : files) {
        if (f.dwFileAttributes & vt::kAttrReparsePoint) continue;  // a link is no record of ours
        StampRecord(Join(folder, f.cFileName), deviceTime);
    }
    rc = ListLocalFolder(folder, kFolderItemPattern, &folders, nullptr);
    if (rc == vt::code(vt::Code::NOT_ON_DEVICE)) Raise(rc);
    for (const auto &d : folders) StampDocumentTime(Join(folder, d.cFileName), deviceTime);
}

void RenumberEntry(const std::string &boxLevel, uint32_t folder, uint32_t document, uint32_t newNumber) {
    bool isDocument = document != 0;
    if (!isDocument && folder == 0) Raise(vt::Code::INVALID_PARAMETER);
    uint32_t oldNumber = isDocument ? document : folder;
    if (oldNumber == newNumber) return;
    if (newNumber == 0 || newNumber > kMaxEntryNumber) Raise(vt::Code::INVALID_PARAMETER);

    std::string level = boxLevel;
    if (isDocument && folder != 0) level = Join(level, EntryName(folder, false));
    std::string oldEntry = Join(level, EntryName(oldNumber, isDocument));
    std::string newEntry = Join(level, EntryName(newNumber, isDocument));

    // The entry's folder first. A document without a page folder has none to move.
    bool movedFolder = false;
    if (IsDirectory(oldEntry)) {
        if (int err = RenameNoReplace(oldEntry, newEntry)) Raise(ErrnoCode(err));
        movedFolder = true;
    }
    auto undoFolder = [&] {
        if (movedFolder && RenameNoReplace(newEntry, oldEntry) != 0)
            vt::DebugPrint("\n Cannot move %s back to %s \n", newEntry.c_str(), oldEntry.c_str());
    };

    std::string oldRecord = RecordFileName(oldEntry);
    std::string newRecord = RecordFileName(newEntry);
    int err = WriteOwnName(oldRecord, EntryName(newNumber, isDocument));
    if (err != 0) {
        undoFolder();
        Raise(vt::Code::FILE_NOT_FOUND);
    }
    err = RenameNoReplace(oldRecord, newRecord);
    if (err != 0) {
        WriteOwnName(oldRecord, EntryName(oldNumber, isDocument));
        undoFolder();
        Raise(ErrnoCode(err));
    }
}

}  // namespace vtbox
