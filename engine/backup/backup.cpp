// vtBoxBackup: the chosen boxes of a device into one backup file.
//
// The work tree under the caller's work folder (store/layout.hpp):
//   BOX/Backup.XML                 the description
//   BOX/DATABASE/B0000nnn.XML      box records
//   BOX/DATA/B0000nnn/...          box trees
// Each folder is packed, once fetched, straight into its place in the backup
// file (packaging/backup_file.hpp), built under a hidden name beside BOX; the
// file becomes BOX.zip when complete and is then moved to the target.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "description/description_writer.hpp"
#include "ftp/folder_fetchers.hpp"
#include "ftp/ftp_client.hpp"
#include "jobs/background_step.hpp"
#include "jobs/long_job.hpp"
#include "localfiles/held_files.hpp"
#include "localfiles/local_file.hpp"
#include "localfiles/local_folder.hpp"
#include "localfiles/target_file.hpp"
#include "packaging/backup_file.hpp"
#include "session/boundary.hpp"
#include "store/layout.hpp"
#include "store/record_file.hpp"
#include "vtplatform/diag.hpp"
#include "vtplatform/errors.hpp"
#include "vtplatform/text.hpp"
#include "vtplatform/times.hpp"

using namespace vtbox;

namespace {

void MakeNewFolder(const std::string &path) {
    if (mkdir(path.c_str(), 0777) != 0) Raise(vt::Win32FromErrno(errno), "cannot make the folder " + path);
}

// The display name of the entry whose folder is being fetched, from its
// record, held or in the work tree. Only a label for the progress record: a
// record that cannot be read leaves it empty rather than failing the backup.
std::string EntryLabel(const HeldFiles &held, const std::string &folder) {
    const std::string record = RecordFileName(folder);
    if (std::string head; held.Head(record, kRecordFieldsBytes, &head)) {
        RecordFields fields;
        ParseRecordFields(head, &fields);
        return vt::Utf16ToUtf8(fields.name);
    }
    try {
        return ReadRecordNameUtf8(record);
    } catch (const BoxError &) {
        ClearFailureDetail();  // not a failure of the backup
        return {};
    }
}

class Backup {
public:
    Backup(VTMFPSESSION *session, const char *password, const char *ftpUser, const std::string &work,
           const std::string &target, std::vector<uint32_t> boxes, HANDLE cancel, HANDLE progressEvent,
           VTPROGRESSINFO *record)
        : session_(session), password_(password), ftpUser_(ftpUser), work_(work), tree_(work), box_(tree_.box()),
          target_(target), boxes_(std::move(boxes)), job_("vtBoxBackup", record, progressEvent, cancel),
          progress_(job_.progress()), file_(tree_, &held_) {}

    void Run();
    void Fail() noexcept;

private:
    std::unique_ptr<BoxFtpClient> Connect();
    void WriteDescription();
    void FetchBoxRecords();
    void FetchBox(size_t index);

    VTMFPSESSION *session_;
    const char *password_;
    const char *ftpUser_;
    std::string work_;
    StoreTree tree_;
    std::string box_, target_;
    std::vector<uint32_t> boxes_;
    LongJob job_;
    Progress &progress_;
    VTENGVERSION version_{};
    std::vector<VTBOXEX> properties_;
    std::unique_ptr<BoxFtpClient> client_;
    double total_ = 0, done_ = 0;
    // Small downloaded files, kept from their download until packed; before
    // the file and the packing, which use it, so that it outlives them.
    HeldFiles held_;
    BackupFileWriter file_;
    bool madeBox_ = false;  // BOX is this call's: a BOX the caller had is left alone
    bool madeBoxZip_ = false;
    BackgroundStep packing_;  // the box before, packed while this one downloads
};

// Every connection of the job, the fetchers' too, keeps small files in
// memory, and the packer takes them from there.
std::unique_ptr<BoxFtpClient> Backup::Connect() {
    auto client = ConnectFtpClient(session_, ftpUser_, password_, version_.EngineVersion, progress_.cancelEvent());
    client->SetHeldFiles(&held_);
    return client;
}

void Backup::WriteDescription() {
    DescriptionWriter writer(tree_.description());
    writer.WriteHeader();
    Check(vtBoxGetEngineVersion(session_, password_, &version_));
    progress_.CheckCancel();
    SYSTEMTIME local;
    vt::GetLocalTime(&local);
    writer.WriteDevice(version_, local, vt::LocalUtcOffsetMinutes(time(nullptr)));
    writer.BeginBoxes(static_cast<uint32_t>(boxes_.size()));
    progress_.SetPhase(VTPHASE_PREPARING);
    progress_.Signal();
    for (size_t i = 0; i < boxes_.size(); ++i) {
        progress_.CheckCancel();
        VTBOXEX box{};
        char rawName[256] = {};
        Check(vtBoxGetBoxProperty(session_, boxes_[i], password_, &box, rawName));
        total_ += static_cast<double>(box.NumOfDocs) + box.NumOfFolders + 2;
        writer.WriteBox(box);
        progress_.SetPercent(static_cast<int32_t>(i * 4 / boxes_.size()));
        progress_.Signal();
        properties_.push_back(box);
        progress_.record().DocsTotal += static_cast<int32_t>(box.NumOfDocs);
    }
    progress_.Signal();
    progress_.CheckCancel();
    writer.Finish();
}

void Backup::FetchBoxRecords() {
    progress_.SetPhase(VTPHASE_DOWNLOADING);
    progress_.Signal();
    progress_.CheckCancel();
    if (!boxes_.empty()) {
        client_ = Connect();
        for (uint32_t box : boxes_) client_->GetFile(DeviceBoxRecord(box), tree_.boxRecord(box));
        client_->Close();
        client_.reset();
    }
    Check(file_.AddDatabase());
    DeleteLocalTree(tree_.database(), work_);
    held_.DropUnder(tree_.database());
    progress_.SetPercent(5);
    progress_.Signal();
    progress_.CheckCancel();
}

void Backup::FetchBox(size_t index) {
    const uint32_t box = boxes_[index];
    OutputDebugStringA(("\n" + std::string(33, '#') + " BOX " + std::string(38, '#')).c_str());
    progress_.SetPhase(VTPHASE_DOWNLOADING);
    progress_.SetBoxName(properties_[index].BoxName);
    progress_.SetFolderName("");
    progress_.SetDocName("");
    progress_.Signal();
    client_ = Connect();
    progress_.CheckCancel();

    const std::string local = tree_.boxFolder(box);
    MakeNewFolder(local);
    // Documents' folders go to further connections where the job may use
    // them; this one lists the box and fetches its levels' own files
    // meanwhile, and documents too whenever the fetchers have enough queued.
    std::unique_ptr<FolderFetchers> fetchers;
    if (size_t connections = ConfiguredFtpConnections(); connections > 1)
        fetchers = std::make_unique<FolderFetchers>(
            connections - 1, [this] { return Connect(); }, progress_.cancelEvent());
    // Folders that the fetchers gave back are fetched here, and counted once.
    auto takeBack = [&](std::vector<FolderFetchers::Folder> left) {
        for (auto &f : left) client_->AddPendingFolder(f.first, f.second);
        done_ -= static_cast<double>(left.size());
        progress_.record().DocsDone -= static_cast<int32_t>(left.size());
    };
    // This connection fetches documents too until the device first refuses
    // it a data connection; from then on it leaves them to the fetchers.
    bool helping = true;
    // Runs one step on this connection. The device has no data connection
    // left for it: a document goes to the fetchers, whose connections it
    // serves; anything else refused, or no fetcher left, makes it one
    // connection from here on, the step again.
    auto onThisConnection = [&](const std::function<void()> &step, const FolderFetchers::Folder *document) {
        try {
            step();
        } catch (const BoxError &e) {
            if (!fetchers || e.code() == vt::code(vt::Code::CANCELLED) || client_->LastReplyCode() != 425) throw;
            ClearFailureDetail();
            if (document && helping) {
                helping = false;
                if (fetchers->Add(document->first, document->second, true)) return;
            }
            takeBack(fetchers->Stop());
            fetchers.reset();
            step();
        }
    };
    auto fetchDocumentHere = [&](const std::string &folder, const std::string &remote) {
        FolderFetchers::Folder document(folder, remote);
        onThisConnection([&] { client_->DownloadFolderByFTP(folder, remote); }, &document);
    };
    // With fetchers, a level's own files (the records of its documents and
    // folders) are not fetched as the level is listed, which would leave the
    // fetchers idle until they all were: each entry's record comes just
    // before the entry is handed on (its name is the progress label), and
    // any other file of the level once the box is listed.
    struct LevelFile {
        std::string localFolder, remoteFolder, name;
    };
    std::map<std::string, LevelFile> levelFiles;  // by local path
    auto fetchLevelFile = [&](std::map<std::string, LevelFile>::iterator at) {
        LevelFile file = std::move(at->second);
        levelFiles.erase(at);
        onThisConnection([&] { client_->GetFolderFile(file.localFolder, file.remoteFolder, file.name); }, nullptr);
    };
    auto listLevelHere = [&](const std::string &folder, const std::string &remote) {
        std::vector<std::string> files;
        onThisConnection(
            [&] {
                files.clear();
                client_->ListFolderForDownload(folder, remote, &files);
            },
            nullptr);
        for (const auto &name : files) levelFiles.emplace(folder + "/" + name, LevelFile{folder, remote, name});
    };
    // The whole tree, folder by folder in the order of their local paths.
    client_->ClearPendingFolders();
    client_->AddPendingFolder(local, DeviceBoxFolder(box));
    for (;;) {
        while (!client_->IsPendingEmpty()) {
            client_->CheckCancel();
            std::string folder, remote;
            client_->PeekPendingFolder(&folder, &remote);
            client_->RemoveFirstPendingFolder();
            if (auto record = levelFiles.find(RecordFileName(folder)); record != levelFiles.end())
                fetchLevelFile(record);
            const bool isDocument = folder.find(kDocumentEntryPrefix) != std::string::npos;
            if (isDocument) {
                progress_.SetDocName(EntryLabel(held_, folder));
                progress_.record().DocsDone += 1;
            } else {
                progress_.SetDocName("");
            }
            // A folder entry's own folder: its path ends in "F0000nnn".
            size_t f = folder.find(kFolderEntryPrefix);
            if (f != std::string::npos && folder.size() - f == FolderEntryName(0).size())
                progress_.SetFolderName(EntryLabel(held_, folder));
            progress_.Signal();

            if (isDocument && fetchers && fetchers->Add(folder, remote, !helping)) {
                // handed on
            } else if (isDocument) {
                fetchDocumentHere(folder, remote);
            } else if (fetchers) {
                listLevelHere(folder, remote);
            } else {
                client_->DownloadFolderByFTP(folder, remote);
            }
            done_ += 1;
            int32_t percent = total_ > 0 ? static_cast<int32_t>(done_ * 90 / total_ + 5) : 95;
            progress_.SetPercent(percent);
            if (percent < 100) progress_.Signal();
            progress_.CheckCancel();
        }
        if (!levelFiles.empty()) {
            fetchLevelFile(levelFiles.begin());
            continue;
        }
        if (!fetchers) break;
        // This connection fetches what is still queued beside the fetchers,
        // then waits for the last of theirs: every folder in before the box
        // is packed.
        if (FolderFetchers::Folder queued; helping && fetchers->Take(&queued)) {
            fetchDocumentHere(queued.first, queued.second);
            continue;
        }
        takeBack(fetchers->Finish());
        fetchers.reset();
    }
    client_->Close();
    client_.reset();

    progress_.SetFolderName("");
    progress_.SetDocName("");
    progress_.SetPhase(VTPHASE_PACKING);
    progress_.Signal();
    // Packed while the next box downloads (the box before must be done first).
    packing_.Start([this, box, local, work = work_] {
        uint32_t rc = file_.AddBox(box);
        if (rc == 0) DeleteLocalTree(local, work);
        held_.DropUnder(local);
        OutputDebugStringA((std::string(80, '#') + "\n").c_str());
        return rc;
    });
}

void Backup::Run() {
    job_.Start(session_);
    progress_.SetPhase(VTPHASE_PREPARING);
    progress_.Signal();
    // An existing target stays as it is until the new backup is complete,
    // and one that is no regular file is refused before anything is fetched.
    progress_.CheckCancel();
    Check(CheckReplaceableTarget(target_), "the backup's target");

    MakeNewFolder(box_);
    madeBox_ = true;
    MakeNewFolder(tree_.data());
    MakeNewFolder(tree_.database());
    Check(file_.Create(), "making the backup file in " + work_);
    progress_.CheckCancel();

    WriteDescription();
    FetchBoxRecords();
    for (size_t i = 0; i < boxes_.size(); ++i) FetchBox(i);
    packing_.Wait();

    progress_.ClearNames();
    progress_.SetPhase(VTPHASE_PACKING);
    progress_.Signal();
    Check(file_.FinishData());
    progress_.SetPhase(VTPHASE_TIDYING);
    progress_.Signal();
    progress_.CheckCancel();
    DeleteLocalTree(tree_.data(), work_);
    progress_.SetPercent(97);
    progress_.Signal();
    progress_.SetPhase(VTPHASE_PACKING);
    progress_.Signal();
    progress_.CheckCancel();

    Check(file_.Finish());
    madeBoxZip_ = true;
    progress_.SetPhase(VTPHASE_TIDYING);
    progress_.Signal();
    progress_.CheckCancel();
    DeleteLocalTree(box_, work_);
    // From here the file is the backup: a failure to put it in place keeps
    // it (the device still has the data, but the backup is made).
    madeBoxZip_ = false;
    if (uint32_t rc = ReplaceTargetFile(tree_.packedBox(), target_))
        Raise(rc, "putting the backup in place of " + target_ + " failed; the complete backup is kept as " +
                      tree_.packedBox());

    job_.Finish();
}

void Backup::Fail() noexcept {
    try {
        job_.MarkFailed();
        client_.reset();  // closes the connection and logs its totals
        packing_.Join();
        file_.Discard();
        if (madeBox_) DeleteLocalTree(box_, work_);
        if (madeBoxZip_) unlink(tree_.packedBox().c_str());
    } catch (...) {}
    job_.StopKeepAlive();
}

}  // namespace

extern "C" uint32_t vtBoxBackup(VTMFPSESSION *session, const char *password, const char *ftpUser,
                                const char *workFolder, const char *targetFile, uint32_t boxCount,
                                const uint32_t *boxNumbers, HANDLE cancelEvent, HANDLE progressEvent,
                                VTPROGRESSINFO *progress) {
    bool valid = SessionIsOpen(session) && password && ftpUser && workFolder && *workFolder && targetFile &&
                 *targetFile && progress && (boxCount == 0 || boxNumbers);
    std::unique_ptr<Backup> backup;
    return RunExport(
        "vtBoxBackup", valid,
        [&] {
            // A file without a box would pass for a backup (and, dated and
            // pruned, push real ones out): none is written.
            if (boxCount == 0) Raise(vt::Code::INVALID_PARAMETER, "no box is chosen: a backup holds at least one box");
            // A box given twice is backed up once: its description and archive
            // twice would make a file that verify and the restore refuse.
            std::vector<uint32_t> boxes;
            for (uint32_t i = 0; i < boxCount; ++i)
                if (std::find(boxes.begin(), boxes.end(), boxNumbers[i]) == boxes.end()) boxes.push_back(boxNumbers[i]);
            backup = std::make_unique<Backup>(session, password, ftpUser, FullPath(workFolder), FullPath(targetFile),
                                              std::move(boxes), cancelEvent, progressEvent, progress);
            backup->Run();
        },
        [&](uint32_t) noexcept {
            if (backup) backup->Fail();
        });
}
