// The restore job behind vtBoxRestore: one object per call, holding the
// paths, the FTP client and the progress of the run. restore.cpp holds the
// run (unpacking, new boxes, uploads), merge.cpp the merge into boxes the
// device has.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "browse/selection.hpp"
#include "ftp/ftp_client.hpp"
#include "jobs/background_step.hpp"
#include "jobs/long_job.hpp"
#include "restore/document_senders.hpp"
#include "restore/restore_entries.hpp"
#include "session/boundary.hpp"
#include "store/layout.hpp"
#include "verify/backup_unpack.hpp"
#include "vtBoxBRD.h"

namespace vtbox {

inline constexpr const char *kRestoreExport = "vtBoxRestore";

inline std::string Join(const std::string &folder, const std::string &name) { return folder + "/" + name; }

// One chosen box, with the paths of its level on both sides.
struct BoxWork {
    VTBOXBK info;
    bool partial = false;  // only chosen folders and documents of it are restored
    std::string local;     // the unpacked box level (inner folder)
    std::string remote;    // the device's box level
    // The device's top-level documents before the restore, and those of them
    // that restored documents replace.
    std::set<uint32_t> topDeviceIds;
    EntryList topReplaced;
};

// One level as its documents are sent: the device's folder number (0 for the
// top level), and its paths on the device and here.
struct LevelWork {
    uint32_t deviceFolder = 0;
    std::string remote;
    std::string local;
};

// A backup folder that pours into the device folder of the same name.
struct FolderMerge {
    uint32_t localId;
    uint32_t deviceId;
};

class Restore {
public:
    Restore(VTMFPSESSION *session, const char *password, const char *ftpUser, std::string work, std::string backup,
            Selection selection, bool replace, uint32_t deviceTime, HANDLE cancelEvent, HANDLE progressEvent,
            VTPROGRESSINFO *progress)
        : session_(session), password_(password), ftpUser_(ftpUser), work_(std::move(work)), tree_(work_),
          boxRoot_(tree_.box()), backup_(std::move(backup)), unpacker_(backup_, tree_),
          selection_(std::move(selection)), replace_(replace), deviceTime_(deviceTime), cancel_(cancelEvent),
          job_(kRestoreExport, progress, progressEvent, cancelEvent), progress_(job_.progress()) {}

    void Run();
    // The failure path: never throws.
    void Fail(uint32_t code) noexcept;

private:
    void MakeWorkTree();
    void ReadDescription();
    void UnpackChosenParts();
    void CheckLaterBoxes();
    void RestoreBox(size_t index);
    // Takes box number out of the data archive, checks and unpacks it (or
    // the part of it chosen) and stamps its documents: 0, or it raises.
    uint32_t UnpackBox(uint32_t number);
    // False only when the device's FTP server surely has no entry at path:
    // its level was made by this restore or has been listed once.
    bool RemoteMayHave(const std::string &path);
    // The names at a remote level, listed once (raises when it cannot be listed).
    const std::set<std::string> &RemoteNames(const std::string &level);
    // The numbers of entries ('D' documents, 'F' folders) that the device's
    // files at level show in use, a folder or a record of the number, listed
    // by the box service or not: none of them is free for a restored entry.
    std::set<uint32_t> NumbersInUse(const std::string &level, char letter);
    // path now exists on the device; freshLevel: it is a folder just made.
    void NoteRemote(const std::string &path, bool freshLevel);
    void CheckNewBox(BoxWork &box);
    void MakeBox(BoxWork &box);
    void MergeBox(BoxWork &box, EntryList &deviceFolders, EntryList &deviceDocuments);
    void MergeFolder(BoxWork &box, const FolderMerge &merge);
    void RenumberNewFolders(BoxWork &box, const EntryList &deviceFolders, std::set<uint32_t> used);
    void CheckDiskSpace(const BoxWork &box);
    void UploadLevel(BoxWork &box);
    void MakeEntry(uint32_t box, uint32_t folder, uint32_t document, const std::string &remote,
                   const std::string &local, bool cancelBeforeUpload = false);
    // What the job's thread does for a document before any of its steps: its
    // number checked free on the device, its names noted, its progress label.
    DocumentSend PrepareDocument(uint32_t box, uint32_t folder, uint32_t number, const std::string &remote,
                                 const std::string &local, bool cancelBeforeUpload);
    // A document's steps on the connection ftp, from the first not done: its
    // folder, CREATE.STS, the service told, its record and pages, UNLOCK.STS
    // with CREATE.STS deleted, then the documents it replaces deleted. Runs on
    // any connection's thread: it touches only the session's box service.
    void SendSteps(BoxFtpClient &ftp, DocumentSend &document) const;
    // The senders of this box, made at its first level of more than one
    // document when more than one connection is configured.
    DocumentSenders *Senders(size_t documents);
    // replace.cpp: the documents of one level, replacements first.
    // Documents are spread over the connections the job may use; each level
    // ends with all of them complete, unless leaveInFlight (a level that
    // replaces nothing), and then FinishDocuments ends them.
    void SendDocuments(const BoxWork &box, const LevelWork &level, EntryList documents, const EntryList &replaced,
                       std::set<uint32_t> onDevice, bool cancelBeforeUpload, bool leaveInFlight = false);
    // The job's side of the senders. onDevice (may be null) is the level's
    // count, from which a complete document's replaced ones go.
    void CollectDocuments(std::set<uint32_t> *onDevice);
    // A document on the job's connection. Refused a data connection while
    // senders run, it goes to them as far as it got, and this connection
    // leaves the documents to them from then on; alone, the refusal fails.
    void SendHere(DocumentSend document, std::set<uint32_t> *onDevice);
    void SendLeft(std::vector<DocumentSend> left, std::set<uint32_t> *onDevice);
    // Waits until every document handed out is complete.
    void FinishDocuments(std::set<uint32_t> *onDevice);
    // Lists a remote level now, while nothing is in flight, unless it is known.
    void KnowLevel(const std::string &level);
    void MakeDocument(uint32_t box, const LevelWork &level, uint32_t number, bool cancelBeforeUpload);
    // Deletes a device document (folder 0: the box's top level); may run on any thread.
    void DeleteDocument(uint32_t box, uint32_t folder, uint32_t number) const;
    // A replacement at a level with no room for one more document.
    void ReplaceAtFullLevel(uint32_t box, const LevelWork &level, uint32_t number, const BoxEntry &old,
                            bool cancelBeforeUpload);
    // After a failed replacement: puts old back on the device from copy
    // (unless the device still has it), removing what was made of the
    // replacement number. Never throws.
    enum class PutBackResult { StillThere, PutBack, Failed };
    PutBackResult PutBack(uint32_t box, const LevelWork &level, uint32_t number, const BoxEntry &old,
                          const std::string &copy) noexcept;
    void DocumentDone();
    void Step();
    [[noreturn]] void FailLimit(int32_t phase);

    VTMFPSESSION *session_;
    const char *password_;
    const char *ftpUser_;
    std::string work_;
    StoreTree tree_;
    std::string boxRoot_;
    bool madeBox_ = false;  // BOX is this call's: a BOX the caller had is left alone
    std::string backup_;
    BackupUnpacker unpacker_;  // every level checked before it is unpacked
    Selection selection_;
    std::set<uint32_t> unpackedFirst_;  // boxes whose chosen parts were unpacked before any box was sent
    int64_t docsTotal_ = 0;
    bool replace_;
    uint32_t deviceTime_;
    HANDLE cancel_;
    LongJob job_;
    Progress &progress_;
    std::unique_ptr<BoxFtpClient> ftp_;
    // Further connections that send documents beside ftp_, and whether ftp_
    // sends documents too (until the device first refuses it a data
    // connection while they run).
    std::unique_ptr<DocumentSenders> senders_;
    bool sendersAsked_ = false;
    bool helping_ = true;
    VTBACKUPINFO info_{};
    std::vector<VTBOXBK> boxes_;
    uint32_t currentBox_ = 0;
    BackgroundStep unpacking_;    // the next box, unpacked while this one uploads
    uint32_t unpackedAhead_ = 0;  // the box number it unpacks
    // Names at remote levels (folders and files), as listed or made.
    std::map<std::string, std::set<std::string>> remoteLevels_;
    uint64_t steps_ = 0;  // progress steps done
    uint64_t total_ = 0;  // progress steps expected
};

}  // namespace vtbox
