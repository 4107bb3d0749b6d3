// vtBoxListBackup and the listing behind it.
#include "browse/backup_listing.hpp"

#include <algorithm>
#include <cstring>

#include "boxcalls/box_call.hpp"
#include "localfiles/local_file.hpp"
#include "localfiles/local_folder.hpp"
#include "localfiles/scratch_folder.hpp"
#include "session/boundary.hpp"
#include "vtplatform/diag.hpp"
#include "vtplatform/text.hpp"
#include "vtplatform/times.hpp"

namespace vtbox {

namespace {

// Takes a box's records in memory, and measures the box against the budget
// before anything of it is read. Nothing of the box is written out.
class RecordsFilter : public BoxEntryFilter {
public:
    RecordsFilter(uint32_t box, size_t budget, ListedBox *listed) : box_(box), budget_(budget), listed_(listed) {}

    void Examine(const DirectoryList &entries) override {
        // The box's map is dropped as the listing's skeleton is made of it,
        // a document at a time, so that the two are never held whole at once.
        BoxContents contents = MapBoxContents(entries, false);
        const size_t entriesOfBox = 1 + contents.folderRecords.size() + contents.documents.size();
        if (entriesOfBox > budget_)
            Raise(vt::Code::MORE_DATA,
                  vt::Format("box %03u holds %zu folders and documents, more than a listing takes (%u in all); "
                             "list fewer boxes at a time",
                             box_, entriesOfBox - 1, VTBOX_MAX_LISTED_ENTRIES));
        targets_.reserve(entriesOfBox);
        for (const auto &[number, index] : contents.folderRecords) {
            listed_->folders[number];
            targets_.push_back({static_cast<uint32_t>(index), {true, {number, 0}}});
        }
        while (!contents.documents.empty()) {
            const auto node = contents.documents.extract(contents.documents.begin());
            ListedDocument &d = listed_->documents[node.key()];
            d.bytes = node.mapped().bytes;
            d.files = node.mapped().fileCount;
            targets_.push_back({static_cast<uint32_t>(node.mapped().recordIndex), {false, node.key()}});
        }
        // The entries are read in their order: so are the records taken.
        std::sort(targets_.begin(), targets_.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    }

    bool Keep(const std::vector<std::string> &, bool) const override { return false; }

    size_t Takes(size_t index) const override {
        return next_ < targets_.size() && targets_[next_].first == index ? kRecordFieldsBytes : 0;
    }

    void Take(size_t, const std::string &head) override {
        const Target &t = targets_[next_++].second;
        if (t.folder) {
            RecordFields fields;
            ParseRecordFields(head, &fields);
            listed_->folders[t.key.folder] = {fields.name, fields.stamp};
        } else {
            ParseRecordFields(head, &listed_->documents[t.key].record);
        }
    }

    // Whether every record the box's list named was read.
    bool complete() const { return next_ == targets_.size(); }

private:
    struct Target {
        bool folder;  // a folder's record (key.folder is its number), else a document's
        DocumentKey key;
    };
    uint32_t box_;
    size_t budget_;
    ListedBox *listed_;
    // By the record's place in the list of entries (at most kMaxArchiveEntries).
    std::vector<std::pair<uint32_t, Target>> targets_;
    size_t next_ = 0;  // the next record to take
};

}  // namespace

BackupListing::BackupListing(const std::string &backupFile, const std::string &work)
    : tree_(work), unpacker_(backupFile, tree_) {
    const VTBACKUPINFO info = unpacker_.ReadDescription(work);
    if (info.Kind != 1) Raise(vt::Code::DAMAGED_FILE, backupFile + " is a document archive, not a backup file");
    boxes_ = unpacker_.described();
    unpacker_.UnpackFile();
}

const VTBOXBK &BackupListing::Described(uint32_t box) const {
    auto described = std::find_if(boxes_.begin(), boxes_.end(), [&](const VTBOXBK &b) { return b.BoxNo == box; });
    if (described == boxes_.end()) Raise(vt::Code::NOT_FOUND, vt::Format("box %03u is not in the backup file", box));
    return *described;
}

void BackupListing::Unpack(uint32_t box, BoxEntryFilter *filter) const {
    Described(box);
    unpacker_.UnpackBox(box, filter);
}

ListedBox BackupListing::ReadBox(uint32_t box, size_t budget) const {
    ListedBox listed;
    listed.described = Described(box);
    RecordsFilter filter(box, budget, &listed);
    unpacker_.UnpackBox(box, &filter);
    if (!filter.complete()) Raise(vt::Code::FILE_NOT_FOUND, vt::Format("box %03u: a record was not read", box));
    return listed;
}

}  // namespace vtbox

using namespace vtbox;

namespace {

constexpr const char *kExport = "vtBoxListBackup";

void SetDate(uint32_t stamp, SYSTEMTIME *out) {
    if (stamp != 0) vt::UnixTimeToSystemTime(stamp, out);
}

VTBACKUPENTRY Entry(uint32_t kind, uint32_t box, uint32_t folder, uint32_t document, const std::string &name) {
    VTBACKUPENTRY e{};
    e.Kind = kind;
    e.BoxNo = box;
    e.FolderNo = folder;
    e.DocNo = document;
    CopyField(e.Name, name);
    return e;
}

VTBACKUPENTRY DocumentEntry(uint32_t box, const DocumentKey &key, const ListedDocument &d) {
    VTBACKUPENTRY e = Entry(VTENTRY_DOCUMENT, box, key.folder, key.number, vt::Utf16ToUtf8(d.record.name));
    e.NumOfPages = d.pages();
    e.NumOfFiles = d.files;
    e.Size = d.bytes;
    SetDate(d.record.stamp, &e.Date);
    e.ColourFlags = static_cast<uint16_t>(d.record.colourFlags);
    e.PaperFlags = d.record.paperFlags;
    e.MixFlags = d.record.mixFlags;
    e.Kinds = (IsColourDocument(d.record) ? VTCONVERT_COLOUR : 0) |
              (IsWidePaperDocument(d.record) ? VTCONVERT_WIDE_PAPER : 0) |
              (IsCopyMixDocument(d.record) ? VTCONVERT_COPY_MIX : 0);
    return e;
}

// The box, its folders each followed by their documents, then its
// top-level documents, handed to emit one at a time: the box's entry first,
// with what its documents add up to.
template <typename Emit>
void EmitBox(const ListedBox &box, Emit &&emit) {
    const uint32_t number = box.described.BoxNo;
    VTBACKUPENTRY b =
        Entry(VTENTRY_BOX, number, 0, 0,
              std::string(box.described.BoxName, strnlen(box.described.BoxName, sizeof box.described.BoxName)));
    uint32_t latest = 0;
    for (const auto &[folder, f] : box.folders) latest = std::max(latest, f.stamp);
    for (const auto &[key, d] : box.documents) {
        latest = std::max(latest, d.record.stamp);
        b.Size += d.bytes;
    }
    b.NumOfFolders = static_cast<uint32_t>(box.folders.size());
    b.NumOfDocs = static_cast<uint32_t>(box.documents.size());
    SetDate(latest, &b.Date);
    emit(b);
    for (const auto &[folder, f] : box.folders) {
        VTBACKUPENTRY e = Entry(VTENTRY_FOLDER, number, folder, 0, vt::Utf16ToUtf8(f.name));
        SetDate(f.stamp, &e.Date);
        auto first = box.documents.lower_bound({folder, 0});
        auto end = first;
        for (; end != box.documents.end() && end->first.folder == folder; ++end) {
            ++e.NumOfDocs;
            e.Size += end->second.bytes;
        }
        emit(e);
        for (auto d = first; d != end; ++d) emit(DocumentEntry(number, d->first, d->second));
    }
    for (auto d = box.documents.begin(); d != box.documents.end() && d->first.folder == 0; ++d)
        emit(DocumentEntry(number, d->first, d->second));
}

// The chosen boxes of a listing, each once, in the order given (none: the
// description's), read one at a time and handed to emit entry by entry.
// Raises 234 past VTBOX_MAX_LISTED_ENTRIES.
template <typename Emit>
void ListBoxes(const char *backupFile, const char *workFolder, uint32_t boxCount, const uint32_t *boxNumbers,
               Emit &&emit) {
    ScratchFolder folder(workFolder, "vtlist");
    BackupListing listing(FullPath(backupFile), folder.path());
    std::vector<uint32_t> chosen;
    for (uint32_t i = 0; i < boxCount; ++i)
        if (std::find(chosen.begin(), chosen.end(), boxNumbers[i]) == chosen.end()) chosen.push_back(boxNumbers[i]);
    if (boxCount == 0)
        for (const VTBOXBK &b : listing.described())
            if (std::find(chosen.begin(), chosen.end(), b.BoxNo) == chosen.end()) chosen.push_back(b.BoxNo);
    // Every chosen box is one the file holds, and the description's counts
    // (which each box's read holds it to) fit the bound, before anything is
    // handed out.
    uint64_t declared = 0;
    for (uint32_t box : chosen) {
        const VTBOXBK &b = listing.Described(box);
        declared += 1ull + b.NumOfFolders + b.NumOfDocs;
    }
    if (declared > VTBOX_MAX_LISTED_ENTRIES)
        Raise(vt::Code::MORE_DATA,
              vt::Format("more than %u folders and documents; list fewer boxes at a time", VTBOX_MAX_LISTED_ENTRIES));
    size_t listed = 0;
    for (uint32_t box : chosen) {
        if (listed >= VTBOX_MAX_LISTED_ENTRIES)
            Raise(vt::Code::MORE_DATA, vt::Format("more than %u folders and documents; list fewer boxes at a time",
                                                  VTBOX_MAX_LISTED_ENTRIES));
        EmitBox(listing.ReadBox(box, VTBOX_MAX_LISTED_ENTRIES - listed), [&](const VTBACKUPENTRY &e) {
            ++listed;
            emit(e);
        });
    }
}

}  // namespace

extern "C" HGLOBAL vtBoxListBackup(const char *backupFile, const char *workFolder, uint32_t boxCount,
                                   const uint32_t *boxNumbers, uint32_t *count, VTBACKUPENTRY **items) {
    if (count) *count = 0;
    if (items) *items = nullptr;
    bool valid =
        backupFile && *backupFile && workFolder && *workFolder && count && items && (boxCount == 0 || boxNumbers);
    return RunListExport(kExport, valid, [&] {
        std::vector<VTBACKUPENTRY> entries;
        ListBoxes(backupFile, workFolder, boxCount, boxNumbers, [&](const VTBACKUPENTRY &e) { entries.push_back(e); });
        // A block of at least one record, so that an empty listing still has a handle.
        GlobalBlock block(GlobalAlloc(GPTR, sizeof(VTBACKUPENTRY) * std::max<size_t>(entries.size(), 1)));
        if (!block) Raise(vt::Code::NOT_ENOUGH_MEMORY);
        std::copy(entries.begin(), entries.end(), static_cast<VTBACKUPENTRY *>(block.get()));
        *count = static_cast<uint32_t>(entries.size());
        *items = static_cast<VTBACKUPENTRY *>(block.get());
        return block;
    });
}

extern "C" uint32_t vtBoxListBackupEach(const char *backupFile, const char *workFolder, uint32_t boxCount,
                                        const uint32_t *boxNumbers, VTLISTENTRYPROC entryProc, void *context) {
    bool valid = backupFile && *backupFile && workFolder && *workFolder && entryProc && (boxCount == 0 || boxNumbers);
    return RunExport("vtBoxListBackupEach", valid, [&] {
        ListBoxes(backupFile, workFolder, boxCount, boxNumbers, [&](const VTBACKUPENTRY &e) {
            if (entryProc(&e, context) != 0) Raise(vt::Code::CANCELLED, "the caller ended the listing");
        });
    });
}
