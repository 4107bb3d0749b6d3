#include "ftp/ftp_client.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <thread>

#include "ftp/ftp_listing.hpp"
#include "ftp/transfer_file.hpp"
#include "session/report.hpp"
#include "session/result.hpp"
#include "store/layout.hpp"
#include "vthandles.hpp"
#include "vtplatform/diag.hpp"
#include "vtplatform/errors.hpp"
#include "vtregistry.h"

namespace vtbox {

namespace {

constexpr const char *kHyphenLine = "------------------------------------------------------------------------";
// The last reply is logged from a buffer of this size (terminator included).
constexpr size_t kResponseBuffer = 512;
// A listing larger than this is not a listing of a box folder.
constexpr size_t kMaxListingBytes = 64u * 1024u * 1024u;

uint32_t ErrnoCode(int err) {
    uint32_t code = vt::SetLastErrorFromErrno(err);
    return code != 0 ? code : vt::code(vt::Code::INTERNAL_ERROR);
}

// A name from the network, shown with its control bytes escaped.
std::string Printable(const std::string &name) {
    std::string out;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F)
            out += vt::Format("\\x%02X", c);
        else
            out += static_cast<char>(c);
    }
    return out;
}

std::string Join(const std::string &folder, const std::string &name) { return folder + "/" + name; }

}  // namespace

uint32_t ReadFtpLogLevel() {
    HKEY opened = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kFtpLogKey, 0, KEY_READ, &opened) != 0) return 0;
    vt::RegistryKey key(opened);
    uint32_t level = 0;
    DWORD type = 0;
    DWORD size = sizeof level;
    uint8_t data[sizeof level] = {};
    if (RegQueryValueExA(key.get(), kFtpLogValue, nullptr, &type, data, &size) == 0 && size == sizeof level)
        std::memcpy(&level, data, sizeof level);
    return level;
}

BoxFtpClient::BoxFtpClient(const FtpVerbs &verbs) : logLevel_(ReadFtpLogLevel()), verbs_(verbs) {}

std::unique_ptr<BoxFtpClient> MakeFtpClient(const std::string &engineVersion) {
    try {
        return std::make_unique<BoxFtpClient>(VerbsFor(engineVersion));
    } catch (const std::bad_alloc &) {
        Raise(vt::Code::NOT_ENOUGH_MEMORY);
    }
}

std::unique_ptr<BoxFtpClient> ConnectFtpClient(const VTMFPSESSION *session, const char *user, const char *password,
                                               const std::string &engineVersion, HANDLE cancelEvent) {
    std::unique_ptr<BoxFtpClient> client = MakeFtpClient(engineVersion);
    client->SetCancelEvent(cancelEvent);
    client->Connect(session, user, password);
    return client;
}

BoxFtpClient::~BoxFtpClient() {
    try {
        LogResponse("Last Ftp Response Before Closing");
        if (downloadCount_ != 0)
            vt::DebugPrint("\n Total Files Downloaded = %u \n Total Download Size = %u ", downloadCount_,
                           downloadBytes_);
        if (uploadCount_ != 0)
            vt::DebugPrint("\n Total Files Uploaded = %u \n Total Uplaoded Size = %u ", uploadCount_, uploadBytes_);
        Close();
    } catch (...) {
        // A destructor reports nothing further; the connection goes with session_.
    }
    pending_.clear();
}

FtpSession &BoxFtpClient::Session() {
    if (!session_) Raise(vt::Code::INVALID_HANDLE);
    return *session_;
}

void BoxFtpClient::RaiseIfCancelled(uint32_t rc, const std::string &command) {
    // A command that the job's cancel ended is no refusal of the server's:
    // it ends the job with the cancel's code wherever it lands.
    if (rc == vt::code(vt::Code::CANCELLED)) {
        OutputDebugStringA("\n\n <<<<****  Ftp Operation Aborted ****>>>>\n\n\n");
        Raise(rc, "cancelled during " + command);
    }
}

namespace {
// True inside a handler when the failure caught is the job's cancel.
bool CancelledNow() {
    try {
        throw;
    } catch (const BoxError &e) {
        return e.code() == vt::code(vt::Code::CANCELLED);
    } catch (...) {
        return false;
    }
}
}  // namespace

void BoxFtpClient::RaiseFailed(uint32_t code, const std::string &command) {
    Raise(code, session_ ? session_->DescribeFailure(command) : command + " failed");
}

std::string BoxFtpClient::LastResponseText() const {
    if (!session_) return {};
    const std::string &text = session_->LastResponse();
    return text.substr(0, kResponseBuffer - 1);
}

void BoxFtpClient::Connect(const VTMFPSESSION *session, const char *user, const char *password) {
    OutputDebugStringA("Connecting to MFP FTP Server..!!");
    session_.reset();
    uint32_t rc = 0;
    if (!session || !user || !password) {
        rc = vt::code(vt::Code::INVALID_PARAMETER);
    } else {
        FtpLogin login;
        login.host.assign(session->Host, strnlen(session->Host, sizeof session->Host));
        login.port = FtpSession::DefaultPort();
        login.user = user;
        login.password = password;
        session_ = std::make_unique<FtpSession>();
        rc = session_->Open(login);
    }
    LogResponse(nullptr);
    if (rc == vt::code(vt::Code::CANCELLED)) {
        session_.reset();
        RaiseIfCancelled(rc, "the FTP login");
    }
    if (rc != 0) {
        std::string server = session
                                 ? vt::Format("%.*s:%u", static_cast<int>(strnlen(session->Host, sizeof session->Host)),
                                              session->Host, FtpSession::DefaultPort())
                                 : std::string("the device");
        std::string why =
            session_ ? session_->DescribeFailure("the FTP login at " + server) : "no FTP login name or password";
        session_.reset();  // no connection was made
        ReportFailure("InternetConnect", rc);
        if (rc == vt::code(vt::Code::FTP_LOGIN_REFUSED)) {
            ReportFailure("Connect", rc);
            SetLastError(rc);
            Raise(rc, why);
        }
        if (rc == vt::code(vt::Code::INVALID_PARAMETER)) ReportFailure("Connect", rc);
        SetLastError(rc);
        Raise(vt::Code::CONNECTION_FAILED, why);
    }
    OutputDebugStringA("Connection with FTP Server Established");
}

void BoxFtpClient::Close() {
    if (!session_) return;
    OutputDebugStringA("Closing the Ftp Connection....!!!");
    session_.reset();
}

int BoxFtpClient::FtpCreateFolder(const std::string &remotePath) {
    try {
        std::string command = std::string(verbs_.makeFolder) + " " + remotePath;
        uint32_t rc = Session().Command(command);
        LogResponse(command.c_str());
        RaiseIfCancelled(rc, command);
        if (rc != 0) {
            ReportFailure("FtpCreateFolder", rc);
            return 0;
        }
        return 1;
    } catch (const BoxError &e) {
        RaiseToLevel2();
        throw;
    } catch (...) {
        RaiseToLevel2();
        Raise(CodeInFlight());
    }
}

int BoxFtpClient::FtpChangeDirectory(const std::string &remotePath) {
    try {
        std::string command = std::string(verbs_.changeFolder) + " " + remotePath;
        uint32_t rc = Session().Command(command);
        LogResponse(command.c_str());
        if (rc != 0) {
            ReportFailure("FtpChangeDirectory", rc);
            RaiseFailed(rc, command);
        }
        return 1;
    } catch (const BoxError &) {
        RaiseToLevel2();
        throw;
    } catch (...) {
        RaiseToLevel2();
        Raise(CodeInFlight());
    }
}

int BoxFtpClient::FtpListDirectory(const std::string &remotePath, FindList *folders, FindList *files) {
    if (folders) folders->clear();
    if (files) files->clear();
    try {
        std::string command = std::string(verbs_.list) + " " + remotePath;
        std::string text;
        uint32_t rc = Session().List(command, &text, kMaxListingBytes);
        LogResponse(command.c_str());
        if (rc == vt::code(vt::Code::SERVER_REFUSED)) {
            // The server refused the command.
            ReportFailure("FtpListDirectory", rc);
            RaiseFailed(rc, command);
        }
        if (rc != 0) {
            // The listing data did not arrive whole.
            ReportFailure("InternetReadFile ", rc);
            LogResponse("");
            RaiseFailed(rc, command);
        }
        LogResponse(text.c_str());
        ListingOutcome outcome = ParseListing(text, folders, files);
        if (outcome.code != 0) {
            vt::DebugPrint("\n==> FtpListDirectory refused the entry \"%s\" listed in %s \n",
                           Printable(outcome.refusedName).c_str(), remotePath.c_str());
            SetLastError(outcome.code);
            Raise(outcome.code, "the listing of " + remotePath + " names the unusable entry \"" +
                                    Printable(outcome.refusedName) + "\"");
        }
        return 1;
    } catch (const BoxError &e) {
        if (folders) folders->clear();
        if (files) files->clear();
        RaiseToLevel2();
        ReportFailure("FtpListDirectory", e.code());
        throw;
    } catch (...) {
        if (folders) folders->clear();
        if (files) files->clear();
        RaiseToLevel2();
        ReportFailure("FtpListDirectory", CodeInFlight());
        Raise(CodeInFlight());
    }
}

int BoxFtpClient::DeleteDocumentEntry(uint32_t document) {
    RemoveEntry(RecordFileName(DocumentEntryName(document)), false);
    return RemoveEntry(DocumentEntryName(document), true);
}

int BoxFtpClient::RemoveEntry(const std::string &remotePath, bool folder) {
    const char *word = folder ? verbs_.removeFolder : verbs_.deleteFile;
    std::string command = std::string(word) + " " + remotePath;
    uint32_t rc = 0;
    try {
        rc = Session().Command(command);
    } catch (...) {
        return 0;
    }
    RaiseIfCancelled(rc, command);
    return rc == 0 ? 1 : 0;
}

int BoxFtpClient::GetBoxInnerFolderName(uint32_t box, std::string *name) {
    FindList folders;
    FtpListDirectory(DeviceBoxFolder(box), &folders, nullptr);
    if (folders.empty()) return 0;
    if (name) *name = folders.front().cFileName;
    return 1;
}

int BoxFtpClient::GetFile(const std::string &remotePath, const std::string &localPath) {
    FtpSession &session = Session();
    uint32_t rc = 0;
    uint64_t bytes = 0;
    bool localFailure = false;  // this side could not write the file
    auto fetchInto = [&](auto &part) {
        rc = session.Download(remotePath, FtpType::Ascii, part, &bytes);
        if (rc != 0) {
            localFailure = session.LocalErrno() != 0;
        } else if (!part.Commit()) {
            rc = ErrnoCode(errno);
            localFailure = true;
        }
    };
    if (held_) {
        HeldDownload part(*held_, localPath);
        fetchInto(part);
    } else if (DownloadFile part(localPath); !part.Opened()) {
        rc = ErrnoCode(part.OpenErrno());
        localFailure = true;
    } else {
        fetchInto(part);
    }
    LogResponse(localPath.c_str());
    if (rc != 0) {
        ReportFailure("FtpGetFile", rc);
        SetLastError(rc);
        if (localFailure) Raise(rc, "cannot write " + localPath + " (RETR " + remotePath + ")");
        RaiseFailed(rc, "RETR " + remotePath);
    }
    ++downloadCount_;
    lastGetBytes_ = bytes;
    return 1;
}

uint32_t BoxFtpClient::Upload(const std::string &remotePath, const std::string &localPath, FtpType type) {
    UploadFile source(localPath);
    if (!source.Opened()) return ErrnoCode(source.OpenErrno());
    return Session().Upload(remotePath, type, source, source.Size());
}

int BoxFtpClient::PutFile(const std::string &remotePath, const std::string &localPath) {
    FtpSession &session = Session();
    UploadFile source(localPath);
    if (!source.Opened()) Raise(ErrnoCode(source.OpenErrno()), "cannot read " + localPath);

    const std::string command = "STOR " + remotePath;
    uint32_t rc = session.Upload(remotePath, FtpType::Ascii, source, source.Size());
    if (rc != 0) {
        // Only a refusal from the server carries a reply worth reading.
        std::string response = LastResponseText();
        if (response.find("451 Requested action aborted") != std::string::npos)
            RaiseFailed(vt::code(vt::Code::DEVICE_LIMIT), command);
        if (response.find("552 Requested file action aborted") == std::string::npos) RaiseFailed(rc, command);

        OutputDebugStringA("\n***********************************\n\n ");
        OutputDebugStringA("\n ERROR ---> 552 Requested file action aborted \n");
        OutputDebugStringA("\n RETRYING TO PUT FILE AGAIN \n");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        OutputDebugStringA("\n Just for Safety Deleting the File.. \n ");
        RemoveEntry(remotePath, false);
        rc = source.Rewind() ? session.Upload(remotePath, FtpType::Ascii, source, source.Size()) : ErrnoCode(errno);
        if (rc != 0) {
            OutputDebugStringA("\n Retying After 552 Error also Failed ...!! \n ");
            OutputDebugStringA("\n\n***********************************\n");
            SetLastError(rc);
            RaiseFailed(rc, command + " (sent again after 552)");
        }
        OutputDebugStringA("\n After 552 Error, PUT Operation recovered ...!! \n ");
        OutputDebugStringA("\n\n***********************************\n");
    }
    LogResponse(remotePath.c_str());
    ++uploadCount_;
    return 1;
}

int BoxFtpClient::PutFileStreamed(const std::string &remotePath, const std::string &localPath) {
    uint32_t rc = Upload(remotePath, localPath, FtpType::Binary);
    LogResponse(localPath.c_str());
    if (rc != 0) {
        SetLastError(rc);
        RaiseFailed(rc, "STOR " + remotePath);
    }
    return 1;
}

int BoxFtpClient::DownloadFolderByFTP(const std::string &localFolder, const std::string &remoteFolder) {
    return DownloadFolder(localFolder, remoteFolder, nullptr);
}

int BoxFtpClient::ListFolderForDownload(const std::string &localFolder, const std::string &remoteFolder,
                                        std::vector<std::string> *files) {
    return DownloadFolder(localFolder, remoteFolder, files);
}

int BoxFtpClient::DownloadFolder(const std::string &localFolder, const std::string &remoteFolder,
                                 std::vector<std::string> *later) {
    try {
        if (logLevel_ != 0) {
            OutputDebugStringA(kHyphenLine);
            vt::DebugPrint("\t Downloading...%s --> %s", remoteFolder.c_str(), localFolder.c_str());
            OutputDebugStringA(kHyphenLine);
        }
        if (::mkdir(localFolder.c_str(), 0777) != 0 && errno != EEXIST)
            Raise(ErrnoCode(errno), "cannot make the folder " + localFolder);
        if (::chdir(localFolder.c_str()) != 0) ReportFailure("SetCurrentDirectory", ErrnoCode(errno));

        FindList folders, files;
        if (!FtpListDirectory(remoteFolder, &folders, &files)) RaiseLastError();
        CheckCancel();
        for (const auto &folder : folders)
            AddPendingFolder(Join(localFolder, folder.cFileName), Join(remoteFolder, folder.cFileName));
        for (const auto &file : files) {
            if (std::strcmp(file.cFileName, kUnlockStatusFile) == 0) continue;
            if (later) {
                later->push_back(file.cFileName);
                continue;
            }
            GetFolderFile(localFolder, remoteFolder, file.cFileName);
        }
        return 0;
    } catch (const BoxError &e) {
        RaiseToLevel2();
        LogResponse("Ftp Response After Error in DownloadFolder");
        ReportFailure("DownloadFolderByFTP", e.code());
        throw;
    } catch (...) {
        RaiseToLevel2();
        LogResponse("Ftp Response After Error in DownloadFolder");
        ReportFailure("DownloadFolderByFTP", CodeInFlight());
        Raise(CodeInFlight());
    }
}

void BoxFtpClient::GetFolderFile(const std::string &localFolder, const std::string &remoteFolder,
                                 const std::string &name) {
    GetFile(Join(remoteFolder, name), Join(localFolder, name));
    // The listing gives no sizes: count what arrived.
    downloadBytes_ += static_cast<uint32_t>(lastGetBytes_);
    CheckCancel();
}

int BoxFtpClient::UploadFolderByFTP(const std::string &localFolder, const std::string &remoteFolder) {
    try {
        if (logLevel_ != 0) {
            OutputDebugStringA(kHyphenLine);
            vt::DebugPrint("\t Uploading... %s --> %s", localFolder.c_str(), remoteFolder.c_str());
            OutputDebugStringA(kHyphenLine);
        }
        FindList files;
        // Only the folder's own files go; a folder that cannot be listed sends nothing.
        if (ListLocalFolder(localFolder, "*", nullptr, &files) != 0) return 0;
        for (const auto &file : files) {
            PutFile(Join(remoteFolder, file.cFileName), Join(localFolder, file.cFileName));
            uploadBytes_ += file.nFileSizeLow;
            CheckCancel();
        }
        return 0;
    } catch (const BoxError &e) {
        RaiseToLevel2();
        LogResponse("Ftp Response After Error in UploadFolderByFTP");
        ReportFailure("UploadFolderByFTP", e.code());
        throw;
    } catch (...) {
        RaiseToLevel2();
        LogResponse("Ftp Response After Error in UploadFolderByFTP");
        ReportFailure("UploadFolderByFTP", CodeInFlight());
        Raise(CodeInFlight());
    }
}

int BoxFtpClient::CreateEmptyFile(const std::string &remotePath) {
    EmptySource nothing;
    uint32_t rc = Session().Upload(remotePath, FtpType::Binary, nothing, 0);
    LogResponse(remotePath.c_str());
    RaiseIfCancelled(rc, "STOR " + remotePath);
    // A refusal is the server's answer on a working connection (553 where a
    // folder it would go in was not made): it keeps its own code and reply.
    if (rc == vt::code(vt::Code::SERVER_REFUSED)) RaiseFailed(rc, "STOR " + remotePath);
    if (rc != 0) RaiseFailed(vt::code(vt::Code::CONNECTION_FAILED), "STOR " + remotePath);
    return 0;
}

int BoxFtpClient::FtpReplaceStatusFile(const std::string &remoteFolder) {
    try {
        CreateEmptyFile(Join(remoteFolder, kUnlockStatusFile));
        std::string command = std::string(verbs_.deleteFile) + " " + Join(remoteFolder, kCreateStatusFile);
        uint32_t rc = Session().Command(command);
        LogResponse(command.c_str());
        RaiseIfCancelled(rc, command);
        if (rc != 0) ReportFailure("FtpDeleteFile", vt::code(vt::Code::INTERNAL_ERROR));
        return 0;
    } catch (...) {
        if (CancelledNow()) throw;
        uint32_t last = GetLastError();
        RaiseToLevel2();
        ReportFailure("FtpReplaceStatusFile", vt::code(vt::Code::INTERNAL_ERROR));
        RetagFailure(last != 0 ? last : vt::code(vt::Code::INTERNAL_ERROR));
        Raise(last != 0 ? last : vt::code(vt::Code::INTERNAL_ERROR));
    }
}

void BoxFtpClient::PeekPendingFolder(std::string *localPath, std::string *remotePath) const {
    if (pending_.empty()) Raise(vt::Code::INTERNAL_ERROR);
    if (localPath) *localPath = pending_.begin()->first;
    if (remotePath) *remotePath = pending_.begin()->second;
}

void BoxFtpClient::AddPendingFolder(const std::string &localPath, const std::string &remotePath) {
    pending_.insert_or_assign(localPath, remotePath);
}

void BoxFtpClient::RemoveFirstPendingFolder() {
    if (!pending_.empty()) pending_.erase(pending_.begin());
}

void BoxFtpClient::ClearPendingFolders() { pending_.clear(); }

bool BoxFtpClient::IsPendingEmpty() const { return pending_.empty(); }

void BoxFtpClient::CheckCancel() {
    if (cancelEvent_ && WaitForSingleObject(cancelEvent_, 0) == WAIT_OBJECT_0) {
        OutputDebugStringA("\n\n <<<<****  Ftp Operation Aborted ****>>>>\n\n\n");
        Raise(vt::Code::CANCELLED);
    }
}

void BoxFtpClient::LogResponse(const char *label) {
    if (logLevel_ != 2) return;
    if (label) {
        OutputDebugStringA(kHyphenLine);
        OutputDebugStringA(label);
    }
    OutputDebugStringA(kHyphenLine);
    OutputDebugStringA(LastResponseText().c_str());
}

void BoxFtpClient::DownloadTree(const std::string &localRoot, const std::string &remoteRoot,
                                const std::function<void()> &afterFolder) {
    ClearPendingFolders();
    AddPendingFolder(localRoot, remoteRoot);
    while (!IsPendingEmpty()) {
        CheckCancel();
        std::string local, remote;
        PeekPendingFolder(&local, &remote);
        RemoveFirstPendingFolder();
        DownloadFolderByFTP(local, remote);
        if (afterFolder) afterFolder();
    }
}

}  // namespace vtbox
