// vtBoxExtractDocuments: chosen documents of a backup file written into a
// local folder, without a device.
//
// The chosen parts are unpacked into a scratch folder through the checks of
// verify and the restore (browse/selection), every one looked for before
// anything is written. Then each document goes into the target folder under
// a hidden name of its own and takes its final name, made from its display
// name (browse/local_names), in one rename that never replaces anything.
// Everything in the target is made relative to the target's descriptor and
// never through a link, so that no name from the file can lead outside it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "boxcalls/box_call.hpp"
#include "browse/backup_listing.hpp"
#include "browse/local_names.hpp"
#include "browse/selection.hpp"
#include "localfiles/local_file.hpp"
#include "localfiles/scratch_folder.hpp"
#include "session/boundary.hpp"
#include "session/waits.hpp"
#include "store/record_file.hpp"
#include "vtplatform/diag.hpp"

using namespace vtbox;

namespace {

constexpr const char *kExport = "vtBoxExtractDocuments";

// How many numbered names (" (2)", " (3)", ...) are tried for a name that is
// taken before the extraction gives up: more than a backup's documents of
// one name could ever need.
constexpr unsigned kMaxNumberedNames = 100000;

// Extracted files hold documents: their owner alone reads them, as a backup.
constexpr mode_t kFileMode = 0600;
constexpr mode_t kFolderMode = 0700;

[[noreturn]] void RaiseErrno(int err, const std::string &detail) { Raise(LastErrorFromErrno(err), detail); }

// Ends the extraction with a cancel once cancel is signalled.
void CheckCancel(HANDLE cancel) {
    if (IsSignalled(cancel)) Raise(vt::Code::CANCELLED, "the extraction was cancelled");
}

// The chosen parts of a box as a filter that looks at the cancel event before
// each entry, so that a large box stops unpacking soon after a cancel.
class CancellableFilter : public BoxEntryFilter {
public:
    CancellableFilter(BoxEntryFilter &inner, HANDLE cancel) : inner_(inner), cancel_(cancel) {}
    void Examine(const DirectoryList &entries) override {
        CheckCancel(cancel_);
        inner_.Examine(entries);
    }
    bool Keep(const std::vector<std::string> &parts, bool isFolder) const override {
        CheckCancel(cancel_);
        return inner_.Keep(parts, isFolder);
    }

private:
    BoxEntryFilter &inner_;
    HANDLE cancel_;
};

// A document's folder while it is being written: a hidden name in the target,
// removed with what it holds unless it took its final name.
class PendingFolder {
public:
    PendingFolder(int target, const std::string &targetPath, HANDLE cancel)
        : target_(target), targetPath_(targetPath), cancel_(cancel) {
        static std::atomic<unsigned> counter{0};
        for (unsigned tries = 0; fd_.get() < 0; ++tries) {
            name_ = vt::Format(".vtbox-extract-%d-%u", static_cast<int>(getpid()), counter++);
            if (mkdirat(target_, name_.c_str(), kFolderMode) != 0) {
                if (errno == EEXIST && tries < kMaxNumberedNames) continue;
                const int err = errno;
                name_.clear();
                RaiseErrno(err, "cannot make a folder in " + targetPath_);
            }
            fd_ = UniqueFd(openat(target_, name_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!fd_) RaiseErrno(errno, "cannot open the folder " + name_ + " in " + targetPath_);
        }
    }
    ~PendingFolder() {
        if (name_.empty()) return;
        for (const auto &file : files_) unlinkat(fd_.get(), file.c_str(), 0);
        fd_.reset();
        unlinkat(target_, name_.c_str(), AT_REMOVEDIR);
    }
    PendingFolder(const PendingFolder &) = delete;
    PendingFolder &operator=(const PendingFolder &) = delete;

    // Copies the local file from into the folder under a name of its own,
    // made safe and numbered when taken. Returns the bytes written.
    uint64_t Add(const std::string &from, const std::string &wanted) {
        UniqueFd in(open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (!in) RaiseErrno(errno, "cannot read " + from);
        const std::string base = SafeLocalName(wanted, "file");
        UniqueFd out;
        std::string name;
        for (unsigned n = 1; !out; ++n) {
            name = n == 1 ? base : NumberedLocalName(base, n);
            out = UniqueFd(
                openat(fd_.get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode));
            if (!out && (errno != EEXIST || n >= kMaxNumberedNames)) RaiseErrno(errno, "cannot write " + name);
        }
        files_.push_back(name);
        uint64_t bytes = 0;
        char buffer[1 << 16];
        for (;;) {
            CheckCancel(cancel_);
            const ssize_t got = read(in.get(), buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) RaiseErrno(errno, "cannot read " + from);
            if (got == 0) break;
            if (!WriteAll(out.get(), buffer, static_cast<size_t>(got))) Raise(GetLastError(), "cannot write " + name);
            bytes += static_cast<uint64_t>(got);
        }
        if (!out.Close()) Raise(GetLastError(), "cannot write " + name);
        return bytes;
    }

    // Gives the folder the first free name of base, base (2), base (3), ...;
    // never replaces anything. Returns the name it took.
    std::string Commit(const std::string &base) {
        for (unsigned n = 1; n <= kMaxNumberedNames; ++n) {
            const std::string name = n == 1 ? base : NumberedLocalName(base, n);
            if (TakeName(name)) {
                name_.clear();
                return name;
            }
        }
        Raise(vt::Code::ALREADY_EXISTS, "no free name for \"" + base + "\" in " + targetPath_);
    }

private:
    bool TakeName(const std::string &name) {
        if (renameat2(target_, name_.c_str(), target_, name.c_str(), RENAME_NOREPLACE) == 0) return true;
        if (errno == EEXIST || errno == ENOTEMPTY) return false;
        if (errno != EINVAL && errno != ENOSYS)
            RaiseErrno(errno, "cannot name the folder \"" + name + "\" in " + targetPath_);
        // A file system without the no-replace rename: the name is claimed by
        // an empty folder of our own, which the rename then takes the place of.
        if (mkdirat(target_, name.c_str(), kFolderMode) != 0) {
            if (errno == EEXIST) return false;
            RaiseErrno(errno, "cannot make \"" + name + "\" in " + targetPath_);
        }
        if (renameat(target_, name_.c_str(), target_, name.c_str()) != 0) {
            const int err = errno;
            unlinkat(target_, name.c_str(), AT_REMOVEDIR);
            RaiseErrno(err, "cannot name the folder \"" + name + "\" in " + targetPath_);
        }
        return true;
    }

    int target_;
    std::string targetPath_;
    HANDLE cancel_;
    std::string name_;
    UniqueFd fd_;
    std::vector<std::string> files_;
};

class Extraction {
public:
    Extraction(const BackupListing &listing, std::string target, HANDLE cancel)
        : listing_(listing), targetPath_(std::move(target)), cancel_(cancel) {}

    void Run(const Selection &chosen) {
        // Every chosen part is unpacked, and so looked for, before anything
        // is written into the target.
        std::vector<std::unique_ptr<SelectionFilter>> filters;
        for (uint32_t box : chosen.boxes()) {
            filters.push_back(std::make_unique<SelectionFilter>(box, chosen.of(box)));
            CancellableFilter cancellable(*filters.back(), cancel_);
            listing_.Unpack(box, &cancellable);
        }
        target_ = UniqueFd(open(targetPath_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!target_) RaiseErrno(errno, "cannot open the folder " + targetPath_);
        for (size_t i = 0; i < filters.size(); ++i) {
            const uint32_t box = chosen.boxes()[i];
            for (const auto &[key, entries] : filters[i]->contents().documents)
                if (chosen.of(box).HasDocument(key)) {
                    CheckCancel(cancel_);
                    Write(box, key, entries);
                }
        }
    }

    const std::vector<VTEXTRACTED> &written() const { return written_; }

private:
    void Write(uint32_t box, const DocumentKey &key, const DocumentEntries &entries) {
        const std::string data = listing_.tree().data();
        const std::string record = JoinPath(data, entries.record);
        const std::string name = ReadRecordNameUtf8(record);
        PendingFolder folder(target_.get(), targetPath_, cancel_);
        VTEXTRACTED e{};
        e.BoxNo = box;
        e.FolderNo = key.folder;
        e.DocNo = key.number;
        e.Size += folder.Add(record, RecordFileName(DocumentEntryName(key.number)));
        for (const DocumentFile &file : entries.files) e.Size += folder.Add(JoinPath(data, file.entry), file.name);
        e.NumOfFiles = static_cast<uint32_t>(entries.files.size() + 1);
        const std::string made = folder.Commit(SafeLocalName(name, DocumentEntryName(key.number)));
        CopyField(e.Name, name);
        CopyField(e.Folder, made);
        written_.push_back(e);
        vt::DebugPrint("\n Extracted %s into %s/%s \n", ItemText(box, key.folder, key.number).c_str(),
                       targetPath_.c_str(), made.c_str());
    }

    const BackupListing &listing_;
    std::string targetPath_;
    HANDLE cancel_;
    UniqueFd target_;
    std::vector<VTEXTRACTED> written_;
};

}  // namespace

extern "C" HGLOBAL vtBoxExtractDocuments(const char *backupFile, const char *workFolder, const char *targetFolder,
                                         uint32_t itemCount, const VTBACKUPITEM *items, HANDLE cancelEvent,
                                         uint32_t *count, VTEXTRACTED **extracted) {
    if (count) *count = 0;
    if (extracted) *extracted = nullptr;
    bool valid = backupFile && *backupFile && workFolder && *workFolder && targetFolder && *targetFolder &&
                 itemCount > 0 && items && count && extracted;
    return RunListExport(kExport, valid, [&] {
        const Selection chosen = Selection::FromItems(items, itemCount);
        ScratchFolder folder(workFolder, "vtextract");
        BackupListing listing(FullPath(backupFile), folder.path());
        Extraction extraction(listing, FullPath(targetFolder), cancelEvent);
        extraction.Run(chosen);
        const auto &found = extraction.written();
        GlobalBlock block(GlobalAlloc(GPTR, sizeof(VTEXTRACTED) * std::max<size_t>(found.size(), 1)));
        if (!block) Raise(vt::Code::NOT_ENOUGH_MEMORY);
        std::copy(found.begin(), found.end(), static_cast<VTEXTRACTED *>(block.get()));
        *count = static_cast<uint32_t>(found.size());
        *extracted = static_cast<VTEXTRACTED *>(block.get());
        return block;
    });
}
