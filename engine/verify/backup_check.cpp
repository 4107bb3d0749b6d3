// vtBoxCheckBackup: reads a whole backup file without a device and lists
// everything wrong with it, so that a damaged file shows before a restore
// locks the device.
//
// The file is unpacked piece by piece into a folder of its own inside the
// work folder: the outer entries, then each box archive in turn (only one at
// a time lies on disk), and removed at the end.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "boxcalls/box_call.hpp"
#include "localfiles/local_file.hpp"
#include "localfiles/local_folder.hpp"
#include "packaging/folder_archive.hpp"
#include "packaging/zip_reader.hpp"
#include "session/boundary.hpp"
#include "store/layout.hpp"
#include "vtplatform/diag.hpp"
#include "vtplatform/errors.hpp"

using namespace vtbox;

namespace {

constexpr const char *kExport = "vtBoxCheckBackup";

struct Finding {
    uint32_t box;
    std::string entry, text;
};

// Entry names split at either separator.
std::vector<std::string> Parts(const std::string &name) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : name) {
        if (c == '\\' || c == '/') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) parts.push_back(part);
    return parts;
}

// "D0000012" -> 12 when it is an entry folder of the given letter; -1 otherwise.
int FolderNumber(const std::string &name, char letter) {
    return EntryNumberFromRecordName(name + kRecordExtension, letter);
}

// What one level of a box holds: records and entry folders by number.
struct Level {
    std::set<uint32_t> documentRecords, documentFolders;
};

struct BoxContents {
    Level top;
    std::set<uint32_t> folderRecords, folderFolders;
    std::map<uint32_t, Level> inFolder;
    std::set<std::string> innerFolders;
};

std::string LevelName(uint32_t folder) {
    return folder == 0 ? std::string("the top level") : "folder " + FolderEntryName(folder);
}

class BackupCheck {
public:
    BackupCheck(std::string file, std::string work) : file_(std::move(file)), work_(std::move(work)) {}

    void Run() {
        std::string outer = JoinPath(work_, "outer");
        if (!CreateFolderTree(outer)) RaiseLastError();
        if (!ReadOuter(outer)) return;
        StoreTree tree(outer);
        ReadDescription();
        ReadRecords(tree);
        ReadData(tree);
        CompareWithDescription();
    }

    const std::vector<Finding> &findings() const { return findings_; }

private:
    void Note(uint32_t box, std::string entry, std::string text) {
        vt::DebugPrint("\n check: box %03u %s: %s \n", box, entry.c_str(), text.c_str());
        findings_.push_back({box, std::move(entry), std::move(text)});
    }

    // Every entry of an open archive read against its CRC; with extract_to,
    // the entries are also unpacked there. Returns the entry names.
    std::vector<ZipEntryInfo> ReadAll(ZipReader &zip, uint32_t box, const std::string &what,
                                      const std::string &extract_to) {
        std::vector<ZipEntryInfo> entries;
        if (zip.entryCount() == 0) return entries;
        bool more = zip.gotoFirst();
        while (more) {
            ZipEntryInfo info;
            if (!zip.currentInfo(&info)) {
                Note(box, what, "the archive's list of entries is damaged");
                break;
            }
            bool ok = extract_to.empty() ? zip.checkCurrent() : zip.extractCurrent(extract_to, false);
            if (!ok) {
                uint32_t rc = GetLastError();
                if (rc == vt::code(vt::Code::DiskFull) || rc == vt::code(vt::Code::HandleDiskFull))
                    Raise(rc, "no room to unpack " + info.name + " in " + work_);
                Note(box, what + ": " + info.name,
                     rc == vt::code(vt::Code::InvalidName) ? "the entry's name leads out of its folder"
                                                           : "the entry is damaged (its data does not match its CRC)");
            } else {
                entries.push_back(info);
            }
            more = zip.gotoNext();
            if (!more && GetLastError() != vt::code(vt::Code::NoMoreFiles)) {
                Note(box, what, "the archive's list of entries is damaged");
            }
        }
        return entries;
    }

    bool ReadOuter(const std::string &outer) {
        ZipReader zip;
        if (!zip.open(file_)) {
            Note(0, "", "the file is no zip archive, or its end is damaged");
            return false;
        }
        std::vector<ZipEntryInfo> entries = ReadAll(zip, 0, "the backup file", outer);
        StoreTree tree(outer);
        for (const std::string &path : {tree.description(), tree.databaseArchive(), tree.dataArchive()})
            if (!PathExists(path))
                Note(0, "BOX/" + LastName(path), "missing or unreadable in the backup file");
        return true;
    }

    void ReadDescription() {
        VTBACKUPINFO info{};
        uint32_t count = 0;
        VTBOXBK *boxes = nullptr;
        void *handle = nullptr;
        uint32_t rc = vtBoxGetXMLInfo(file_.c_str(), work_.c_str(), &info, &count, &boxes, &handle);
        GlobalBlock owner(handle);
        if (rc != 0) {
            std::string detail = vtBoxGetLastErrorText();
            Note(0, "BOX/Backup.XML",
                 vt::Format("the description cannot be read (error %u)", rc) + (detail.empty() ? "" : ": " + detail));
            return;
        }
        if (info.Kind != 1) {
            Note(0, "", "the file is a document archive, not a backup file");
            return;
        }
        described_ = true;
        for (uint32_t i = 0; i < count; ++i) {
            if (boxes_.count(boxes[i].BoxNo))
                Note(boxes[i].BoxNo, "BOX/Backup.XML", "the description lists the box twice");
            boxes_[boxes[i].BoxNo] = boxes[i];
        }
    }

    void ReadRecords(const StoreTree &tree) {
        std::string archive = tree.databaseArchive();
        if (!PathExists(archive)) return;
        if (ChangeLast32Bytes(archive) != 0) {
            Note(0, "BOX/DATABASE.vtb", "cannot be read");
            return;
        }
        ZipReader zip;
        if (!zip.open(archive)) {
            Note(0, "BOX/DATABASE.vtb", "no box record archive, or its end is damaged");
            return;
        }
        for (const auto &e : ReadAll(zip, 0, "BOX/DATABASE.vtb", std::string())) {
            std::vector<std::string> parts = Parts(e.name);
            if (e.isFolder || parts.empty()) continue;
            int n = EntryNumberFromRecordName(parts.back(), 'B');
            if (n > 0) records_.insert(static_cast<uint32_t>(n));
        }
    }

    void ReadData(const StoreTree &tree) {
        std::string archive = tree.dataArchive();
        if (!PathExists(archive)) return;
        ZipReader data;
        if (!data.open(archive)) {
            Note(0, "BOX/DATA.zip", "no zip archive, or its end is damaged");
            return;
        }
        std::string boxes_folder = tree.data();
        if (!CreateFolderTree(boxes_folder)) RaiseLastError();
        bool more = data.gotoFirst();
        while (more) {
            ZipEntryInfo info;
            if (!data.currentInfo(&info)) {
                Note(0, "BOX/DATA.zip", "the archive's list of entries is damaged");
                break;
            }
            std::vector<std::string> parts = Parts(info.name);
            int box = (!info.isFolder && !parts.empty() &&
                       parts.back().size() == 12 && parts.back().substr(8) == kBoxArchiveExtension)
                          ? EntryNumberFromRecordName(parts.back().substr(0, 8) + kRecordExtension, 'B')
                          : -1;
            if (info.isFolder) {
                // DATA/ itself
            } else if (box <= 0) {
                if (!data.checkCurrent()) Note(0, "BOX/DATA.zip: " + info.name, "the entry is damaged");
                else Note(0, "BOX/DATA.zip: " + info.name, "not a box archive");
            } else if (!data.extractCurrent(boxes_folder, true)) {
                Note(static_cast<uint32_t>(box), "BOX/DATA.zip: " + info.name,
                     "the entry is damaged (its data does not match its CRC)");
                archives_.insert(static_cast<uint32_t>(box));
            } else {
                archives_.insert(static_cast<uint32_t>(box));
                ReadBox(static_cast<uint32_t>(box), JoinPath(boxes_folder, BoxArchiveName(box)));
            }
            more = data.gotoNext();
        }
    }

    void ReadBox(uint32_t box, const std::string &archive) {
        std::string what = "BOX/DATA.zip: " + BoxArchiveName(box);
        struct Remove {
            std::string path;
            ~Remove() { ::unlink(path.c_str()); }
        } remove{archive};
        if (ChangeLast32Bytes(archive) != 0) {
            Note(box, what, "cannot be read");
            return;
        }
        ZipReader zip;
        if (!zip.open(archive)) {
            Note(box, what, "no box archive, or its end is damaged");
            return;
        }
        BoxContents &c = contents_[box];
        std::string box_name = BoxFolderName(box);
        for (const auto &e : ReadAll(zip, box, what, std::string())) {
            std::vector<std::string> p = Parts(e.name);
            if (p.empty() || p[0] != box_name) {
                Note(box, what + ": " + e.name, "lies outside the box's folder " + box_name);
                continue;
            }
            if (p.size() < 2) continue;
            c.innerFolders.insert(p[1]);
            if (p.size() < 3) continue;
            Place(c, p, e.isFolder, box, what + ": " + e.name);
        }
        if (c.innerFolders.size() != 1)
            Note(box, what, vt::Format("the box should hold one inner folder, it holds %zu", c.innerFolders.size()));
    }

    // Sorts one entry below the inner folder into records and entry folders.
    void Place(BoxContents &c, const std::vector<std::string> &p, bool is_folder, uint32_t box,
               const std::string &where) {
        const std::string &a = p[2];
        bool leaf = p.size() == 3;
        int n;
        if (leaf && !is_folder && (n = EntryNumberFromRecordName(a, 'D')) > 0) {
            c.top.documentRecords.insert(n);
        } else if (leaf && !is_folder && (n = EntryNumberFromRecordName(a, 'F')) > 0) {
            c.folderRecords.insert(n);
        } else if ((n = FolderNumber(a, 'D')) > 0 && (!leaf || is_folder)) {
            c.top.documentFolders.insert(n);
        } else if ((n = FolderNumber(a, 'F')) > 0 && (!leaf || is_folder)) {
            c.folderFolders.insert(n);
            if (p.size() < 4) return;
            Level &level = c.inFolder[n];
            const std::string &b = p[3];
            bool leaf2 = p.size() == 4;
            int d;
            if (leaf2 && !is_folder && (d = EntryNumberFromRecordName(b, 'D')) > 0) level.documentRecords.insert(d);
            else if ((d = FolderNumber(b, 'D')) > 0 && (!leaf2 || is_folder)) level.documentFolders.insert(d);
            else if (!(leaf2 && IsStatusFile(b))) Note(box, where, "not part of a folder");
        } else if (!(leaf && IsStatusFile(a))) {
            Note(box, where, "not part of a box level");
        }
    }

    static bool IsStatusFile(const std::string &name) {
        return name == kCreateStatusFile || name == kUnlockStatusFile;
    }

    void CompareLevel(uint32_t box, uint32_t folder, const Level &level) {
        for (uint32_t d : level.documentRecords)
            if (!level.documentFolders.count(d))
                Note(box, DocumentEntryName(d) + kRecordExtension,
                     "a document record in " + LevelName(folder) + " without its document folder");
        for (uint32_t d : level.documentFolders)
            if (!level.documentRecords.count(d))
                Note(box, DocumentEntryName(d),
                     "a document folder in " + LevelName(folder) + " without its record");
    }

    void CompareWithDescription() {
        for (const auto &[box, c] : contents_) {
            CompareLevel(box, 0, c.top);
            for (uint32_t f : c.folderRecords)
                if (!c.folderFolders.count(f))
                    Note(box, FolderEntryName(f) + kRecordExtension, "a folder record without its folder");
            for (uint32_t f : c.folderFolders)
                if (!c.folderRecords.count(f)) Note(box, FolderEntryName(f), "a folder without its record");
            for (const auto &[f, level] : c.inFolder) CompareLevel(box, f, level);
        }
        if (!described_) return;
        for (const auto &[number, bk] : boxes_) {
            if (!records_.count(number))
                Note(number, "BOX/DATABASE.vtb", "the box's record " + BoxFolderName(number) + ".XML is missing");
            if (!archives_.count(number)) {
                Note(number, "BOX/DATA.zip", "the box archive " + BoxArchiveName(number) + " is missing");
                continue;
            }
            auto it = contents_.find(number);
            if (it == contents_.end()) continue;  // its archive was damaged, already noted
            const BoxContents &c = it->second;
            size_t documents = c.top.documentRecords.size();
            for (const auto &[f, level] : c.inFolder) documents += level.documentRecords.size();
            size_t folders = c.folderRecords.size();
            if (documents != bk.NumOfDocs)
                Note(number, "BOX/Backup.XML",
                     vt::Format("the description counts %u documents, the box archive holds %zu", bk.NumOfDocs,
                                documents));
            if (folders != bk.NumOfFolders)
                Note(number, "BOX/Backup.XML",
                     vt::Format("the description counts %u folders, the box archive holds %zu", bk.NumOfFolders,
                                folders));
        }
        for (uint32_t number : archives_)
            if (!boxes_.count(number))
                Note(number, "BOX/DATA.zip", "holds " + BoxArchiveName(number) + ", a box the description does not list");
    }

    std::string file_, work_;
    std::vector<Finding> findings_;
    bool described_ = false;
    std::map<uint32_t, VTBOXBK> boxes_;
    std::set<uint32_t> records_, archives_;
    std::map<uint32_t, BoxContents> contents_;
};

// A folder of its own inside the caller's work folder, gone at the end.
struct CheckFolder {
    std::string path;
    explicit CheckFolder(const std::string &work) {
        static std::atomic<unsigned> counter{0};
        path = JoinPath(FullPath(work), vt::Format(".~vtcheck%d-%u", static_cast<int>(getpid()), counter++));
        if (::mkdir(path.c_str(), 0700) != 0) {
            path.clear();
            RaiseLastError();
        }
    }
    ~CheckFolder() {
        if (!path.empty()) DeleteLocalTree(path, ParentFolder(path));
    }
};

}  // namespace

extern "C" uint32_t vtBoxCheckBackup(const char *backup_file, const char *work_folder, uint32_t *count,
                                     VTCHECKITEM **items, void **handle) {
    if (count) *count = 0;
    if (items) *items = nullptr;
    if (handle) *handle = nullptr;
    bool valid = backup_file && *backup_file && work_folder && *work_folder && count && items && handle;
    bool damaged = false;
    uint32_t rc = RunExport(kExport, valid, [&] {
        struct stat st;
        if (::stat(backup_file, &st) != 0) {
            LastErrorFromErrno(errno);
            Raise(GetLastError(), std::string(backup_file) + " cannot be read");
        }
        if (!S_ISREG(st.st_mode)) Raise(vt::Code::FileNotFound, std::string(backup_file) + " is not a file");
        CheckFolder folder(work_folder);
        BackupCheck check(FullPath(backup_file), folder.path);
        check.Run();
        const auto &found = check.findings();
        if (found.empty()) return;
        GlobalBlock block(GlobalAlloc(GPTR, sizeof(VTCHECKITEM) * found.size()));
        if (!block) Raise(vt::Code::NotEnoughMemory);
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
        rc = vt::code(vt::Code::FileCorrupt);
        NoteFailure(rc, vt::Format("%u finding%s in %s", *count, *count == 1 ? "" : "s", backup_file));
        SetLastError(rc);
    }
    return rc;
}
