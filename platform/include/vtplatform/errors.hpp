// Result codes: the Win32 numbers the system uses, the one errno map, and
// our message texts.
#pragma once

#include <cstdint>
#include <string>

#include "vtplatform.h"

namespace vt {

// Every result code the system produces or passes on. Each has a text in
// MessageText(); the switch there has no default so that a code added here
// without a text is a compiler warning.
enum class Code : uint32_t {
    Success = 0,
    InvalidFunction = 1,
    FileNotFound = 2,
    PathNotFound = 3,
    TooManyOpenFiles = 4,
    AccessDenied = 5,
    InvalidHandle = 6,
    NotEnoughMemory = 8,
    BadFormat = 11,
    InvalidAccess = 12,
    InvalidData = 13,
    OutOfMemory = 14,
    NotSameDevice = 17,
    NoMoreFiles = 18,
    WriteProtect = 19,
    SharingViolation = 32,
    LockViolation = 33,
    HandleEof = 38,
    HandleDiskFull = 39,
    NotSupported = 50,
    RemNotList = 51,
    BadNetResp = 58,
    UnexpNetErr = 59,
    NetNameDeleted = 64,
    NetworkAccessDenied = 65,
    BadNetName = 67,
    FileExists = 80,
    CannotMake = 82,
    InvalidParameter = 87,
    TooManySemaphores = 100,
    BrokenPipe = 109,
    OpenFailed = 110,
    BufferOverflow = 111,
    DiskFull = 112,
    InsufficientBuffer = 122,
    InvalidName = 123,
    DirNotEmpty = 145,
    BadPathname = 161,
    Busy = 170,
    AlreadyExists = 183,
    FilenameExcedRange = 206,
    MoreData = 234,
    NoMoreItems = 259,
    Directory = 267,
    OperationAborted = 995,
    IoPending = 997,
    InvalidFlags = 1004,
    NoUnicodeTranslation = 1113,
    InvalidPasswordname = 1216,
    NotFound = 1168,
    NoSuchPrivilege = 1313,
    DiskSpaceQuota = 1344,
    InternalError = 1359,
    SpecialAccount = 1371,
    FileCorrupt = 1392,
    Timeout = 1460,
    UnknownProduct = 1605,
    NotConnected = 2250,
    DeviceNotAvailable = 4319,
    RemoteStorageNotActive = 4351,
    AdminLimitExceeded = 8260,
    InternetOutOfHandles = 12001,
    InternetTimeout = 12002,
    InternetExtendedError = 12003,
    InternetInternalError = 12004,
    InternetInvalidUrl = 12005,
    InternetNameNotResolved = 12007,
    InternetIncorrectUserName = 12013,
    InternetIncorrectPassword = 12014,
    InternetLoginFailure = 12015,
    InternetIncorrectHandleState = 12019,
    InternetCannotConnect = 12029,
    InternetConnectionAborted = 12030,
    InternetConnectionReset = 12031,
    FtpTransferInProgress = 12110,
    FtpDropped = 12111,
    HttpInvalidServerResponse = 12152,
};

constexpr uint32_t code(Code c) { return static_cast<uint32_t>(c); }

// Our text for a code, or an empty string when the code has none.
std::string MessageText(uint32_t code);

// The Win32 code that stands for a POSIX errno value. Unknown values map to
// 1359 (internal error) so that a failure never reads as success.
uint32_t Win32FromErrno(int err);

// SetLastError(Win32FromErrno(err)) and return that code.
uint32_t SetLastErrorFromErrno(int err);

}  // namespace vt
