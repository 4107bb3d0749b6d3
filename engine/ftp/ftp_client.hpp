// The FTP client that moves box data between the device and this machine.
//
// One object serves one FTP connection. Backup and restore create it for the
// device's engine version (MakeFtpClient), hand it the cancel event with
// SetCancelEvent, call Connect, and destroy it when done; the destructor logs
// the totals and closes the connection. Operations that "raise" throw
// vtbox::BoxError with the result code, for the export's boundary to catch.
//
// The device speaks one of two command dialects; the client sends the words
// of the verb table it was made with (ftp_verbs.hpp) and is otherwise the same.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ftp/ftp_session.hpp"
#include "ftp/ftp_verbs.hpp"
#include "localfiles/held_files.hpp"
#include "localfiles/local_folder.hpp"
#include "vtBoxBRD.h"
#include "vtplatform.h"

namespace vtbox {

// The registry key that holds the FTP log level (value "FtpLog", 4 bytes)
// under HKEY_CURRENT_USER.
inline constexpr const char *kFtpLogKey = "Software\\Lumo\\Tarvo Lumo Client\\BRD";
inline constexpr const char *kFtpLogValue = "FtpLog";

class BoxFtpClient {
public:
    // A client that speaks the dialect of verbs (not connected yet).
    explicit BoxFtpClient(const FtpVerbs &verbs);
    ~BoxFtpClient();
    BoxFtpClient(const BoxFtpClient &) = delete;
    BoxFtpClient &operator=(const BoxFtpClient &) = delete;

    // Connects to the session's Host on the FTP port (21, or $VTBOX_FTP_PORT)
    // and logs in. Raises 12014 when the login is refused, 12004 for any other
    // failure. The session record is only read.
    void Connect(const VTMFPSESSION *session, const char *user, const char *password);
    void Close();

    // Each returns non-zero on success. FtpCreateFolder reports a refusal and
    // returns 0; FtpChangeDirectory raises it.
    int FtpCreateFolder(const std::string &remotePath);
    int FtpChangeDirectory(const std::string &remotePath);
    // Lists a remote folder into folders and files (each may be null).
    // Raises on failure (a refused command, a broken transfer, an entry name
    // that is unsafe or too long).
    int FtpListDirectory(const std::string &remotePath, FindList *folders, FindList *files);
    // Deletes "D0000nnn.XML" and removes "D0000nnn" in the current remote
    // folder; the result is that of the removal.
    int DeleteDocumentEntry(uint32_t document);
    // Never raises and reports nothing: a refusal only shows as 0.
    int RemoveEntry(const std::string &remotePath, bool folder);
    // The name of the first folder inside box box's data folder: 1 when found.
    int GetBoxInnerFolderName(uint32_t box, std::string *name);
    // Single files. GetFile replaces localPath only once the whole file has
    // arrived (or, with held files, keeps it there under that path); a failed
    // download leaves no file behind. Both raise on failure.
    int GetFile(const std::string &remotePath, const std::string &localPath);
    int PutFile(const std::string &remotePath, const std::string &localPath);
    int PutFileStreamed(const std::string &remotePath, const std::string &localPath);
    // Whole folders: the download fetches the folder's files and queues its
    // subfolders (see DownloadTree); the upload sends the folder's own files.
    int DownloadFolderByFTP(const std::string &localFolder, const std::string &remoteFolder);
    // The first half of DownloadFolderByFTP: the folder made here, listed,
    // its subfolders queued, and the names of its files (the status file
    // left out) given back for GetFolderFile to fetch when the caller
    // chooses. Raises as DownloadFolderByFTP does.
    int ListFolderForDownload(const std::string &localFolder, const std::string &remoteFolder,
                              std::vector<std::string> *files);
    // One file of a folder being downloaded, counted in the totals; raises
    // as GetFile does, and 995 when cancelled.
    void GetFolderFile(const std::string &localFolder, const std::string &remoteFolder, const std::string &name);
    int UploadFolderByFTP(const std::string &localFolder, const std::string &remoteFolder);
    // Status files: an empty remote file (under the type in force), and the change of
    // "CREATE.STS" to "UNLOCK.STS" that marks an entry complete.
    int CreateEmptyFile(const std::string &remotePath);
    int FtpReplaceStatusFile(const std::string &remoteFolder);

    // The queue of folders still to download, ordered by local path (bytes).
    void PeekPendingFolder(std::string *localPath, std::string *remotePath) const;
    void AddPendingFolder(const std::string &localPath, const std::string &remotePath);
    void RemoveFirstPendingFolder();
    void ClearPendingFolders();
    bool IsPendingEmpty() const;

    // Raises 995 when the cancel event is signalled.
    void CheckCancel();
    // At log level 2: the label (when given) and the server's last reply.
    void LogResponse(const char *label);

    // Mirrors a remote tree into a local folder, folder by folder in the
    // queue's order. afterFolder (when given) runs after each folder.
    void DownloadTree(const std::string &localRoot, const std::string &remoteRoot,
                      const std::function<void()> &afterFolder = {});

    // The event polled by CheckCancel; null means no cancellation. Not owned.
    void SetCancelEvent(HANDLE cancelEvent) { cancelEvent_ = cancelEvent; }
    // Where GetFile keeps the files it fetches while they are small enough
    // (the rest go to their local paths); null: every file to its path. Not
    // owned: it outlives the client.
    void SetHeldFiles(HeldFiles *held) { held_ = held; }

    uint32_t LogLevel() const { return logLevel_; }
    uint32_t DownloadBytes() const { return downloadBytes_; }
    uint32_t DownloadCount() const { return downloadCount_; }
    uint32_t UploadBytes() const { return uploadBytes_; }
    uint32_t UploadCount() const { return uploadCount_; }
    bool IsConnected() const { return session_ != nullptr; }
    // The code of the server's last complete reply (425: it had no data
    // connection to give), or 0 before any.
    int LastReplyCode() const { return session_ ? session_->LastReplyCode() : 0; }
    const FtpVerbs &Verbs() const { return verbs_; }

private:
    FtpSession &Session();  // raises 6 before Connect or after Close
    // DownloadFolderByFTP, with the files' names left in later (when given)
    // instead of fetched.
    int DownloadFolder(const std::string &localFolder, const std::string &remoteFolder,
                       std::vector<std::string> *later);
    uint32_t Upload(const std::string &remotePath, const std::string &localPath, FtpType type);
    void RaiseToLevel2() { logLevel_ = 2; }
    // Notes why the last command failed (as the session tells it) and raises code.
    [[noreturn]] void RaiseFailed(uint32_t code, const std::string &command);
    // Raises 995 when rc says the job's cancel ended the command.
    void RaiseIfCancelled(uint32_t rc, const std::string &command);
    std::string LastResponseText() const;

    std::unique_ptr<FtpSession> session_;
    HANDLE cancelEvent_ = nullptr;
    HeldFiles *held_ = nullptr;
    uint32_t logLevel_ = 0;
    uint32_t downloadBytes_ = 0;
    uint32_t downloadCount_ = 0;
    uint32_t uploadBytes_ = 0;
    uint32_t uploadCount_ = 0;
    uint64_t lastGetBytes_ = 0;  // size of the file GetFile fetched last
    FtpVerbs verbs_;
    std::map<std::string, std::string> pending_;
};

// Reads the log level from the registry: 0 when the key or value is missing.
uint32_t ReadFtpLogLevel();

// The client for a device with this engine version (as vtBoxGetEngineVersion
// gives it), speaking the dialect VerbsFor chooses. Raises 8 when no object
// can be had.
std::unique_ptr<BoxFtpClient> MakeFtpClient(const std::string &engineVersion);

// The same client, polling cancelEvent (may be null) and connected to the
// session's host with user and password; raises as Connect does.
std::unique_ptr<BoxFtpClient> ConnectFtpClient(const VTMFPSESSION *session, const char *user, const char *password,
                                               const std::string &engineVersion, HANDLE cancelEvent);

}  // namespace vtbox
