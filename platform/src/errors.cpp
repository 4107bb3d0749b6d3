// Last error, the errno map and the message texts.
#include "vtplatform/errors.hpp"

#include <cerrno>
#include <cstring>

#include "vtplatform/text.hpp"

namespace vt {

namespace {
thread_local DWORD t_lastError = 0;

// Our own short texts. The switch has no default: a code added to the enum
// without a text here is flagged by -Wswitch.
const char *TextFor(Code c) {
    switch (c) {
    case Code::Success: return "The operation completed successfully.";
    case Code::InvalidFunction: return "The function is not valid here.";
    case Code::FileNotFound: return "The file was not found.";
    case Code::PathNotFound: return "The path was not found.";
    case Code::TooManyOpenFiles: return "Too many files are open.";
    case Code::AccessDenied: return "Access was denied.";
    case Code::InvalidHandle: return "The handle is not valid.";
    case Code::NotEnoughMemory: return "Not enough memory to complete the operation.";
    case Code::BadFormat: return "A value the operation needs is missing from the reply.";
    case Code::InvalidAccess: return "The device refused the request.";
    case Code::InvalidData: return "The data is not valid.";
    case Code::OutOfMemory: return "Out of memory.";
    case Code::NotSameDevice: return "The file cannot be moved to a different disk.";
    case Code::NoMoreFiles: return "There are no more files.";
    case Code::WriteProtect: return "The medium is write-protected.";
    case Code::SharingViolation: return "The file is in use by another process.";
    case Code::LockViolation: return "Part of the file is locked by another process.";
    case Code::HandleEof: return "The end of the file was reached.";
    case Code::HandleDiskFull: return "The disk is full.";
    case Code::NotSupported: return "The device's software version is not supported.";
    case Code::RemNotList: return "The remote computer is not available.";
    case Code::BadNetResp: return "The device gave an unexpected network response.";
    case Code::UnexpNetErr: return "An unexpected network error occurred.";
    case Code::NetNameDeleted: return "The network name is no longer available.";
    case Code::NetworkAccessDenied: return "Network access was denied.";
    case Code::BadNetName: return "The network name was not found.";
    case Code::FileExists: return "The file already exists.";
    case Code::CannotMake: return "The file or folder could not be created.";
    case Code::InvalidParameter: return "A parameter is not valid, or the session is not open.";
    case Code::TooManySemaphores: return "The device is busy with another backup or restore.";
    case Code::BrokenPipe: return "The connection was closed.";
    case Code::OpenFailed: return "The file or device could not be opened.";
    case Code::BufferOverflow: return "The file name is too long.";
    case Code::DiskFull: return "There is not enough space on the disk.";
    case Code::InsufficientBuffer: return "The buffer is too small.";
    case Code::InvalidName: return "The file name or folder name is not valid.";
    case Code::DirNotEmpty: return "The folder is not empty.";
    case Code::BadPathname: return "The box or folder does not exist on the device.";
    case Code::Busy: return "The device's box store is busy.";
    case Code::AlreadyExists: return "The file already exists.";
    case Code::FilenameExcedRange: return "The file name or path is too long.";
    case Code::MoreData: return "More data is available than the buffer holds.";
    case Code::NoMoreItems: return "There are no more items.";
    case Code::Directory: return "The name is a folder, not a file.";
    case Code::OperationAborted: return "The operation was cancelled.";
    case Code::IoPending: return "The operation is still in progress.";
    case Code::InvalidFlags: return "The flags are not valid.";
    case Code::NoUnicodeTranslation: return "The text cannot be converted.";
    case Code::InvalidPasswordname: return "The password is not correct.";
    case Code::NotFound: return "The element was not found.";
    case Code::NoSuchPrivilege: return "The privilege is not held.";
    case Code::DiskSpaceQuota: return "There is not enough free space on the device.";
    case Code::InternalError: return "An internal error occurred.";
    case Code::SpecialAccount: return "The device's FTP account could not be created or deleted.";
    case Code::FileCorrupt: return "The file is not a valid backup or archive file.";
    case Code::Timeout: return "The device's box store could not be reached in time.";
    case Code::UnknownProduct: return "The device's box engine version is not supported.";
    case Code::NotConnected: return "This computer is not connected to a network.";
    case Code::DeviceNotAvailable: return "The device is not available.";
    case Code::RemoteStorageNotActive: return "The device could not set up a web session.";
    case Code::AdminLimitExceeded: return "The device refused the data: a limit was exceeded.";
    case Code::InternetOutOfHandles: return "No more connection handles could be created.";
    case Code::InternetTimeout: return "The request timed out.";
    case Code::InternetExtendedError: return "The server returned extended error information.";
    case Code::InternetInternalError: return "The connection to the device failed.";
    case Code::InternetInvalidUrl: return "The address is not valid.";
    case Code::InternetNameNotResolved: return "The device's name could not be resolved.";
    case Code::InternetIncorrectUserName: return "The user name was refused.";
    case Code::InternetIncorrectPassword: return "The FTP server refused the user name or password.";
    case Code::InternetLoginFailure: return "The login was refused.";
    case Code::InternetIncorrectHandleState: return "The connection is in the wrong state for this request.";
    case Code::InternetCannotConnect: return "A connection to the device could not be made.";
    case Code::InternetConnectionAborted: return "The connection to the device was aborted.";
    case Code::InternetConnectionReset: return "The connection to the device was reset.";
    case Code::FtpTransferInProgress: return "An FTP transfer is already in progress.";
    case Code::FtpDropped: return "The FTP connection was dropped.";
    case Code::HttpInvalidServerResponse: return "The server's response could not be read.";
    }
    return nullptr;
}

bool IsKnownCode(uint32_t value) {
    // Keep in step with the enum: every enumerator has a text.
    return TextFor(static_cast<Code>(value)) != nullptr;
}
}  // namespace

std::string MessageText(uint32_t value) {
    if (!IsKnownCode(value)) return {};
    return TextFor(static_cast<Code>(value));
}

uint32_t Win32FromErrno(int err) {
    switch (err) {
    case 0: return 0;
    case ENOENT: return code(Code::FileNotFound);
    case ENOTDIR: return code(Code::PathNotFound);
    case EACCES:
    case EPERM:
    case EROFS: return code(Code::AccessDenied);
    case EBADF: return code(Code::InvalidHandle);
    case ENOMEM: return code(Code::NotEnoughMemory);
    case EEXIST: return code(Code::AlreadyExists);
    case ENOSPC:
    case EDQUOT: return code(Code::DiskFull);
    case EMFILE:
    case ENFILE: return code(Code::TooManyOpenFiles);
    case EXDEV: return code(Code::NotSameDevice);
    case EBUSY:
    case ETXTBSY: return code(Code::SharingViolation);
    case ENOTEMPTY: return code(Code::DirNotEmpty);
    case EISDIR: return code(Code::Directory);
    case ENAMETOOLONG: return code(Code::FilenameExcedRange);
    case EINVAL: return code(Code::InvalidParameter);
    case EPIPE: return code(Code::BrokenPipe);
    case ETIMEDOUT: return code(Code::InternetTimeout);
    case ECONNREFUSED: return code(Code::InternetCannotConnect);
    case ECONNRESET: return code(Code::InternetConnectionReset);
    case ECONNABORTED: return code(Code::InternetConnectionAborted);
    case ENETUNREACH:
    case EHOSTUNREACH: return code(Code::InternetCannotConnect);
    case EILSEQ: return code(Code::NoUnicodeTranslation);
    case EIO: return code(Code::InternalError);
    case ECANCELED: return code(Code::OperationAborted);
    case EAGAIN: return code(Code::Busy);
    case EFBIG: return code(Code::DiskFull);
    case ELOOP: return code(Code::InvalidName);
    default: return code(Code::InternalError);
    }
}

uint32_t SetLastErrorFromErrno(int err) {
    uint32_t c = Win32FromErrno(err);
    SetLastError(c);
    return c;
}

}  // namespace vt

extern "C" {

DWORD GetLastError(void) { return vt::t_lastError; }

void SetLastError(DWORD value) { vt::t_lastError = value; }

size_t vtGetMessageText(DWORD value, char *buf, size_t size) {
    std::string text = vt::MessageText(value);
    if (text.empty()) {
        if (buf && size) buf[0] = '\0';
        return 0;
    }
    if (buf && size) vt::CopyUtf8(buf, size, text);
    return text.size();
}

}  // extern "C"
