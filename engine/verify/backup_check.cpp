// vtBoxCheckBackup: reads a whole backup file without a device and lists
// everything wrong with it, so that a damaged file shows before a restore
// locks the device.
//
// What the file may hold is decided by backup_layout.hpp, for the restore
// and its dry run as well; this reads every entry of every level on top of
// that, against its CRC. The file is unpacked piece by piece into a folder of
// its own inside the work folder: DATABASE.vtb and DATA.zip, then each box
// archive in turn (only one at a time lies on disk), and removed at the end.
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "boxcalls/box_call.hpp"
#include "localfiles/local_file.hpp"
#include "localfiles/local_folder.hpp"
#include "localfiles/scratch_folder.hpp"
#include "packaging/entry_name.hpp"
#include "packaging/folder_archive.hpp"
#include "packaging/zip_reader.hpp"
#include "session/boundary.hpp"
#include "store/layout.hpp"
#include "verify/backup_layout.hpp"
#include "vtplatform/diag.hpp"
#include "vtplatform/errors.hpp"

using namespace vtbox;

namespace {

constexpr const char *kExport = "vtBoxCheckBackup";

// The codes the description reader gives for what is wrong with the file
// itself: damaged, malformed, or of an engine version that cannot be read.
bool IsFileFault(uint32_t rc) {
    return DescriptionIsDamaged(rc) || rc == vt::code(vt::Code::NOT_SUPPORTED) ||
           rc == vt::code(vt::Code::ENGINE_TOO_NEW);
}

bool IsDiskFull(uint32_t rc) {
    return rc == vt::code(vt::Code::DISK_FULL) || rc == vt::code(vt::Code::HANDLE_DISK_FULL);
}

class BackupCheck {
public:
    BackupCheck(std::string file, std::string work) : file_(std::move(file)), work_(std::move(work)), tree_(work_) {}

    void Run() {
        ZipReader outer;
        if (!Open(outer, file_, 0, OuterLabel())) return;
        if (!ReadDescription()) return;
        std::vector<bool> passed;
        CheckOuterLevel(outer, boxes_, &findings_, &passed);
        if (!CreateFolderTree(tree_.box())) RaiseLastError();
        const auto &entries = outer.entries();
        size_t i = 0;
        for (bool more = outer.GotoFirst(); more; more = outer.GotoNext(), ++i) {
            if (!passed[i]) continue;
            const std::string last(EntryBaseName(entries[i].name));
            // The two archives go on disk under their own names; the
            // description is read where it lies.
            if (vt::EqualsIgnoreCase(last, kBackupDescriptionName))
                ReadEntry(outer, 0, OuterLabel());
            else
                TakeOut(outer, 0, OuterLabel(), tree_.box(),
                        vt::EqualsIgnoreCase(last, kDataArchiveName) ? kDataArchiveName : kDatabaseArchiveName);
        }
        ReadRecords();
        ReadData();
    }

    const BackupFindings &findings() const { return findings_; }

private:
    void Note(uint32_t box, std::string entry, std::string text) {
        vt::DebugPrint("\n check: box %03u %s: %s \n", box, entry.c_str(), text.c_str());
        findings_.push_back({box, std::move(entry), std::move(text)});
    }

    // An archive of one level, its list of entries checked as a zip. A file
    // that cannot be read here (no permission) is no finding.
    bool Open(ZipReader &zip, const std::string &path, uint32_t box, const std::string &label) {
        if (zip.Open(path)) return true;
        const uint32_t rc = GetLastError();
        if (rc != vt::code(vt::Code::DAMAGED_FILE)) Raise(rc, path + " cannot be read");
        Note(box, label, zip.problem().empty() ? "no zip archive, or its end is damaged" : zip.problem());
        return false;
    }

    // Why the current entry did not read whole, as a finding; a full disk
    // ends the check.
    void NoteUnreadable(ZipReader &zip, uint32_t box, const std::string &label) {
        const uint32_t rc = GetLastError();
        ZipEntryInfo info;
        const std::string name = zip.CurrentInfo(&info) ? info.name : std::string();
        if (IsDiskFull(rc)) Raise(rc, "no room to unpack " + name + " in " + work_);
        if (rc != vt::code(vt::Code::DAMAGED_FILE) && rc != vt::code(vt::Code::NOT_SUPPORTED))
            Raise(rc, "cannot unpack " + name + " of " + label + " into " + work_);
        Note(box, label + ": " + name,
             rc == vt::code(vt::Code::NOT_SUPPORTED) ? "the entry is encrypted or packed in a way not read here"
                                                     : "the entry is damaged (its data does not match its CRC)");
    }

    // The current entry read against its CRC, written nowhere.
    bool ReadEntry(ZipReader &zip, uint32_t box, const std::string &label) {
        if (zip.CheckCurrent()) return true;
        NoteUnreadable(zip, box, label);
        return false;
    }

    bool TakeOut(ZipReader &zip, uint32_t box, const std::string &label, const std::string &folder,
                 const std::string &saveAs) {
        if (zip.ExtractCurrent(folder, true, saveAs)) return true;
        NoteUnreadable(zip, box, label);
        return false;
    }

    bool ReadDescription() {
        VTBACKUPINFO info{};
        uint32_t count = 0;
        VTBOXBK *boxes = nullptr;
        void *handle = nullptr;
        uint32_t rc = vtBoxGetXMLInfo(file_.c_str(), work_.c_str(), &info, &count, &boxes, &handle);
        GlobalBlock owner(handle);
        if (rc != 0) {
            std::string detail = vtBoxGetLastErrorText();
            // A full or closed work folder is no fault of the file.
            if (!IsFileFault(rc)) Raise(rc, detail);
            // Without its description the file's levels cannot be measured.
            Note(0, "BOX/Backup.XML",
                 vt::Format("the description cannot be read (error %u)", rc) + (detail.empty() ? "" : ": " + detail));
            return false;
        }
        if (info.Kind != 1) {
            Note(0, "", "the file is a document archive, not a backup file");
            return false;
        }
        CheckDescription(boxes, count, &boxes_, &findings_);
        return true;
    }

    void ReadRecords() {
        const std::string archive = tree_.databaseArchive();
        if (!PathExists(archive)) return;
        if (ChangeLast32Bytes(archive) != 0) return Note(0, RecordsLabel(), "cannot be read");
        ZipReader zip;
        if (!Open(zip, archive, 0, RecordsLabel())) return;
        std::vector<bool> passed;
        CheckRecordsLevel(zip, boxes_, &findings_, &passed);
        size_t i = 0;
        for (bool more = zip.GotoFirst(); more; more = zip.GotoNext(), ++i)
            if (passed[i]) ReadEntry(zip, 0, RecordsLabel());
    }

    void ReadData() {
        const std::string archive = tree_.dataArchive();
        if (!PathExists(archive)) return;
        ZipReader data;
        if (!Open(data, archive, 0, DataLabel())) return;
        std::vector<bool> passed;
        CheckDataLevel(data, boxes_, &findings_, &passed);
        size_t i = 0;
        for (bool more = data.GotoFirst(); more; more = data.GotoNext(), ++i) {
            if (!passed[i]) continue;
            ZipEntryInfo info;
            data.CurrentInfo(&info);
            const uint32_t box = static_cast<uint32_t>(BoxNumberFromArchiveName(EntryBaseName(info.name)));
            if (TakeOut(data, box, DataLabel(), tree_.data(), BoxArchiveName(box))) ReadBox(box);
        }
    }

    void ReadBox(uint32_t box) {
        const std::string archive = tree_.boxArchive(box);
        struct Remove {
            std::string path;
            ~Remove() { ::unlink(path.c_str()); }
        } remove{archive};
        const std::string label = BoxLabel(box);
        if (ChangeLast32Bytes(archive) != 0) return Note(box, label, "cannot be read");
        ZipReader zip;
        if (!Open(zip, archive, box, label)) return;
        // Data of a box larger than its description allows is not read.
        if (!CheckBoxLevel(zip, boxes_.at(box), &findings_)) return;
        for (bool more = zip.GotoFirst(); more; more = zip.GotoNext()) ReadEntry(zip, box, label);
    }

    std::string file_, work_;
    StoreTree tree_;
    BackupFindings findings_;
    DescribedBoxes boxes_;
};

}  // namespace

extern "C" uint32_t vtBoxCheckBackup(const char *backupFile, const char *workFolder, uint32_t *count,
                                     VTCHECKITEM **items, void **handle) {
    if (count) *count = 0;
    if (items) *items = nullptr;
    if (handle) *handle = nullptr;
    bool valid = backupFile && *backupFile && workFolder && *workFolder && count && items && handle;
    bool damaged = false;
    uint32_t rc = RunExport(kExport, valid, [&] {
        struct stat st;
        if (::stat(backupFile, &st) != 0) {
            LastErrorFromErrno(errno);
            Raise(GetLastError(), std::string(backupFile) + " cannot be read");
        }
        if (!S_ISREG(st.st_mode)) Raise(vt::Code::FILE_NOT_FOUND, std::string(backupFile) + " is not a file");
        ScratchFolder folder(workFolder, "vtcheck");
        BackupCheck check(FullPath(backupFile), folder.path());
        check.Run();
        const auto &found = check.findings();
        if (found.empty()) return;
        GlobalBlock block(GlobalAlloc(GPTR, sizeof(VTCHECKITEM) * found.size()));
        if (!block) Raise(vt::Code::NOT_ENOUGH_MEMORY);
        auto *out = static_cast<VTCHECKITEM *>(block.get());
        for (size_t i = 0; i < found.size(); ++i) {
            out[i].BoxNo = found[i].box;
            CopyField(out[i].Entry, found[i].entry);
            CopyField(out[i].Text, found[i].text);
        }
        *count = static_cast<uint32_t>(found.size());
        *items = out;
        *handle = block.release();
        damaged = true;
    });
    if (rc == 0 && damaged) {
        rc = vt::code(vt::Code::DAMAGED_FILE);
        NoteFailure(rc, vt::Format("%u finding%s in %s", *count, *count == 1 ? "" : "s", backupFile));
        SetLastError(rc);
    }
    return rc;
}
