#include "verify/backup_unpack.hpp"

#include <unistd.h>

#include "localfiles/local_file.hpp"
#include "packaging/entry_name.hpp"
#include "packaging/folder_archive.hpp"
#include "packaging/zip_reader.hpp"
#include "session/result.hpp"
#include "session/waits.hpp"
#include "vtplatform.h"
#include "vtplatform/diag.hpp"
#include "vtplatform/errors.hpp"

namespace vtbox {

namespace {

[[noreturn]] void Refuse(const BackupFindings &findings) {
    std::string text = FindingText(findings.front());
    if (findings.size() > 1) text += vt::Format(" (and %zu more findings)", findings.size() - 1);
    Raise(vt::Code::DAMAGED_FILE, text);
}

void RefuseAny(const BackupFindings &findings) {
    if (!findings.empty()) Refuse(findings);
}

// An archive of one level opened, its list of entries checked as a zip.
void Open(ZipReader &zip, const std::string &path, const std::string &label) {
    if (zip.Open(path)) return;
    const uint32_t code = GetLastError();
    if (code != vt::code(vt::Code::DAMAGED_FILE)) Raise(code, path + " cannot be read");
    Raise(code, label + ": " + (zip.problem().empty() ? "no zip archive, or its end is damaged" : zip.problem()));
}

// The current entry's failure to unpack, in words: damage is the file's, the
// rest is the local disk's.
[[noreturn]] void RaiseUnpackFailure(ZipReader &zip, const std::string &label, const std::string &target) {
    const uint32_t code = GetLastError();
    ZipEntryInfo info;
    const std::string name = zip.CurrentInfo(&info) ? info.name : std::string("an entry");
    SetLastError(code);
    if (code == vt::code(vt::Code::DAMAGED_FILE))
        Raise(code, label + ": " + name + ": the entry is damaged (its data does not match its CRC)");
    if (code == vt::code(vt::Code::NOT_SUPPORTED))
        Raise(vt::Code::DAMAGED_FILE,
              label + ": " + name + ": the entry is encrypted or packed in a way not read here");
    Raise(code, "cannot unpack " + name + " of " + label + " into " + target);
}

// One entry, named name at its level, taken out into folder as saveAs.
void TakeOut(ZipReader &zip, const std::string &name, const std::string &label, const std::string &folder,
             const std::string &saveAs) {
    if (!zip.Locate(name, false)) Raise(vt::Code::DAMAGED_FILE, label + ": " + name + " is missing");
    if (!zip.ExtractCurrent(folder, true, saveAs)) RaiseUnpackFailure(zip, label, folder);
}

void UndoByteChange(const std::string &archive) {
    if (uint32_t rc = ChangeLast32Bytes(archive)) Raise(rc, "cannot undo the byte change of " + archive);
}

struct RemoveOnExit {
    std::string path;
    ~RemoveOnExit() { ::unlink(path.c_str()); }
};

}  // namespace

void BackupUnpacker::Describe(const VTBOXBK *boxes, uint32_t count) {
    BackupFindings findings;
    CheckDescription(boxes, count, &boxes_, &findings);
    RefuseAny(findings);
}

VTBACKUPINFO BackupUnpacker::ReadDescription(const std::string &work) {
    VTBACKUPINFO info{};
    uint32_t count = 0;
    VTBOXBK *boxes = nullptr;
    void *handle = nullptr;
    const uint32_t rc = vtBoxGetXMLInfo(backup_.c_str(), work.c_str(), &info, &count, &boxes, &handle);
    described_.assign(boxes, boxes + (boxes ? count : 0));
    if (handle) GlobalFree(handle);
    if (rc != 0 && DescriptionIsDamaged(rc))
        Raise(vt::Code::DAMAGED_FILE,
              vt::Format("BOX/Backup.XML: the description cannot be read (error %u): ", rc) + vtBoxGetLastErrorText());
    Check(rc);
    Describe(described_.data(), static_cast<uint32_t>(described_.size()));
    return info;
}

void BackupUnpacker::UnpackFile() {
    BackupFindings findings;
    {
        ZipReader outer;
        Open(outer, backup_, OuterLabel());
        CheckOuterLevel(outer, boxes_, &findings);
        RefuseAny(findings);
        if (!CreateFolderTree(tree_.box())) Raise(GetLastError(), "cannot make " + tree_.box());
        const std::string box = std::string(kBoxTreeName) + "\\";
        TakeOut(outer, box + kDatabaseArchiveName, OuterLabel(), tree_.box(), kDatabaseArchiveName);
        TakeOut(outer, box + kDataArchiveName, OuterLabel(), tree_.box(), kDataArchiveName);
    }
    {
        const std::string archive = tree_.databaseArchive();
        RemoveOnExit remove{archive};
        UndoByteChange(archive);
        ZipReader records;
        Open(records, archive, RecordsLabel());
        CheckRecordsLevel(records, boxes_, &findings);
        RefuseAny(findings);
        if (!records.ExtractAll(tree_.box(), false)) RaiseUnpackFailure(records, RecordsLabel(), tree_.box());
    }
    ZipReader data;
    Open(data, tree_.dataArchive(), DataLabel());
    CheckDataLevel(data, boxes_, &findings);
    RefuseAny(findings);
}

void BackupUnpacker::UnpackBox(uint32_t box, BoxEntryFilter *filter) const { ReadBox(box, filter, true); }

void BackupUnpacker::CheckBox(uint32_t box) const { ReadBox(box, nullptr, false); }

void BackupUnpacker::ReadBox(uint32_t box, BoxEntryFilter *filter, bool unpack) const {
    auto described = boxes_.find(box);
    if (described == boxes_.end())
        Raise(vt::Code::INVALID_PARAMETER, vt::Format("box %03u is not in %s", box, backup_.c_str()));
    const std::string archive = tree_.boxArchive(box);
    RemoveOnExit remove{archive};
    {
        ZipReader data;
        Open(data, tree_.dataArchive(), DataLabel());
        const std::string name = BoxArchiveName(box);
        if (!data.Locate(name, true)) Raise(vt::Code::DAMAGED_FILE, DataLabel() + ": " + name + " is missing");
        if (!data.ExtractCurrent(tree_.data(), true, name)) RaiseUnpackFailure(data, DataLabel(), tree_.data());
    }
    UndoByteChange(archive);
    ZipReader zip;
    Open(zip, archive, BoxLabel(box));
    BackupFindings findings;
    CheckBoxLevel(zip, described->second, &findings);
    RefuseAny(findings);
    if (unpack && !filter) {
        if (!zip.ExtractAll(tree_.data(), false)) RaiseUnpackFailure(zip, BoxLabel(box), tree_.data());
        return;
    }
    if (filter) filter->Examine(zip.entries());
    const auto &entries = zip.entries();
    std::string head;
    size_t i = 0;
    for (bool more = zip.GotoFirst(); more; more = zip.GotoNext(), ++i) {
        if (IsSignalled(CurrentCancelEvent())) Raise(vt::Code::CANCELLED);
        const size_t taken = filter ? filter->Takes(i) : 0;
        if (taken > 0) {
            if (!zip.ReadCurrent(&head, taken)) RaiseUnpackFailure(zip, BoxLabel(box), tree_.data());
            filter->Take(i, head);
            filter->Passed(i);
            continue;
        }
        bool keep = false;
        if (unpack) {
            std::vector<std::string> parts;
            SplitSafeEntryName(entries[i].name, &parts);  // the reader refused every name this would not split
            keep = filter->Keep(parts, entries[i].isFolder);
        }
        const bool ok = keep ? zip.ExtractCurrent(tree_.data(), false) : zip.CheckCurrent();
        if (!ok) RaiseUnpackFailure(zip, BoxLabel(box), tree_.data());
        if (filter) filter->Passed(i);
    }
}

}  // namespace vtbox
