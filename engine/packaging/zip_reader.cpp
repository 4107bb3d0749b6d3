#include "packaging/zip_reader.hpp"

#include <fcntl.h>
#include <minizip/unzip.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <vector>

#include "localfiles/local_file.hpp"
#include "packaging/entry_name.hpp"
#include "session/waits.hpp"
#include "vtplatform.h"
#include "vtplatform/diag.hpp"
#include "vtplatform/errors.hpp"
#include "vtplatform/find.hpp"
#include "vtplatform/text.hpp"

namespace vtbox {

namespace {

// Whether the file system of folder has room for bytes more (what the archive
// declares is all an entry may unpack to: a longer one is refused as damaged).
bool RoomFor(const std::string &folder, uint64_t bytes) {
    struct statvfs fs;
    if (statvfs(folder.c_str(), &fs) != 0) return true;  // unknown: the writes will tell
    uint64_t freeBytes = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
    if (bytes <= freeBytes) return true;
    vt::DebugPrint("\n %llu bytes to unpack, %llu free in %s \n", static_cast<unsigned long long>(bytes),
                   static_cast<unsigned long long>(freeBytes), folder.c_str());
    return false;
}

}  // namespace

namespace {

constexpr size_t kMaxComment = 255;
constexpr uint32_t kFlagEncrypted = 0x0001;

bool Fail(vt::Code code) {
    SetLastError(vt::code(code));
    return false;
}

// minizip does not find an end record at the very start of the file, which
// is where an archive without entries has it. Such an archive is valid.
bool IsEmptyArchive(int fd, off_t size) {
    constexpr off_t kEndRecord = 22;
    if (size < kEndRecord || size > kEndRecord + 0xFFFF) return false;
    unsigned char rec[kEndRecord];
    if (pread(fd, rec, sizeof rec, 0) != static_cast<ssize_t>(sizeof rec)) return false;
    static constexpr unsigned char kSignature[] = {'P', 'K', 5, 6};
    for (int i = 0; i < 4; ++i)
        if (rec[i] != kSignature[i]) return false;
    for (int i = 4; i < 20; ++i)  // disk numbers, counts, size and offset: all 0
        if (rec[i] != 0) return false;
    return static_cast<off_t>(rec[20] | (rec[21] << 8)) == size - kEndRecord;
}

std::string JoinParts(const std::vector<std::string> &parts) {
    std::string out;
    for (const auto &p : parts) out += (out.empty() ? "" : "/") + p;
    return out;
}

}  // namespace

ZipReader::~ZipReader() { Close(); }

void ZipReader::Close() {
    archiveFd_.reset();
    entries_.clear();
    current_ = 0;
}

// minizip finds the end records (zip64 ones included) and where the central
// directory begins; every record is then read and checked by ReadDirectory.
bool ZipReader::ReadEntries(const std::string &archive, uint64_t fileSize) {
    unzFile unz = unzOpen64(archive.c_str());
    if (!unz) {
        if (IsEmptyArchive(archiveFd_.get(), static_cast<off_t>(fileSize))) return true;
        return Fail(vt::Code::DAMAGED_FILE);
    }
    unz_global_info64 global{};
    bool ok = unzGetGlobalInfo64(unz, &global) == UNZ_OK;
    // Where the first record is; a place no record can be when minizip finds
    // none, so that the count is still judged before anything is read.
    uint64_t first = UINT64_MAX;
    if (ok && global.number_entry > 0 && unzGoToFirstFile(unz) == UNZ_OK) first = unzGetOffset64(unz);
    unzClose(unz);
    if (!ok) return Fail(vt::Code::DAMAGED_FILE);
    if (global.number_entry == 0) return true;
    return ReadDirectory(archiveFd_.get(), fileSize, first, global.number_entry, &entries_, &problem_);
}

bool ZipReader::Open(const std::string &archive) {
    Close();
    problem_.clear();
    std::string full = FullPath(archive);
    // Say why a file cannot be read before minizip turns it into "no zip".
    UniqueFd fd(::open(full.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        LastErrorFromErrno(errno);
        return false;
    }
    struct stat st;
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return Fail(vt::Code::DAMAGED_FILE);
    archiveFd_ = std::move(fd);
    if (!ReadEntries(full, static_cast<uint64_t>(st.st_size))) {
        uint32_t code = GetLastError();
        Close();
        SetLastError(code);
        return false;
    }
    current_ = entries_.size();
    outputFolder_ = ParentFolder(full);
    return true;
}

uint64_t ZipReader::EntryCount() { return entries_.size(); }

bool ZipReader::Move(bool first, const char *extension) {
    if (!IsOpen()) return Fail(vt::Code::INVALID_HANDLE);
    size_t next = first ? 0 : (current_ < entries_.size() ? current_ + 1 : entries_.size());
    for (; next < entries_.size(); ++next)
        if (!extension || vt::EqualsIgnoreCase(EntryExtension(entries_[next].name), extension)) break;
    current_ = next;
    if (current_ >= entries_.size()) return Fail(vt::Code::NO_MORE_FILES);
    return true;
}

bool ZipReader::GotoFirst(const char *extension) { return Move(true, extension); }
bool ZipReader::GotoNext(const char *extension) { return Move(false, extension); }

bool ZipReader::CurrentInfo(ZipEntryInfo *out) {
    if (!IsOpen()) return Fail(vt::Code::INVALID_HANDLE);
    if (current_ >= entries_.size()) return Fail(vt::Code::NO_MORE_FILES);
    const DirectoryEntry &e = entries_[current_];
    const DirectoryEntry &r = e;
    out->name = e.name;
    const std::string_view comment = e.comment();
    out->comment.assign(comment.substr(0, vt::Utf8PrefixLength(comment, kMaxComment)));
    out->flags = r.flags;
    out->method = r.method;
    out->dosDateTime = r.dosDateTime;
    out->crc = r.crc;
    out->compressedSize = r.compressedSize;
    out->uncompressedSize = r.uncompressedSize;
    out->externalAttributes = r.externalAttributes;
    out->isFolder = e.isFolder;
    return true;
}

bool ZipReader::Locate(std::string_view name, bool ignorePath) {
    if (!IsOpen()) return Fail(vt::Code::INVALID_HANDLE);
    // Names stored with "/" match a name asked with "\\" and the other way round.
    const std::string normalized = NormalizeEntryName(name);
    for (int pass = 0; pass < (ignorePath ? 2 : 1); ++pass) {
        for (size_t i = 0; i < entries_.size(); ++i) {
            const DirectoryEntry &e = entries_[i];
            if ((pass == 0 && vt::EqualsIgnoreCase(e.name, normalized)) ||
                (pass == 1 && !e.isFolder && vt::EqualsIgnoreCase(EntryBaseName(e.name), name))) {
                current_ = i;
                return true;
            }
        }
    }
    return Fail(vt::Code::FILE_NOT_FOUND);
}

bool ZipReader::ExtractCurrent(const std::string &target, bool ignorePath, const std::string &saveAs) {
    if (!IsOpen()) return Fail(vt::Code::INVALID_HANDLE);
    if (current_ >= entries_.size()) return Fail(vt::Code::NO_MORE_FILES);
    if (target.empty()) return Fail(vt::Code::INVALID_PARAMETER);
    outputFolder_ = FullPath(target);
    if (!CreateFolderTree(outputFolder_)) return false;

    ZipEntryInfo info;
    if (!CurrentInfo(&info)) return false;
    std::vector<std::string> parts;
    if (!SplitSafeEntryName(info.name, &parts)) {
        vt::DebugPrint("\n Entry %s would leave the target folder, refused \n", info.name.c_str());
        return Fail(vt::Code::INVALID_NAME);
    }
    if (info.isFolder) return CreateFolderTree(JoinPath(outputFolder_, JoinParts(parts)));

    std::string relative;
    if (!ignorePath)
        relative = JoinParts(parts);
    else if (saveAs.empty())
        relative = parts.back();
    else if (saveAs.find('/') == std::string::npos && saveAs != "." && saveAs != "..")
        relative = saveAs;
    else
        return Fail(vt::Code::INVALID_NAME);
    std::string destination = JoinPath(outputFolder_, relative);
    if (!CreateFolderTree(ParentFolder(destination))) return false;
    if (!RoomFor(ParentFolder(destination), info.uncompressedSize)) return Fail(vt::Code::DISK_FULL);
    return ExtractFile(info, destination);
}

bool ZipReader::ExtractFile(const ZipEntryInfo &info, const std::string &destination) {
    if (info.flags & kFlagEncrypted) {
        vt::DebugPrint("\n Entry %s is encrypted, not extracted \n", info.name.c_str());
        return Fail(vt::Code::NOT_SUPPORTED);
    }
    // Written beside its final name and renamed at the end: a failed copy
    // leaves neither a half-written file nor a lost older one.
    PartFile part;
    if (!part.Create(ParentFolder(destination), true)) return false;
    if (!CopyCurrent(part.fd())) return false;
    time_t written;
    if (UnixFromDosDateTime(info.dosDateTime, &written)) {
        struct timespec times[2] = {{0, UTIME_OMIT}, {written, 0}};
        futimens(part.fd(), times);  // a time that cannot be set is no failure
    }
    return part.Commit(destination, true);
}

bool ZipReader::CopyCurrent(int outFd) {
    const DirectoryEntry &e = entries_[current_];
    if (CopyEntryData(archiveFd_.get(), e, outFd)) return true;
    vt::DebugPrint("\n Entry %.*s is damaged \n", static_cast<int>(e.name.size()), e.name.data());
    return false;
}

bool ZipReader::CheckCurrent() { return ReadCurrent(nullptr, 0); }

bool ZipReader::ReadCurrent(std::string *head, size_t keep) {
    if (head) head->clear();
    ZipEntryInfo info;
    if (!CurrentInfo(&info)) return false;
    if (info.isFolder) return true;
    if (info.flags & kFlagEncrypted) return Fail(vt::Code::NOT_SUPPORTED);
    const DirectoryEntry &e = entries_[current_];
    // Held in memory, never written: the sink cannot fail, which leaves
    // damage (or an unknown method) as the only cause of a failure.
    auto sink = [&](const unsigned char *data, size_t size) {
        if (head && head->size() < keep)
            head->append(reinterpret_cast<const char *>(data), std::min(size, keep - head->size()));
        return true;
    };
    if (ReadEntryData(archiveFd_.get(), e, sink)) return true;
    vt::DebugPrint("\n Entry %.*s is damaged \n", static_cast<int>(e.name.size()), e.name.data());
    if (GetLastError() != vt::code(vt::Code::NOT_SUPPORTED)) SetLastError(vt::code(vt::Code::DAMAGED_FILE));
    return false;
}

bool ZipReader::ExtractAll(const std::string &target, bool ignorePath) {
    if (!IsOpen()) return Fail(vt::Code::INVALID_HANDLE);
    if (target.empty()) return Fail(vt::Code::INVALID_PARAMETER);
    if (!CreateFolderTree(FullPath(target))) return false;
    if (entries_.empty()) return Fail(vt::Code::DAMAGED_FILE);
    // The whole archive must fit before anything is unpacked.
    uint64_t total = 0;
    for (const auto &e : entries_) {
        const uint64_t size = e.uncompressedSize;
        total = total + size < total ? UINT64_MAX : total + size;
    }
    if (!RoomFor(FullPath(target), total)) return Fail(vt::Code::DISK_FULL);
    for (current_ = 0; current_ < entries_.size(); ++current_) {
        // A long job's cancel ends the unpacking between two files.
        if (IsSignalled(CurrentCancelEvent())) return Fail(vt::Code::CANCELLED);
        if (!ExtractCurrent(target, ignorePath)) return false;
    }
    return true;
}

}  // namespace vtbox
