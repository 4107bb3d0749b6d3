#include "packaging/zip_writer.hpp"

#include <fcntl.h>
#include <minizip/zip.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "backup/local_folder.hpp"
#include "packaging/entry_name.hpp"
#include "packaging/local_file.hpp"
#include "vtplatform.h"
#include "vtplatform/diag.hpp"
#include "vtplatform/errors.hpp"
#include "vtplatform/find.hpp"

namespace vtbox {

namespace {

constexpr size_t kBlockSize = 64 * 1024;
constexpr uLong kMadeByDos = 0;           // host 0: names and attributes in the DOS way
constexpr uLong kFlagUtf8Name = 0x0800;   // general purpose bit 11
constexpr int kDefaultMemLevel = 8;

zipFile Handle(void *zip) { return static_cast<zipFile>(zip); }

bool IsNonAsciiUtf8(const std::string &text) {
    bool non_ascii = false;
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (len == 0 || i + len > text.size()) return false;
        for (size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        if (len > 1) non_ascii = true;
        i += len;
    }
    return non_ascii;
}

// Opens one entry with the fixed settings of this system's archives.
int OpenEntry(zipFile zip, const std::string &name, uint32_t dos_time, uint32_t attributes,
              bool folder, bool zip64) {
    zip_fileinfo info{};
    info.dosDate = dos_time;
    info.internal_fa = 0;
    info.external_fa = attributes;
    uLong flags = IsNonAsciiUtf8(name) ? kFlagUtf8Name : 0;
    // A folder entry holds no data: stored, as zip tools write them.
    int method = folder ? 0 : Z_DEFLATED;
    int level = folder ? 0 : Z_DEFAULT_COMPRESSION;
    return zipOpenNewFileInZip4_64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                   method, level, 0, -MAX_WBITS, kDefaultMemLevel,
                                   Z_DEFAULT_STRATEGY, nullptr, 0, kMadeByDos, flags,
                                   zip64 ? 1 : 0);
}

uint32_t DosAttributes(const struct stat &st) {
    uint32_t attributes = S_ISDIR(st.st_mode) ? vt::kAttrDirectory : vt::kAttrArchive;
    if (!(st.st_mode & S_IWUSR)) attributes |= vt::kAttrReadOnly;
    return attributes;
}

bool IsDotName(const char *name) { return name[0] == '.'; }

}  // namespace

ZipWriter::~ZipWriter() {
    if (zip_) zipClose(Handle(zip_), nullptr);
}

bool ZipWriter::open(const std::string &archive, const std::string &root, bool append) {
    if (zip_) close();
    archive_ = FullPath(archive);
    std::string base = root.empty() ? ParentFolder(archive_) : FullPath(root);
    root_ = base == "/" ? base : base + "/";
    broken_ = false;
    int mode = (append && PathExists(archive_)) ? APPEND_STATUS_ADDINZIP : APPEND_STATUS_CREATE;
    errno = 0;
    zip_ = zipOpen64(archive_.c_str(), mode);
    if (!zip_) {
        LastErrorFromErrno(errno);
        root_.clear();
        return false;
    }
    return true;
}

bool ZipWriter::close() {
    if (!zip_) return !broken_;
    errno = 0;
    int rc = zipClose(Handle(zip_), nullptr);
    int err = errno;
    zip_ = nullptr;
    root_.clear();
    if (broken_) return false;
    if (rc != ZIP_OK) {
        LastErrorFromErrno(err);
        return false;
    }
    return true;
}

AddResult ZipWriter::broken(int err) {
    broken_ = true;
    LastErrorFromErrno(err);
    return AddResult::Broken;
}

bool ZipWriter::entryName(const std::string &path, bool ignore_path, std::string *name,
                          std::string *absolute) const {
    // On this system "/" starts an absolute path, as a drive letter does elsewhere.
    *absolute = (!path.empty() && path[0] == '/') ? FullPath(path) : FullPath(root_ + path);
    std::string relative;
    if (ignore_path) {
        relative = LastName(*absolute);
    } else {
        // Relative paths were taken against the root, so both kinds must
        // end up under it; "..\" cannot lead out.
        if (absolute->compare(0, root_.size(), root_) != 0) return false;
        relative = absolute->substr(root_.size());
    }
    // A "\\" inside a local name would read back as a folder boundary.
    if (relative.empty() || relative.find('\\') != std::string::npos) return false;
    *name = EntryNameFromRelativePath(relative);
    return true;
}

AddResult ZipWriter::addFile(const std::string &path, bool ignore_path) {
    if (!zip_ || broken_) {
        SetLastError(vt::code(vt::Code::InvalidHandle));
        return AddResult::Broken;
    }
    if (!ignore_path && path.compare(0, 3, "../") == 0) {
        SetLastError(vt::code(vt::Code::InvalidParameter));
        return AddResult::LeftOut;
    }
    std::string name, absolute;
    if (!entryName(path, ignore_path, &name, &absolute)) {
        vt::DebugPrint("\n %s cannot be named in the archive, left out \n", path.c_str());
        SetLastError(vt::code(vt::Code::InvalidName));
        return AddResult::LeftOut;
    }
    if (absolute == archive_) return AddResult::LeftOut;  // never the archive itself

    UniqueFd fd(::open(absolute.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        LastErrorFromErrno(errno);
        return AddResult::LeftOut;
    }
    struct stat st;
    if (fstat(fd.get(), &st) != 0) {
        LastErrorFromErrno(errno);
        return AddResult::LeftOut;
    }
    if (!S_ISREG(st.st_mode)) {
        SetLastError(vt::code(vt::Code::AccessDenied));
        return AddResult::LeftOut;
    }

    bool zip64 = static_cast<uint64_t>(st.st_size) >= kZip64Threshold;
    errno = 0;
    if (OpenEntry(Handle(zip_), name, DosDateTimeFromUnix(st.st_mtime), DosAttributes(st), false,
                  zip64) != ZIP_OK)
        return broken(errno);

    std::vector<char> block(kBlockSize);
    for (;;) {
        ssize_t got = read(fd.get(), block.data(), block.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            // The entry already holds part of the file: the archive is no longer whole.
            int err = errno;
            zipCloseFileInZip(Handle(zip_));
            return broken(err);
        }
        if (got == 0) break;
        errno = 0;
        if (zipWriteInFileInZip(Handle(zip_), block.data(), static_cast<unsigned>(got)) != ZIP_OK) {
            int err = errno;
            zipCloseFileInZip(Handle(zip_));
            return broken(err);
        }
    }
    errno = 0;
    if (zipCloseFileInZip(Handle(zip_)) != ZIP_OK) return broken(errno);
    return AddResult::Added;
}

AddResult ZipWriter::addFolder(const std::string &path, bool ignore_path) {
    if (!zip_ || broken_) {
        SetLastError(vt::code(vt::Code::InvalidHandle));
        return AddResult::Broken;
    }
    std::string name, absolute;
    if (!entryName(path, ignore_path, &name, &absolute)) {
        vt::DebugPrint("\n %s cannot be named in the archive, left out \n", path.c_str());
        SetLastError(vt::code(vt::Code::InvalidName));
        return AddResult::LeftOut;
    }
    struct stat st;
    if (stat(absolute.c_str(), &st) != 0) {
        LastErrorFromErrno(errno);
        return AddResult::LeftOut;
    }
    if (!S_ISDIR(st.st_mode)) {
        SetLastError(vt::code(vt::Code::Directory));
        return AddResult::LeftOut;
    }
    errno = 0;
    if (OpenEntry(Handle(zip_), name + "\\", DosDateTimeFromUnix(st.st_mtime), DosAttributes(st),
                  true, false) != ZIP_OK)
        return broken(errno);
    errno = 0;
    if (zipCloseFileInZip(Handle(zip_)) != ZIP_OK) return broken(errno);

    FindList folders, files;
    if (ListLocalFolder(absolute, "*.*", &folders, &files) == vt::code(vt::Code::BadPathname)) {
        vt::DebugPrint("\n %s cannot be listed, its content is left out \n", absolute.c_str());
        return AddResult::Added;
    }
    for (const auto &f : files) {
        if (IsDotName(f.cFileName)) continue;
        std::string item = JoinPath(absolute, f.cFileName);
        AddResult r = addFile(item, false);
        if (r == AddResult::Broken) return r;
        if (r == AddResult::LeftOut) vt::DebugPrint("\n %s left out \n", item.c_str());
    }
    for (const auto &d : folders) {
        if (IsDotName(d.cFileName)) continue;
        std::string item = JoinPath(absolute, d.cFileName);
        AddResult r = addFolder(item, false);
        if (r == AddResult::Broken) return r;
        if (r == AddResult::LeftOut) vt::DebugPrint("\n %s left out \n", item.c_str());
    }
    return AddResult::Added;
}

}  // namespace vtbox
