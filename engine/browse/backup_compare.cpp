// vtBoxCompareBackup and vtBoxCompareBackupEach: a backup file against the device now, read-only. The
// backup is read through the listing (browse/backup_listing), the device
// through its lists (vtBoxGetCollection) and nothing else.
#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "boxcalls/box_call.hpp"
#include "browse/backup_listing.hpp"
#include "localfiles/local_file.hpp"
#include "localfiles/scratch_folder.hpp"
#include "session/boundary.hpp"
#include "vtplatform/diag.hpp"
#include "vtplatform/text.hpp"
#include "vtplatform/times.hpp"

using namespace vtbox;

namespace {

constexpr const char *kExport = "vtBoxCompareBackup";

// The device's list of one level: 161 when the box (or folder) is not there.
uint32_t DeviceLevel(VTMFPSESSION *session, const char *password, uint32_t box, uint32_t folder,
                     std::vector<VTBOXELEMENT> *out) {
    out->clear();
    uint32_t count = 0;
    VTBOXELEMENT *elements = nullptr;
    GlobalBlock block(vtBoxGetCollection(session, box, password, folder, &count, &elements));
    if (!block) {
        const uint32_t rc = GetLastError();
        return rc != 0 ? rc : vt::code(vt::Code::INTERNAL_ERROR);
    }
    out->assign(elements, elements + count);
    return 0;
}

std::u16string NameOf(const VTBOXELEMENT &e) {
    return std::u16string(vt::Utf16View(reinterpret_cast<const char16_t *>(e.Name), 128));
}

uint64_t Kilobytes(uint64_t bytes) { return bytes / 1024 + (bytes % 1024 != 0); }

bool SameTime(const SYSTEMTIME &a, const SYSTEMTIME &b) {
    return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDay == b.wDay && a.wHour == b.wHour &&
           a.wMinute == b.wMinute && a.wSecond == b.wSecond;
}

SYSTEMTIME TimeOf(uint32_t stamp) {
    SYSTEMTIME t{};
    if (stamp != 0) vt::UnixTimeToSystemTime(stamp, &t);
    return t;
}

// Pairs the entries of two lists that carry the same name: those of one
// name and one number first, then the rest of one name in order. pairs gets
// (backup index, device index); the unpaired stay out.
template <typename Backup>
std::vector<std::pair<size_t, size_t>> PairByName(const std::vector<Backup> &backup,
                                                  const std::vector<const VTBOXELEMENT *> &device) {
    std::vector<std::pair<size_t, size_t>> pairs;
    std::vector<bool> backupUsed(backup.size()), deviceUsed(device.size());
    for (int pass = 0; pass < 2; ++pass)
        for (size_t i = 0; i < backup.size(); ++i) {
            if (backupUsed[i]) continue;
            for (size_t j = 0; j < device.size(); ++j) {
                if (deviceUsed[j] || NameOf(*device[j]) != backup[i].name) continue;
                if (pass == 0 && device[j]->Id != backup[i].number) continue;
                pairs.push_back({i, j});
                backupUsed[i] = deviceUsed[j] = true;
                break;
            }
        }
    return pairs;
}

struct Named {
    uint32_t number;
    std::u16string name;
};

// Sets boxes of the backup against the device and hands each difference to
// emit as soon as it is whole (the next one begun, or its box done).
class Comparison {
public:
    using Emit = std::function<void(const VTBACKUPDIFF &)>;
    Comparison(VTMFPSESSION *session, const char *password, Emit emit)
        : session_(session), password_(password), emit_(std::move(emit)) {}

    void Box(const ListedBox &box) {
        BoxDifferences(box);
        Flush();
    }

private:
    void BoxDifferences(const ListedBox &box) {
        box_ = box.described.BoxNo;
        std::vector<VTBOXELEMENT> top;
        const uint32_t rc = DeviceLevel(session_, password_, box_, 0, &top);
        if (rc == vt::code(vt::Code::NOT_ON_DEVICE)) {
            ClearFailureDetail();
            VTBACKUPDIFF &d = Add(VTDIFF_ONLY_IN_BACKUP, VTENTRY_BOX);
            CopyField(d.Name,
                      std::string(box.described.BoxName, strnlen(box.described.BoxName, sizeof box.described.BoxName)));
            return;
        }
        Check(rc, vt::Format("listing box %03u on the device", box_));

        std::vector<Named> backupFolders;
        for (const auto &[number, f] : box.folders) backupFolders.push_back({number, f.name});
        std::vector<const VTBOXELEMENT *> deviceFolders;
        for (const auto &e : top)
            if (e.Kind == 0) deviceFolders.push_back(&e);
        auto pairs = PairByName(backupFolders, deviceFolders);
        std::vector<bool> backupPaired(backupFolders.size()), devicePaired(deviceFolders.size());
        for (auto [i, j] : pairs) backupPaired[i] = devicePaired[j] = true;

        Level(box, 0, u"", top, 0);
        for (auto [i, j] : pairs) {
            std::vector<VTBOXELEMENT> inside;
            Check(DeviceLevel(session_, password_, box_, deviceFolders[j]->Id, &inside),
                  vt::Format("listing folder %03u of box %03u on the device", deviceFolders[j]->Id, box_));
            Level(box, backupFolders[i].number, backupFolders[i].name, inside, deviceFolders[j]->Id);
        }
        for (size_t i = 0; i < backupFolders.size(); ++i) {
            if (backupPaired[i]) continue;
            VTBACKUPDIFF &d = Add(VTDIFF_ONLY_IN_BACKUP, VTENTRY_FOLDER);
            d.FolderNo = backupFolders[i].number;
            CopyField(d.Name, vt::Utf16ToUtf8(backupFolders[i].name));
            d.BackupDate = TimeOf(box.folders.at(backupFolders[i].number).stamp);
        }
        for (size_t j = 0; j < deviceFolders.size(); ++j) {
            if (devicePaired[j]) continue;
            VTBACKUPDIFF &d = Add(VTDIFF_ONLY_ON_DEVICE, VTENTRY_FOLDER);
            d.DeviceFolderNo = deviceFolders[j]->Id;
            CopyField(d.Name, vt::Utf16ToUtf8(NameOf(*deviceFolders[j])));
            d.DeviceDate = deviceFolders[j]->LastUpdateDate;
        }
    }

    // The documents of one level: the backup's folder (0: the top level)
    // against the device's list of the level that matched it.
    void Level(const ListedBox &box, uint32_t folder, const std::u16string &folderName,
               const std::vector<VTBOXELEMENT> &device, uint32_t deviceFolder) {
        struct Doc {
            uint32_t number;
            std::u16string name;
            const ListedDocument *listed;
        };
        std::vector<Doc> backup;
        for (auto d = box.documents.lower_bound({folder, 0}); d != box.documents.end() && d->first.folder == folder;
             ++d)
            backup.push_back({d->first.number, d->second.record.name, &d->second});
        std::vector<const VTBOXELEMENT *> onDevice;
        for (const auto &e : device)
            if (e.Kind != 0) onDevice.push_back(&e);
        auto pairs = PairByName(backup, onDevice);
        std::vector<bool> backupPaired(backup.size()), devicePaired(onDevice.size());
        const std::string folderText = vt::Utf16ToUtf8(folderName);
        for (auto [i, j] : pairs) {
            backupPaired[i] = devicePaired[j] = true;
            const ListedDocument &b = *backup[i].listed;
            const VTBOXELEMENT &e = *onDevice[j];
            const SYSTEMTIME backupDate = TimeOf(b.record.stamp);
            const uint32_t differs = (b.pages() != e.NumOfPages ? VTDIFF_PAGES : 0) |
                                     (Kilobytes(b.bytes) != Kilobytes(e.DocSize) ? VTDIFF_SIZE : 0) |
                                     (!SameTime(backupDate, e.LastUpdateDate) ? VTDIFF_DATE : 0);
            if (differs == 0) continue;
            VTBACKUPDIFF &d = Document(VTDIFF_CHANGED, folder, folderText, backup[i]);
            d.DeviceFolderNo = deviceFolder;
            d.DeviceDocNo = e.Id;
            d.Differs = differs;
            d.DevicePages = e.NumOfPages;
            d.DeviceSize = e.DocSize;
            d.DeviceDate = e.LastUpdateDate;
        }
        for (size_t i = 0; i < backup.size(); ++i)
            if (!backupPaired[i]) Document(VTDIFF_ONLY_IN_BACKUP, folder, folderText, backup[i]);
        for (size_t j = 0; j < onDevice.size(); ++j) {
            if (devicePaired[j]) continue;
            const VTBOXELEMENT &e = *onDevice[j];
            VTBACKUPDIFF &d = Add(VTDIFF_ONLY_ON_DEVICE, VTENTRY_DOCUMENT);
            d.FolderNo = folder;
            d.DeviceFolderNo = deviceFolder;
            d.DeviceDocNo = e.Id;
            CopyField(d.FolderName, folderText);
            CopyField(d.Name, vt::Utf16ToUtf8(NameOf(e)));
            d.DevicePages = e.NumOfPages;
            d.DeviceSize = e.DocSize;
            d.DeviceDate = e.LastUpdateDate;
        }
    }

    template <typename Doc>
    VTBACKUPDIFF &Document(uint32_t change, uint32_t folder, const std::string &folderText, const Doc &doc) {
        VTBACKUPDIFF &d = Add(change, VTENTRY_DOCUMENT);
        d.FolderNo = folder;
        d.DocNo = doc.number;
        CopyField(d.FolderName, folderText);
        CopyField(d.Name, vt::Utf16ToUtf8(doc.name));
        d.BackupPages = doc.listed->pages();
        d.BackupSize = doc.listed->bytes;
        d.BackupDate = TimeOf(doc.listed->record.stamp);
        return d;
    }

    // The next difference, to be filled in; the one before goes out.
    VTBACKUPDIFF &Add(uint32_t change, uint32_t kind) {
        Flush();
        if (count_ >= VTBOX_MAX_LISTED_ENTRIES)
            Raise(vt::Code::MORE_DATA,
                  vt::Format("more than %u differences; compare fewer boxes at a time", VTBOX_MAX_LISTED_ENTRIES));
        ++count_;
        pending_ = VTBACKUPDIFF{};
        pending_.Change = change;
        pending_.Kind = kind;
        pending_.BoxNo = box_;
        hasPending_ = true;
        return pending_;
    }

    void Flush() {
        if (!hasPending_) return;
        hasPending_ = false;
        emit_(pending_);
    }

    VTMFPSESSION *session_;
    const char *password_;
    Emit emit_;
    uint32_t box_ = 0;
    size_t count_ = 0;
    VTBACKUPDIFF pending_{};
    bool hasPending_ = false;
};

// Compares the chosen boxes (none: every box the description lists), each
// once, in the order given, one box of the backup held at a time.
void CompareBoxes(VTMFPSESSION *session, const char *password, const char *workFolder, const char *backupFile,
                  uint32_t boxCount, const uint32_t *boxNumbers, Comparison::Emit emit) {
    ScratchFolder folder(workFolder, "vtdiff");
    BackupListing listing(FullPath(backupFile), folder.path());
    std::vector<uint32_t> chosen(boxNumbers, boxNumbers + boxCount);
    if (boxCount == 0)
        for (const VTBOXBK &b : listing.described()) chosen.push_back(b.BoxNo);
    Comparison comparison(session, password, std::move(emit));
    std::vector<uint32_t> done;
    for (uint32_t box : chosen) {
        if (std::find(done.begin(), done.end(), box) != done.end()) continue;
        done.push_back(box);
        comparison.Box(listing.ReadBox(box, VTBOX_MAX_LISTED_ENTRIES));
    }
}

}  // namespace

extern "C" HGLOBAL vtBoxCompareBackup(VTMFPSESSION *session, const char *password, const char *workFolder,
                                      const char *backupFile, uint32_t boxCount, const uint32_t *boxNumbers,
                                      uint32_t *count, VTBACKUPDIFF **items) {
    if (count) *count = 0;
    if (items) *items = nullptr;
    bool valid = SessionIsOpen(session) && password && workFolder && *workFolder && backupFile && *backupFile &&
                 count && items && (boxCount == 0 || boxNumbers);
    return RunListExport(kExport, valid, [&] {
        std::vector<VTBACKUPDIFF> found;
        CompareBoxes(session, password, workFolder, backupFile, boxCount, boxNumbers,
                     [&](const VTBACKUPDIFF &d) { found.push_back(d); });
        // A block of at least one record, so that no difference still has a handle.
        GlobalBlock block(GlobalAlloc(GPTR, sizeof(VTBACKUPDIFF) * std::max<size_t>(found.size(), 1)));
        if (!block) Raise(vt::Code::NOT_ENOUGH_MEMORY);
        std::copy(found.begin(), found.end(), static_cast<VTBACKUPDIFF *>(block.get()));
        *count = static_cast<uint32_t>(found.size());
        *items = static_cast<VTBACKUPDIFF *>(block.get());
        return block;
    });
}

extern "C" uint32_t vtBoxCompareBackupEach(VTMFPSESSION *session, const char *password, const char *workFolder,
                                           const char *backupFile, uint32_t boxCount, const uint32_t *boxNumbers,
                                           VTDIFFPROC diffProc, void *context) {
    bool valid = SessionIsOpen(session) && password && workFolder && *workFolder && backupFile && *backupFile &&
                 diffProc && (boxCount == 0 || boxNumbers);
    return RunExport("vtBoxCompareBackupEach", valid, [&] {
        CompareBoxes(session, password, workFolder, backupFile, boxCount, boxNumbers, [&](const VTBACKUPDIFF &d) {
            if (diffProc(&d, context) != 0) Raise(vt::Code::CANCELLED, "the caller ended the comparison");
        });
    });
}
