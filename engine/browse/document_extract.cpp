// vtBoxExtractDocuments and vtBoxExtractDocumentsEach: chosen documents of a
// backup file written into a local folder, without a device.
//
// Every chosen part is looked for before anything is written. Then the
// boxes are read one at a time through the checks of verify and the
// restore, and only the chosen documents' entries are unpacked into a
// scratch folder (browse/selection, browse/box_contents); each document is
// written out of it once its last entry has been read, and removed from it.
// A document goes into the target folder under a hidden name of its own and
// takes its final name, made from its display name (browse/local_names), in
// one rename that never replaces anything. Everything in the target is made
// relative to the target's descriptor and never through a link, so that no
// name from the file can lead outside it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <map>
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

using Emit = std::function<void(const VTEXTRACTED &)>;

// Writes whole documents into the target, each from its entries unpacked in
// the scratch tree, which it then removes from there.
class DocumentWriter {
public:
    DocumentWriter(std::string data, std::string target, HANDLE cancel, Emit emit)
        : data_(std::move(data)), targetPath_(std::move(target)), cancel_(cancel), emit_(std::move(emit)) {}

    // record and files: the document's entries (names split into parts), its
    // files in the order of the box archive.
    void Write(uint32_t box, const DocumentKey &key, const std::vector<std::string> &record,
               const std::vector<std::vector<std::string>> &files) {
        CheckCancel(cancel_);
        // Opened at the first document, so that a file refused before any is
        // written says why, whatever the target.
        if (!target_) {
            target_ = UniqueFd(open(targetPath_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (!target_) RaiseErrno(errno, "cannot open the folder " + targetPath_);
        }
        const std::string recordPath = Unpacked(record);
        const std::string name = ReadRecordNameUtf8(recordPath);
        std::vector<std::string> written{recordPath};
        VTEXTRACTED e{};
        e.BoxNo = box;
        e.FolderNo = key.folder;
        e.DocNo = key.number;
        std::string made;
        {
            PendingFolder folder(target_.get(), targetPath_, cancel_);
            e.Size += folder.Add(recordPath, RecordFileName(DocumentEntryName(key.number)));
            for (const auto &file : files) {
                written.push_back(Unpacked(file));
                e.Size += folder.Add(written.back(), file.back());
            }
            e.NumOfFiles = static_cast<uint32_t>(files.size() + 1);
            made = folder.Commit(SafeLocalName(name, DocumentEntryName(key.number)));
        }
        // The scratch tree holds the documents not yet written, no more.
        for (const auto &path : written) unlink(path.c_str());
        if (!files.empty()) rmdir(ParentFolder(written.back()).c_str());
        CopyField(e.Name, name);
        CopyField(e.Folder, made);
        vt::DebugPrint("\n Extracted %s into %s/%s \n", ItemText(box, key.folder, key.number).c_str(),
                       targetPath_.c_str(), made.c_str());
        emit_(e);
    }

private:
    std::string Unpacked(const std::vector<std::string> &parts) const {
        std::string path = data_;
        for (const auto &p : parts) path = JoinPath(path, p);
        return path;
    }

    std::string data_;
    std::string targetPath_;
    HANDLE cancel_;
    Emit emit_;
    UniqueFd target_;
};

// One box read through verify's checks with its chosen documents written as
// they come out of it: only a chosen document's record and page files are
// unpacked, and each document is written once its last entry has been read,
// in the order of their numbers (those that the box archive gives earlier
// wait in the scratch tree). What it holds of the box is the order of the
// chosen documents and the entries of those not yet written.
class BoxExtraction : public BoxEntryFilter {
public:
    BoxExtraction(uint32_t box, const BoxSelection &chosen, DocumentWriter &writer, HANDLE cancel)
        : box_(box), chosen_(chosen), writer_(writer), cancel_(cancel) {}

    void Examine(const DirectoryList &entries) override {
        CheckCancel(cancel_);
        entries_ = &entries;
        // The chosen documents' entries, by number: some 12 bytes an entry,
        // where a map of the box would take ten times as much.
        std::vector<Due> found;
        BoxContents present;  // the folders, and the chosen documents found
        for (size_t i = 0; i < entries.size(); ++i) {
            const EntryRole role = RoleOf(EntryParts(entries[i]), entries[i].isFolder);
            if (role.kind == EntryRole::FolderRecord) present.folderRecords[role.key.folder] = i;
            if (Chosen(role)) found.push_back({role.key, static_cast<uint32_t>(i)});
        }
        std::sort(found.begin(), found.end(), [](const Due &a, const Due &b) { return a.key < b.key; });
        for (const Due &d : found) {
            if (!due_.empty() && due_.back().key == d.key)
                due_.back().last = std::max(due_.back().last, d.last);
            else
                due_.push_back(d);
        }
        if (!chosen_.whole) {
            for (const Due &d : due_) present.documents[d.key];
            CheckChosenParts(box_, chosen_, present);
        }
    }

    bool Keep(const std::vector<std::string> &parts, bool isFolder) const override {
        CheckCancel(cancel_);
        return Chosen(RoleOf(parts, isFolder));
    }

    void Passed(size_t index) override {
        const DirectoryEntry &entry = (*entries_)[index];
        const EntryRole role = RoleOf(EntryParts(entry), entry.isFolder);
        if (Chosen(role)) {
            Seen &seen = seen_[role.key];
            if (role.kind == EntryRole::DocumentRecord)
                seen.record = index;
            else
                seen.files.push_back(index);
        }
        while (next_ < due_.size() && due_[next_].last <= index) Write(due_[next_++].key);
    }

    // Whether every chosen document was written.
    bool complete() const { return next_ == due_.size(); }

private:
    struct Due {
        DocumentKey key;
        uint32_t last;  // the place of its last entry (at most kMaxArchiveEntries)
    };
    struct Seen {
        size_t record = SIZE_MAX;
        std::vector<size_t> files;
    };

    bool Chosen(const EntryRole &role) const {
        return (role.kind == EntryRole::DocumentRecord || role.kind == EntryRole::DocumentFile) &&
               chosen_.HasDocument(role.key);
    }

    void Write(const DocumentKey &key) {
        auto seen = seen_.find(key);
        if (seen == seen_.end() || seen->second.record == SIZE_MAX)
            Raise(vt::Code::DAMAGED_FILE,
                  ItemText(box_, key.folder, key.number) + ": the document's record is not in the box archive");
        std::vector<std::vector<std::string>> files;
        for (size_t i : seen->second.files) files.push_back(EntryParts((*entries_)[i]));
        writer_.Write(box_, key, EntryParts((*entries_)[seen->second.record]), files);
        seen_.erase(seen);
    }

    uint32_t box_;
    const BoxSelection &chosen_;
    DocumentWriter &writer_;
    HANDLE cancel_;
    const DirectoryList *entries_ = nullptr;  // the box archive's, while it is read
    std::vector<Due> due_;                    // the chosen documents by number
    size_t next_ = 0;                         // the next of due_ to write
    std::map<DocumentKey, Seen> seen_;        // entries of chosen documents not yet written
};

// Looks for a box's chosen parts in its list of entries, writing nothing.
class ChosenPartsCheck : public BoxEntryFilter {
public:
    ChosenPartsCheck(uint32_t box, const BoxSelection &chosen, HANDLE cancel)
        : box_(box), chosen_(chosen), cancel_(cancel) {}
    void Examine(const DirectoryList &entries) override {
        CheckCancel(cancel_);
        CheckChosenParts(box_, chosen_, MapBoxContents(entries, false));
    }
    bool Keep(const std::vector<std::string> &, bool) const override {
        CheckCancel(cancel_);
        return false;
    }

private:
    uint32_t box_;
    const BoxSelection &chosen_;
    HANDLE cancel_;
};

// The chosen documents of a backup file written into target, a box at a
// time, each handed to emit once it has its name.
void ExtractDocuments(const char *backupFile, const char *workFolder, const char *targetFolder, uint32_t itemCount,
                      const VTBACKUPITEM *items, HANDLE cancel, const Emit &emit) {
    const Selection chosen = Selection::FromItems(items, itemCount);
    ScratchFolder folder(workFolder, "vtextract");
    BackupListing listing(FullPath(backupFile), folder.path());
    // Every chosen part is looked for before anything is written: the
    // boxes, in the description; the folders and documents of each box but
    // the first (whose own are looked for as it is read) in its list of
    // entries.
    for (uint32_t box : chosen.boxes()) listing.Described(box);
    for (size_t i = 1; i < chosen.boxes().size(); ++i) {
        const uint32_t box = chosen.boxes()[i];
        if (chosen.of(box).whole) continue;
        ChosenPartsCheck check(box, chosen.of(box), cancel);
        listing.Unpack(box, &check);
    }
    DocumentWriter writer(listing.tree().data(), FullPath(targetFolder), cancel, emit);
    for (uint32_t box : chosen.boxes()) {
        BoxExtraction extraction(box, chosen.of(box), writer, cancel);
        listing.Unpack(box, &extraction);
        if (!extraction.complete())
            Raise(vt::Code::FILE_NOT_FOUND, vt::Format("box %03u: a document was not read", box));
    }
}

}  // namespace

extern "C" HGLOBAL vtBoxExtractDocuments(const char *backupFile, const char *workFolder, const char *targetFolder,
                                         uint32_t itemCount, const VTBACKUPITEM *items, HANDLE cancelEvent,
                                         uint32_t *count, VTEXTRACTED **extracted) {
    if (count) *count = 0;
    if (extracted) *extracted = nullptr;
    bool valid = backupFile && *backupFile && workFolder && *workFolder && targetFolder && *targetFolder &&
                 itemCount > 0 && items && count && extracted;
    return RunListExport(kExport, valid, [&] {
        std::vector<VTEXTRACTED> found;
        ExtractDocuments(backupFile, workFolder, targetFolder, itemCount, items, cancelEvent,
                         [&](const VTEXTRACTED &e) { found.push_back(e); });
        // A block of at least one record, so that an extraction of nothing still has a handle.
        GlobalBlock block(GlobalAlloc(GPTR, sizeof(VTEXTRACTED) * std::max<size_t>(found.size(), 1)));
        if (!block) Raise(vt::Code::NOT_ENOUGH_MEMORY);
        std::copy(found.begin(), found.end(), static_cast<VTEXTRACTED *>(block.get()));
        *count = static_cast<uint32_t>(found.size());
        *extracted = static_cast<VTEXTRACTED *>(block.get());
        return block;
    });
}

extern "C" uint32_t vtBoxExtractDocumentsEach(const char *backupFile, const char *workFolder, const char *targetFolder,
                                              uint32_t itemCount, const VTBACKUPITEM *items, HANDLE cancelEvent,
                                              VTEXTRACTPROC documentProc, void *context) {
    bool valid = backupFile && *backupFile && workFolder && *workFolder && targetFolder && *targetFolder &&
                 itemCount > 0 && items && documentProc;
    return RunExport("vtBoxExtractDocumentsEach", valid, [&] {
        ExtractDocuments(backupFile, workFolder, targetFolder, itemCount, items, cancelEvent,
                         [&](const VTEXTRACTED &e) {
                             if (documentProc(&e, context) != 0)
                                 Raise(vt::Code::CANCELLED, "the caller ended the extraction");
                         });
    });
}
