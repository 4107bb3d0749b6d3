// vtBoxConvertBackupData: a backup file made on one engine version turned
// into one for another, without the documents the destination cannot hold.
//
// The source is unpacked into <work>/BOX (store/layout.hpp) through the
// checks verify and the restore use (verify/backup_unpack.hpp), so that a
// file verify calls damaged is refused here too; the description gets the
// new version, each box is unpacked in turn, filtered and packed again, the
// totals of the description are corrected, and BOX is packed into the
// destination, which appears only when whole. The source is never changed;
// BOX is removed on every path.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "conversion/conversion_start.hpp"
#include "conversion/description_edit.hpp"
#include "conversion/document_filter.hpp"
#include "jobs/progress.hpp"
#include "localfiles/local_file.hpp"
#include "localfiles/local_folder.hpp"
#include "packaging/folder_archive.hpp"
#include "restore/restore_entries.hpp"
#include "session/boundary.hpp"
#include "store/layout.hpp"
#include "store/record_file.hpp"
#include "verify/backup_unpack.hpp"
#include "vtplatform/diag.hpp"
#include "vtplatform/errors.hpp"
#include "vtplatform/text.hpp"

using namespace vtbox;

namespace {

constexpr int32_t kPhaseConverting = VTPHASE_CONVERTING;
constexpr int32_t kPhasePacking = VTPHASE_PACKING;
const std::string kDashes(76, '-');
// Inside BOX, beside DATA: where a box archive waits while its box is
// converted. BOX is packed only once it is gone.
constexpr const char *kKeptFolder = ".kept";

// Removes from folder every item but the box archives of the listed boxes.
void KeepOnly(const std::string &folder, const std::vector<VTBOXBK> &boxes) {
    std::vector<std::string> keep;
    for (const VTBOXBK &box : boxes) keep.push_back(BoxArchiveName(box.BoxNo));
    FindList folders, files;
    ListLocalFolder(folder, "*", &folders, &files);
    for (const auto &f : folders) DeleteLocalTree(JoinPath(folder, f.cFileName), folder);
    for (const auto &f : files)
        if (std::find(keep.begin(), keep.end(), f.cFileName) == keep.end())
            std::remove(JoinPath(folder, f.cFileName).c_str());
}

class BackupConversion {
public:
    BackupConversion(ConversionRequest request, const std::string &work, HANDLE cancel, HANDLE progressEvent,
                     VTPROGRESSINFO *record)
        : request_(std::move(request)), work_(work), tree_(work), progress_(record, progressEvent, cancel),
          unpacker_(request_.source, tree_) {}

    void Run(const char *sourceAsGiven, const char *destinationAsGiven);
    // Removes BOX once it is the conversion's: a failure before that (a
    // refused argument, a missing settings file) leaves the caller's BOX.
    void Fail() {
        if (ownsBox_) DeleteLocalTree(tree_.box(), work_);
    }

private:
    void Step(int32_t percent) {
        progress_.SetPercent(percent);
        progress_.Signal();
        progress_.CheckCancel();
    }
    void UnpackDescription();
    void ConvertBox(VTBOXBK &box);
    void ConvertDocument(VTBOXBK &box, const std::string &level, uint32_t document, FilterContext context);
    void RewriteTotals();
    int32_t DocumentPercent() const;

    ConversionRequest request_;
    std::string work_;
    StoreTree tree_;
    Progress progress_;
    CheckSettings checks_;
    BackupUnpacker unpacker_;
    std::vector<VTBOXBK> boxes_;
    uint64_t total_ = 0, done_ = 0, removed_ = 0;
    bool ownsBox_ = false;
};

// The description taken out into BOX, where its version and totals are
// rewritten. The outer level was checked before: it holds one description.
void BackupConversion::UnpackDescription() {
    ZipReader zip;
    if (!zip.Open(request_.source)) Raise(GetLastError(), "cannot read " + request_.source);
    if (!zip.Locate(std::string(kBoxTreeName) + "\\" + kBackupDescriptionName, false) ||
        !zip.ExtractCurrent(tree_.box(), true, kBackupDescriptionName))
        Raise(GetLastError(), "cannot unpack the description of " + request_.source + " into " + tree_.box());
}

int32_t BackupConversion::DocumentPercent() const {
    const uint64_t n = total_ == 0 ? 1 : total_;
    return static_cast<int32_t>(std::min<uint64_t>(15 + 70 * done_ / n, 85));
}

void BackupConversion::ConvertDocument(VTBOXBK &box, const std::string &level, uint32_t document,
                                       FilterContext context) {
    OutputDebugStringA(kDashes.c_str());
    VTPROGRESSINFO &r = progress_.record();
    r.bDelete = 0;
    r.Flag = 0;
    const std::string item = JoinPath(level, DocumentEntryName(document));
    RecordFields fields;
    ReadRecordFields(RecordFileName(item), &fields);  // unreadable: zeros, and the document stays
    progress_.SetDocName(vt::Utf16ToUtf8(fields.name));
    const FilterOutcome outcome = ApplyFilters(fields, checks_, context);
    if (outcome.remove) {
        DeleteLocalTree(item, level);
        std::remove(RecordFileName(item).c_str());
        r.bDelete = 1;
        r.Flag = static_cast<int32_t>(outcome.flag);
        const uint32_t freed = FreedSize(fields);
        box.BoxUsedDisk = box.BoxUsedDisk > freed ? box.BoxUsedDisk - freed : 0;
        if (box.NumOfDocs > 0) box.NumOfDocs -= 1;
        removed_ += 1;
    }
    done_ += 1;
    r.DocsDone = static_cast<int32_t>(std::min<uint64_t>(done_, INT32_MAX));
    ReportDocument(progress_, DocumentPercent(), true);
}

void BackupConversion::ConvertBox(VTBOXBK &box) {
    OutputDebugStringA("\n*********************** BOX DATA CONVERSION *****************************\n");
    vt::DebugPrint("\n Converting Box -->%u %s  \n", box.BoxNo, box.BoxName);
    OutputDebugStringA("\n**************************************************************************\n");
    progress_.SetBoxName(std::string(box.BoxName, strnlen(box.BoxName, sizeof box.BoxName)));
    progress_.record().bDelete = 0;
    progress_.record().Flag = 0;
    progress_.Signal();
    progress_.CheckCancel();

    const uint32_t number = box.BoxNo;
    const std::string archive = tree_.boxArchive(number);
    // The box archive as it came, kept aside until it is known whether
    // anything leaves the box; the box itself is unpacked through the checks
    // the restore makes, against its description.
    const std::string kept = JoinPath(tree_.box(), kKeptFolder);
    if (!CreateFolderTree(kept)) Raise(GetLastError(), "cannot make " + kept);
    Check(ExtractBoxArchive(tree_.dataArchive(), kept, number));
    unpacker_.UnpackBox(number);
    const uint64_t removedBefore = removed_;

    const std::string level = JoinPath(tree_.boxFolder(number), FindInnerFolder(work_, number));
    EntryList folders, documents;
    ReadLocalEntries(level, &folders, &documents);
    for (const BoxEntry &d : documents) ConvertDocument(box, level, d.id, FilterContext::BoxLevel);

    for (const BoxEntry &f : folders) {
        OutputDebugStringA(kDashes.c_str());
        progress_.record().bDelete = 0;
        progress_.record().Flag = 0;
        const std::string folder = JoinPath(level, FolderEntryName(f.id));
        progress_.SetFolderName(vt::Utf16ToUtf8(f.name));
        EntryList inFolder;
        ReadLocalEntries(folder, nullptr, &inFolder);
        for (const BoxEntry &d : inFolder) ConvertDocument(box, folder, d.id, FilterContext::InFolder);
        progress_.SetFolderName("");
        PaceForWatcher(progress_);
    }

    progress_.record().bDelete = 0;
    progress_.record().Flag = 0;
    PaceForWatcher(progress_);
    if (removed_ == removedBefore) {
        // Nothing left the box: the archive it came in holds what packing it
        // again would, and keeping it spares compressing the box once more.
        if (std::rename(JoinPath(kept, BoxArchiveName(number)).c_str(), archive.c_str()) != 0)
            Raise(vt::Win32FromErrno(errno), "cannot move the box archive into " + tree_.data());
    } else {
        Check(ZipFolder(archive, tree_.boxFolder(number), {.byteChange = true}));
    }
    DeleteLocalTree(tree_.boxFolder(number), work_);
    DeleteLocalTree(kept, work_);
    OutputDebugStringA("\n****************************************************\n");
}

void BackupConversion::RewriteTotals() {
    std::vector<std::pair<std::string, std::string>> totals;
    for (const VTBOXBK &box : boxes_) {
        totals.emplace_back("NumOfDocs", std::to_string(box.NumOfDocs));
        totals.emplace_back("BoxUsedDisk", std::to_string(box.BoxUsedDisk));
    }
    if (ReplaceXmlElementsInOrder(tree_.description(), work_, totals) != 0)
        Raise(GetLastError(), "cannot correct the totals in " + tree_.description());
}

void BackupConversion::Run(const char *sourceAsGiven, const char *destinationAsGiven) {
    OutputDebugStringA("\n vtBoxConvertBackupData Starts \n");
    progress_.SetPercent(1);
    progress_.SetPhase(kPhaseConverting);
    progress_.Signal();
    progress_.CheckCancel();
    checks_ = StartConversion(request_, sourceAsGiven, destinationAsGiven, 1, "\n Could not Find the Src .ini File \n");

    Step(3);
    // The work folder is the conversion's: a BOX left by an earlier run that
    // stopped would mix into this one.
    ownsBox_ = true;
    struct stat st;
    if (lstat(tree_.box().c_str(), &st) == 0) {
        OutputDebugStringA("\n Removing an old BOX folder from the work folder \n");
        DeleteLocalTree(tree_.box(), work_);
    }
    // The box list is the description's, checked (each box once); without
    // it nothing could be converted, so the conversion stops rather than
    // pack the source again under the new version.
    unpacker_.ReadDescription(work_);
    boxes_ = unpacker_.described();
    unpacker_.UnpackFile();
    UnpackDescription();
    Step(7);
    Step(12);
    if (ReplaceXmlElementLine(tree_.description(), work_, "EngineVersion", request_.destinationVersion) != 0)
        Raise(GetLastError(), "cannot write the new engine version into " + tree_.description());

    for (const VTBOXBK &box : boxes_) total_ += box.NumOfDocs;
    progress_.record().DocsTotal = static_cast<int32_t>(std::min<uint64_t>(total_, INT32_MAX));
    for (VTBOXBK &box : boxes_) ConvertBox(box);
    progress_.ClearNames();

    RewriteTotals();
    progress_.record().bDelete = 0;
    progress_.record().Flag = 0;
    progress_.SetPhase(kPhasePacking);
    Step(85);

    // DATA is packed again from the converted box archives alone: the old
    // DATA.zip goes, and so does anything the description does not name.
    std::remove(tree_.dataArchive().c_str());
    KeepOnly(tree_.data(), boxes_);

    Check(ZipFolder(tree_.dataArchive(), tree_.data()));
    DeleteLocalTree(tree_.data(), work_);
    Step(92);
    Check(ZipFolder(tree_.databaseArchive(), tree_.database(), {.byteChange = true}));
    DeleteLocalTree(tree_.database(), work_);
    Step(97);
    // The last step: once the destination is in place the conversion has
    // succeeded, so a cancel is honoured only before it.
    Check(ZipFolder(request_.destination, tree_.box()));
    DeleteLocalTree(tree_.box(), work_);
    progress_.SetPercent(99);
    progress_.Signal();
    OutputDebugStringA("\n vtBoxConvertVaultraData Complete \n");
}

}  // namespace

extern "C" uint32_t vtBoxConvertBackupData(const char *source, const char *destination, const char *workFolder,
                                           const char *sourceVersion, const char *destinationVersion,
                                           HANDLE cancelEvent, HANDLE progressEvent, VTPROGRESSINFO *progress) {
    return RunConversionExport<BackupConversion>("vtBoxConvertBackupData", source, destination, workFolder,
                                                 sourceVersion, destinationVersion, cancelEvent, progressEvent,
                                                 progress);
}
