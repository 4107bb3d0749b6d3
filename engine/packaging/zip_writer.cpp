#include "packaging/zip_writer.hpp"

#include <fcntl.h>
#include <minizip/zip.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "localfiles/held_files.hpp"
#include "localfiles/local_file.hpp"
#include "localfiles/local_folder.hpp"
#include "packaging/deflate_pool.hpp"
#include "packaging/entry_name.hpp"
#include "session/waits.hpp"
#include "vtplatform.h"
#include "vtplatform/diag.hpp"
#include "vtplatform/errors.hpp"
#include "vtplatform/find.hpp"

namespace vtbox {

namespace {

constexpr size_t kBlockSize = 64 * 1024;
constexpr uLong kMadeByDos = 0;  // host 0: names and attributes in the DOS way
constexpr int kDefaultMemLevel = 8;

zipFile Handle(void *zip) { return static_cast<zipFile>(zip); }

// How an entry's data is put in the archive.
enum class EntryData { Folder, Deflate, Store, RawDeflated };

// Opens one entry with the fixed settings of this system's archives.
int OpenEntry(zipFile zip, const std::string &name, uint32_t dosTime, uint32_t attributes, EntryData kind, bool zip64) {
    zip_fileinfo info{};
    info.dosDate = dosTime;
    info.internal_fa = 0;
    info.external_fa = attributes;
    uLong flags = IsNonAsciiUtf8(name) ? kFlagUtf8Name : 0;
    // A folder entry holds no data: stored, as zip tools write them. Archives
    // inside archives are compressed already and are stored as they are.
    bool stored = kind == EntryData::Folder || kind == EntryData::Store;
    int method = stored ? 0 : Z_DEFLATED;
    int level = stored ? 0 : Z_DEFAULT_COMPRESSION;
    int raw = kind == EntryData::RawDeflated ? 1 : 0;
    return zipOpenNewFileInZip4_64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, method, level, raw,
                                   -MAX_WBITS, kDefaultMemLevel, Z_DEFAULT_STRATEGY, nullptr, 0, kMadeByDos, flags,
                                   zip64 ? 1 : 0);
}

// Archives (box archives, data archives) gain nothing from a second deflate.
bool IsArchiveName(const std::string &name) { return HeldFiles::IsArchiveName(name); }

bool IsDotName(const char *name) { return name[0] == '.'; }

}  // namespace

// A region of an open file from a base offset on, as minizip's file: every
// position minizip uses counts from the base. minizip writes a local header a
// field at a time, a dozen writes an entry; they gather in one buffer and go
// out together, so that a box of many small documents does not cost a system
// call per header field.
struct ZipWriter::Window {
    // Writes gather up to this many bytes before they go out; larger writes
    // (a block of compressed data) go straight to the file.
    static constexpr size_t kGatherBytes = 64 * 1024;

    int fd = -1;
    uint64_t base = 0;
    uint64_t pos = 0;
    uint64_t end = 0;  // the furthest byte written, gathered ones included
    int error = 0;
    std::vector<unsigned char> gathered;  // bytes for the region from gatheredAt on
    uint64_t gatheredAt = 0;

    bool Flush() {
        if (gathered.empty()) return error == 0;
        const bool ok = WriteAllAt(fd, gathered.data(), gathered.size(), base + gatheredAt);
        if (!ok && error == 0) error = errno;
        gathered.clear();
        return ok && error == 0;
    }

    static voidpf Open(voidpf opaque, const void *, int) { return opaque; }
    static uLong Read(voidpf, voidpf stream, void *buf, uLong size) {
        auto *w = static_cast<Window *>(stream);
        if (!w->Flush()) return 0;
        ssize_t got = pread(w->fd, buf, size, static_cast<off_t>(w->base + w->pos));
        if (got < 0) {
            w->error = errno;
            return 0;
        }
        w->pos += static_cast<uint64_t>(got);
        return static_cast<uLong>(got);
    }
    static uLong Write(voidpf, voidpf stream, const void *buf, uLong size) {
        auto *w = static_cast<Window *>(stream);
        if (w->error != 0) return 0;
        // Only a write that continues or overwrites the gathered bytes joins them.
        if (!w->gathered.empty() && (w->pos < w->gatheredAt || w->pos > w->gatheredAt + w->gathered.size()) &&
            !w->Flush())
            return 0;
        if (w->gathered.empty() && size >= kGatherBytes) {
            if (!WriteAllAt(w->fd, buf, size, w->base + w->pos)) {
                w->error = errno;
                return 0;
            }
        } else {
            if (w->gathered.empty()) w->gatheredAt = w->pos;
            const size_t at = static_cast<size_t>(w->pos - w->gatheredAt);
            if (at + size > w->gathered.size()) w->gathered.resize(at + size);
            std::memcpy(w->gathered.data() + at, buf, size);
            if (w->gathered.size() >= kGatherBytes && !w->Flush()) return 0;
        }
        w->pos += size;
        w->end = std::max(w->end, w->pos);
        return size;
    }
    static ZPOS64_T Tell(voidpf, voidpf stream) { return static_cast<Window *>(stream)->pos; }
    static long Seek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
        auto *w = static_cast<Window *>(stream);
        switch (origin) {
        case ZLIB_FILEFUNC_SEEK_SET: w->pos = offset; break;
        case ZLIB_FILEFUNC_SEEK_CUR: w->pos += offset; break;
        case ZLIB_FILEFUNC_SEEK_END: w->pos = w->end + offset; break;
        default: return -1;
        }
        return 0;
    }
    // Everything gathered goes out when minizip closes the file: a write that
    // fails then fails the close.
    static int Close(voidpf, voidpf stream) {
        auto *w = static_cast<Window *>(stream);
        if (!w->Flush()) {
            errno = w->error;
            return -1;
        }
        return 0;
    }
    static int Error(voidpf, voidpf stream) { return static_cast<Window *>(stream)->error; }
};

ZipWriter::ZipWriter() = default;

ZipWriter::~ZipWriter() {
    if (zip_) zipClose(Handle(zip_), nullptr);
}

bool ZipWriter::OpenAt(int fd, uint64_t base, const std::string &root) {
    if (zip_) Close();
    window_ = std::make_unique<Window>();
    window_->fd = fd;
    window_->base = base;
    archive_.clear();
    std::string full = FullPath(root);
    root_ = full == "/" ? full : full + "/";
    broken_ = false;
    zlib_filefunc64_def io{};
    io.zopen64_file = &Window::Open;
    io.zread_file = &Window::Read;
    io.zwrite_file = &Window::Write;
    io.ztell64_file = &Window::Tell;
    io.zseek64_file = &Window::Seek;
    io.zclose_file = &Window::Close;
    io.zerror_file = &Window::Error;
    io.opaque = window_.get();
    errno = 0;
    zip_ = zipOpen2_64(window_.get(), APPEND_STATUS_CREATE, nullptr, &io);
    if (!zip_) {
        LastErrorFromErrno(errno);
        root_.clear();
        return false;
    }
    return true;
}

uint64_t ZipWriter::writtenSize() const { return window_ ? window_->end : 0; }

bool ZipWriter::Open(const std::string &archive, const std::string &root, bool append) {
    if (zip_) Close();
    window_.reset();
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

bool ZipWriter::Close() {
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

AddResult ZipWriter::Broken(int err) {
    broken_ = true;
    LastErrorFromErrno(err);
    return AddResult::Broken;
}

bool ZipWriter::EntryName(const std::string &path, bool ignorePath, std::string *name, std::string *absolute) const {
    // On this system "/" starts an absolute path, as a drive letter does elsewhere.
    *absolute = (!path.empty() && path[0] == '/') ? FullPath(path) : FullPath(root_ + path);
    std::string relative;
    if (ignorePath) {
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

AddResult ZipWriter::AddFile(const std::string &path, bool ignorePath) {
    if (!zip_ || broken_) {
        SetLastError(vt::code(vt::Code::INVALID_HANDLE));
        return AddResult::Broken;
    }
    if (!ignorePath && path.compare(0, 3, "../") == 0) {
        SetLastError(vt::code(vt::Code::INVALID_PARAMETER));
        return AddResult::LeftOut;
    }
    std::string name, absolute;
    if (!EntryName(path, ignorePath, &name, &absolute)) {
        vt::DebugPrint("\n %s cannot be named in the archive, left out \n", path.c_str());
        SetLastError(vt::code(vt::Code::INVALID_NAME));
        return AddResult::LeftOut;
    }
    if (absolute == archive_) return AddResult::LeftOut;  // never the archive itself

    // Not blocking: a FIFO in the tree is left out, not waited on.
    UniqueFd fd(::open(absolute.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
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
        SetLastError(vt::code(vt::Code::ACCESS_DENIED));
        return AddResult::LeftOut;
    }

    bool zip64 = static_cast<uint64_t>(st.st_size) >= kZip64Threshold;
    errno = 0;
    EntryData kind = IsArchiveName(name) ? EntryData::Store : EntryData::Deflate;
    if (OpenEntry(Handle(zip_), name, DosDateTimeFromUnix(st.st_mtime), DosAttributesOf(st), kind, zip64) != ZIP_OK)
        return Broken(errno);

    std::vector<char> block(kBlockSize);
    for (;;) {
        ssize_t got = read(fd.get(), block.data(), block.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            // The entry already holds part of the file: the archive is no longer whole.
            int err = errno;
            zipCloseFileInZip(Handle(zip_));
            return Broken(err);
        }
        if (got == 0) break;
        errno = 0;
        if (zipWriteInFileInZip(Handle(zip_), block.data(), static_cast<unsigned>(got)) != ZIP_OK) {
            int err = errno;
            zipCloseFileInZip(Handle(zip_));
            return Broken(err);
        }
    }
    errno = 0;
    if (zipCloseFileInZip(Handle(zip_)) != ZIP_OK) return Broken(errno);
    return AddResult::Added;
}

// A folder's time is that of the last change of its content: a file held
// instead of written there changed it when it came.
time_t ZipWriter::HeldLatestIn(const std::string &folder) const {
    time_t latest = 0;
    if (held_)
        for (const auto &file : held_->ListIn(folder)) latest = std::max(latest, file.when);
    return latest;
}

AddResult ZipWriter::AddFolderEntry(const std::string &absolute, const std::string &name, time_t heldLatest) {
    struct stat st;
    if (stat(absolute.c_str(), &st) != 0) {
        LastErrorFromErrno(errno);
        return AddResult::LeftOut;
    }
    if (!S_ISDIR(st.st_mode)) {
        SetLastError(vt::code(vt::Code::IS_A_FOLDER));
        return AddResult::LeftOut;
    }
    errno = 0;
    if (OpenEntry(Handle(zip_), name + "\\", DosDateTimeFromUnix(std::max(st.st_mtime, heldLatest)),
                  DosAttributesOf(st), EntryData::Folder, false) != ZIP_OK)
        return Broken(errno);
    errno = 0;
    if (zipCloseFileInZip(Handle(zip_)) != ZIP_OK) return Broken(errno);
    return AddResult::Added;
}

AddResult ZipWriter::AddDeflated(const std::string &path, DeflatedFile &file) {
    std::string name, absolute;
    if (!EntryName(path, false, &name, &absolute)) {
        vt::DebugPrint("\n %s cannot be named in the archive, left out \n", path.c_str());
        SetLastError(vt::code(vt::Code::INVALID_NAME));
        return AddResult::LeftOut;
    }
    errno = 0;
    if (OpenEntry(Handle(zip_), name, DosDateTimeFromUnix(file.st.st_mtime), DosAttributesOf(file.st),
                  EntryData::RawDeflated, false) != ZIP_OK)
        return Broken(errno);
    for (const auto &block : file.blocks) {
        errno = 0;
        if (!block.empty() &&
            zipWriteInFileInZip(Handle(zip_), block.data(), static_cast<unsigned>(block.size())) != ZIP_OK) {
            int err = errno;
            zipCloseFileInZipRaw64(Handle(zip_), file.size, file.crc);
            return Broken(err);
        }
    }
    errno = 0;
    if (zipCloseFileInZipRaw64(Handle(zip_), file.size, file.crc) != ZIP_OK) return Broken(errno);
    return AddResult::Added;
}

// Lists a folder tree in the order its entries are written: the folder, its
// files, then each subfolder in the same way. Names beginning with a dot are
// not packed, unless every item must go in (a tree that is removed once
// packed keeps nothing that is not in its archive). A folder that cannot be
// listed is left out with its content; with everyItem that ends the walk:
// false, its path in *unlisted.
bool ZipWriter::Plan(const std::string &absolute, bool everyItem, std::vector<PlannedItem> *items,
                     std::string *unlisted) {
    FindList folders, files;
    const uint32_t rc = ListLocalFolder(absolute, "*.*", &folders, &files);
    // An empty folder lists as "nothing found"; anything else means its
    // content is unknown.
    if (rc != 0 && (rc == vt::code(vt::Code::NOT_ON_DEVICE) || GetLastError() != vt::code(vt::Code::FILE_NOT_FOUND))) {
        const uint32_t error = GetLastError();  // the system's reason, kept by the listing
        vt::DebugPrint("\n %s cannot be listed, its content is left out \n", absolute.c_str());
        if (everyItem) {
            SetLastError(error != 0 ? error : vt::code(vt::Code::ACCESS_DENIED));
            *unlisted = absolute;
            return false;
        }
        return true;
    }
    const auto packed = [everyItem](const char *name) { return everyItem || !IsDotName(name); };
    std::vector<std::string> names;
    for (const auto &f : files)
        if (packed(f.cFileName)) names.emplace_back(f.cFileName);
    if (held_) {
        // Held files take their places among the folder's own, in the
        // order of its listing; a name in both is one file.
        for (const auto &f : held_->ListIn(absolute))
            if (packed(f.name.c_str())) names.push_back(f.name);
        std::sort(names.begin(), names.end(),
                  [](const std::string &a, const std::string &b) { return vt::ComesFirstInListing(a, b); });
        names.erase(std::unique(names.begin(), names.end()), names.end());
    }
    for (const auto &name : names) items->push_back({JoinPath(absolute, name), false});
    for (const auto &d : folders) {
        if (!packed(d.cFileName)) continue;
        std::string sub = JoinPath(absolute, d.cFileName);
        items->push_back({sub, true, HeldLatestIn(sub)});
        if (!Plan(sub, everyItem, items, unlisted)) return false;
    }
    return true;
}

AddResult ZipWriter::AddFolder(const std::string &path, bool ignorePath, bool everyItem) {
    if (!zip_ || broken_) {
        SetLastError(vt::code(vt::Code::INVALID_HANDLE));
        return AddResult::Broken;
    }
    std::string name, absolute;
    if (!EntryName(path, ignorePath, &name, &absolute)) {
        vt::DebugPrint("\n %s cannot be named in the archive, left out \n", path.c_str());
        SetLastError(vt::code(vt::Code::INVALID_NAME));
        return AddResult::LeftOut;
    }
    AddResult top = AddFolderEntry(absolute, name, HeldLatestIn(absolute));
    if (top != AddResult::Added) return top;

    std::vector<PlannedItem> items;
    std::string unlisted;
    if (!Plan(absolute, everyItem, &items, &unlisted)) {
        firstLeftOut_ = unlisted;
        return AddResult::LeftOut;
    }
    std::vector<std::string> paths;
    std::vector<bool> stream;
    for (const auto &item : items)
        if (!item.folder) {
            paths.push_back(item.path);
            stream.push_back(IsArchiveName(item.path));
        }
    DeflatePool pool(paths, stream, held_);
    size_t next = 0;
    for (const auto &item : items) {
        // A long job's cancel ends the packing between two files.
        if (IsSignalled(CurrentCancelEvent())) {
            SetLastError(vt::code(vt::Code::CANCELLED));
            return AddResult::Broken;
        }
        AddResult r;
        if (item.folder) {
            std::string subName, subAbsolute;
            if (EntryName(item.path, false, &subName, &subAbsolute)) {
                r = AddFolderEntry(subAbsolute, subName, item.heldLatest);
            } else {
                SetLastError(vt::code(vt::Code::INVALID_NAME));
                r = AddResult::LeftOut;
            }
        } else {
            DeflatedFile file = pool.Take(next++);
            switch (file.state) {
            case DeflatedFile::State::Done: r = AddDeflated(item.path, file); break;
            case DeflatedFile::State::Unreadable:
                LastErrorFromErrno(file.error);
                r = AddResult::LeftOut;
                break;
            case DeflatedFile::State::ReadFailed: r = Broken(file.error); break;
            default: r = AddFile(item.path, false);
            }
        }
        if (r == AddResult::Broken) return r;
        if (r == AddResult::LeftOut) {
            vt::DebugPrint("\n %s left out \n", item.path.c_str());
            if (everyItem) {
                firstLeftOut_ = item.path;
                return r;
            }
        }
    }
    return AddResult::Added;
}

}  // namespace vtbox
