#include "packaging/zip_reader.hpp"

#include <fcntl.h>
#include <minizip/unzip.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <vector>

#include "localfiles/local_file.hpp"
#include "packaging/entry_name.hpp"
#include "packaging/zip64_entry.hpp"
#include "vtplatform.h"
#include "vtplatform/diag.hpp"
#include "vtplatform/errors.hpp"
#include "vtplatform/find.hpp"
#include "vtplatform/text.hpp"

namespace vtbox {

namespace {

constexpr size_t kBlockSize = 64 * 1024;
constexpr size_t kMaxComment = 255;
constexpr uint32_t kFlagEncrypted = 0x0001;

unzFile Handle(void *unz) { return static_cast<unzFile>(unz); }

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

ZipReader::~ZipReader() { close(); }

void ZipReader::close() {
    if (unz_) unzClose(Handle(unz_));
    unz_ = nullptr;
    archive_fd_.reset();
    empty_ = false;
}

bool ZipReader::open(const std::string &archive) {
    close();
    std::string full = FullPath(archive);
    // Say why a file cannot be read before minizip turns it into "no zip".
    UniqueFd probe(::open(full.c_str(), O_RDONLY | O_CLOEXEC));
    if (!probe) {
        LastErrorFromErrno(errno);
        return false;
    }
    struct stat st;
    if (fstat(probe.get(), &st) != 0 || !S_ISREG(st.st_mode)) return Fail(vt::Code::FileCorrupt);
    unz_ = unzOpen64(full.c_str());
    if (!unz_) {
        if (!IsEmptyArchive(probe.get(), st.st_size)) return Fail(vt::Code::FileCorrupt);
        empty_ = true;
    }
    archive_fd_ = std::move(probe);
    output_folder_ = ParentFolder(full);
    return true;
}

uint64_t ZipReader::entryCount() {
    if (!unz_) return 0;
    unz_global_info64 info{};
    if (unzGetGlobalInfo64(Handle(unz_), &info) != UNZ_OK) return 0;
    return info.number_entry;
}

bool ZipReader::move(bool first, const char *extension) {
    if (empty_) return Fail(vt::Code::NoMoreFiles);
    if (!unz_) return Fail(vt::Code::InvalidHandle);
    int rc = first ? unzGoToFirstFile(Handle(unz_)) : unzGoToNextFile(Handle(unz_));
    for (;;) {
        if (rc == UNZ_END_OF_LIST_OF_FILE) return Fail(vt::Code::NoMoreFiles);
        if (rc != UNZ_OK) return Fail(vt::Code::FileCorrupt);
        if (!extension) return true;
        ZipEntryInfo info;
        if (!currentInfo(&info)) return false;
        if (vt::EqualsIgnoreCase(EntryExtension(info.name), extension)) return true;
        rc = unzGoToNextFile(Handle(unz_));
    }
}

bool ZipReader::gotoFirst(const char *extension) { return move(true, extension); }
bool ZipReader::gotoNext(const char *extension) { return move(false, extension); }

bool ZipReader::currentInfo(ZipEntryInfo *out) {
    if (empty_) return Fail(vt::Code::NoMoreFiles);
    if (!unz_) return Fail(vt::Code::InvalidHandle);
    unz_file_info64 fi{};
    if (unzGetCurrentFileInfo64(Handle(unz_), &fi, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        return Fail(vt::Code::FileCorrupt);
    // The stored lengths are 16-bit values; buffers of exactly that size
    // (plus the terminator minizip may add) hold every name whole.
    std::vector<char> name(fi.size_filename + 1), comment(fi.size_file_comment + 1);
    if (unzGetCurrentFileInfo64(Handle(unz_), &fi, name.data(), name.size(), nullptr, 0,
                                comment.data(), comment.size()) != UNZ_OK)
        return Fail(vt::Code::FileCorrupt);
    out->name = NormalizeEntryName(std::string_view(name.data(), fi.size_filename));
    size_t comment_len = vt::Utf8PrefixLength(
        std::string_view(comment.data(), fi.size_file_comment), kMaxComment);
    out->comment.assign(comment.data(), comment_len);
    out->versionMadeBy = static_cast<uint32_t>(fi.version);
    out->versionNeeded = static_cast<uint32_t>(fi.version_needed);
    out->flags = static_cast<uint32_t>(fi.flag);
    out->method = static_cast<uint32_t>(fi.compression_method);
    out->dosDateTime = static_cast<uint32_t>(fi.dosDate);
    out->crc = static_cast<uint32_t>(fi.crc);
    out->compressedSize = fi.compressed_size;
    out->uncompressedSize = fi.uncompressed_size;
    out->internalAttributes = static_cast<uint32_t>(fi.internal_fa);
    out->externalAttributes = static_cast<uint32_t>(fi.external_fa);
    if (fi.compressed_size == 0xFFFFFFFFu || fi.uncompressed_size == 0xFFFFFFFFu) {
        CentralRecord record;
        if (ReadCentralRecord(archive_fd_.get(), unzGetOffset64(Handle(unz_)), &record)) {
            out->compressedSize = record.compressedSize;
            out->uncompressedSize = record.uncompressedSize;
        }
    }
    out->isFolder = (out->externalAttributes & vt::kAttrDirectory) != 0 ||
                    (!out->name.empty() && out->name.back() == '\\');
    return true;
}

bool ZipReader::locate(std::string_view name, bool ignore_path) {
    if (empty_) return Fail(vt::Code::FileNotFound);
    if (!unz_) return Fail(vt::Code::InvalidHandle);
    const std::string wanted(name);
    constexpr int kIgnoreCase = 2;
    if (wanted.size() < 256 && unzLocateFile(Handle(unz_), wanted.c_str(), kIgnoreCase) == UNZ_OK)
        return true;
    // Names stored with "/" match a name asked with "\\" and the other way round.
    const std::string normalized = NormalizeEntryName(wanted);
    for (int pass = 0; pass < (ignore_path ? 2 : 1); ++pass) {
        ZipEntryInfo info;
        for (int rc = unzGoToFirstFile(Handle(unz_)); rc == UNZ_OK; rc = unzGoToNextFile(Handle(unz_))) {
            if (!currentInfo(&info)) break;
            if (pass == 0 && vt::EqualsIgnoreCase(info.name, normalized)) return true;
            if (pass == 1 && !info.isFolder && vt::EqualsIgnoreCase(EntryBaseName(info.name), wanted))
                return true;
        }
    }
    return Fail(vt::Code::FileNotFound);
}

bool ZipReader::extractCurrent(const std::string &target, bool ignore_path,
                               const std::string &save_as) {
    if (empty_) return Fail(vt::Code::NoMoreFiles);
    if (!unz_) return Fail(vt::Code::InvalidHandle);
    if (target.empty()) return Fail(vt::Code::InvalidParameter);
    output_folder_ = FullPath(target);
    if (!CreateFolderTree(output_folder_)) return false;

    ZipEntryInfo info;
    if (!currentInfo(&info)) return false;
    std::vector<std::string> parts;
    if (!SplitSafeEntryName(info.name, &parts)) {
        vt::DebugPrint("\n Entry %s would leave the target folder, refused \n", info.name.c_str());
        return Fail(vt::Code::InvalidName);
    }
    if (info.isFolder) return CreateFolderTree(JoinPath(output_folder_, JoinParts(parts)));

    std::string relative;
    if (!ignore_path) relative = JoinParts(parts);
    else if (save_as.empty()) relative = parts.back();
    else if (save_as.find('/') == std::string::npos && save_as != "." && save_as != "..") relative = save_as;
    else return Fail(vt::Code::InvalidName);
    std::string destination = JoinPath(output_folder_, relative);
    if (!CreateFolderTree(ParentFolder(destination))) return false;
    return extractFile(info, destination);
}

bool ZipReader::extractFile(const ZipEntryInfo &info, const std::string &destination) {
    if (info.flags & kFlagEncrypted) {
        vt::DebugPrint("\n Entry %s is encrypted, not extracted \n", info.name.c_str());
        return Fail(vt::Code::NotSupported);
    }
    // Written beside its final name and renamed at the end: a failed copy
    // leaves neither a half-written file nor a lost older one.
    PartFile part;
    if (!part.create(ParentFolder(destination), true)) return false;
    if (!copyEntry(info, part.fd())) return false;
    time_t written;
    if (UnixFromDosDateTime(info.dosDateTime, &written)) {
        struct timespec times[2] = {{0, UTIME_OMIT}, {written, 0}};
        futimens(part.fd(), times);  // a time that cannot be set is no failure
    }
    return part.commit(destination, true);
}

bool ZipReader::copyEntry(const ZipEntryInfo &info, int out_fd) {
    CentralRecord record;
    if (ReadCentralRecord(archive_fd_.get(), unzGetOffset64(Handle(unz_)), &record) &&
        record.usesZip64) {
        if (!CopyEntryData(archive_fd_.get(), record, out_fd)) {
            vt::DebugPrint("\n Entry %s is damaged \n", info.name.c_str());
            return false;
        }
        return true;
    }
    return copyCurrent(info, out_fd);
}

bool ZipReader::checkCurrent() {
    ZipEntryInfo info;
    if (!currentInfo(&info)) return false;
    if (info.isFolder) return true;
    if (info.flags & kFlagEncrypted) return Fail(vt::Code::NotSupported);
    UniqueFd sink(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    if (!sink) return Fail(vt::Code::OpenFailed);
    if (copyEntry(info, sink.get())) return true;
    // A sink that never fails leaves damage as the only cause.
    return Fail(vt::Code::FileCorrupt);
}

bool ZipReader::copyCurrent(const ZipEntryInfo &info, int out_fd) {
    if (unzOpenCurrentFile(Handle(unz_)) != UNZ_OK) return Fail(vt::Code::FileCorrupt);
    std::vector<char> block(kBlockSize);
    uint64_t total = 0;
    for (;;) {
        errno = 0;
        int got = unzReadCurrentFile(Handle(unz_), block.data(), static_cast<unsigned>(block.size()));
        if (got < 0) {
            int err = errno;
            unzCloseCurrentFile(Handle(unz_));
            if (got == UNZ_ERRNO && err != 0) LastErrorFromErrno(err);
            else SetLastError(vt::code(vt::Code::FileCorrupt));
            return false;
        }
        if (got == 0) break;
        if (!WriteAll(out_fd, block.data(), static_cast<size_t>(got))) {
            unzCloseCurrentFile(Handle(unz_));
            return false;
        }
        total += static_cast<uint64_t>(got);
    }
    // minizip checks the CRC only when the whole declared size was read.
    if (unzCloseCurrentFile(Handle(unz_)) != UNZ_OK || total != info.uncompressedSize) {
        vt::DebugPrint("\n Entry %s is damaged \n", info.name.c_str());
        return Fail(vt::Code::FileCorrupt);
    }
    return true;
}

bool ZipReader::extractAll(const std::string &target, bool ignore_path) {
    if (!isOpen()) return Fail(vt::Code::InvalidHandle);
    if (target.empty()) return Fail(vt::Code::InvalidParameter);
    if (!CreateFolderTree(FullPath(target))) return false;
    if (entryCount() == 0) return Fail(vt::Code::FileCorrupt);
    if (unzGoToFirstFile(Handle(unz_)) != UNZ_OK) return Fail(vt::Code::FileCorrupt);
    for (;;) {
        if (!extractCurrent(target, ignore_path)) return false;
        int rc = unzGoToNextFile(Handle(unz_));
        if (rc == UNZ_END_OF_LIST_OF_FILE) return true;
        if (rc != UNZ_OK) return Fail(vt::Code::FileCorrupt);
    }
}

}  // namespace vtbox
