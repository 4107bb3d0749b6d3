#include "exit_codes.hpp"

#include "vtresult.h"

namespace vtcli {

int ExitCodeFor(uint32_t code, FailureSite site) {
    switch (code) {
    case VTBOX_E_SUCCESS: return kExitDone;
    case VTBOX_E_CANCELLED: return kExitInterrupted;
    case VTBOX_E_WRONG_PASSWORD: return kExitWrongPassword;
    // Another job holds the device (Result 105, 211, 212, HTTP 503), it is
    // busy (Result 201, 203, ...), its sessions are used up, or another
    // session's FTP account exists.
    case VTBOX_E_DEVICE_IN_USE:
    case VTBOX_E_STORE_BUSY:
    case VTBOX_E_WEB_SESSION_FAILED:
    case VTBOX_E_FTP_ACCOUNT_FAILED: return kExitDeviceBusy;
    // No answer, refused, name not found, timed out, connection lost.
    case VTBOX_E_DEVICE_NOT_AVAILABLE:
    case VTBOX_E_OFFLINE:
    case VTBOX_E_NET_TIMEOUT:
    case VTBOX_E_CONNECTION_FAILED:
    case VTBOX_E_NAME_NOT_RESOLVED:
    case VTBOX_E_CANNOT_CONNECT:
    case VTBOX_E_CONNECTION_ABORTED:
    case VTBOX_E_CONNECTION_RESET: return kExitUnreachable;
    case VTBOX_E_NOT_ON_DEVICE: return kExitNotFound;
    // A box, folder or document that is not in the backup file (no reply of
    // a device maps to it).
    case VTBOX_E_NOT_FOUND: return kExitNotFound;
    case VTBOX_E_FILE_NOT_FOUND:
    case VTBOX_E_PATH_NOT_FOUND: return site == FailureSite::Device ? kExitFailure : kExitNotFound;
    // Damaged or no backup: no reply of a device maps to VTBOX_E_DAMAGED_FILE, so it is the
    // file's also in a restore (a box refused as damaged).
    case VTBOX_E_DAMAGED_FILE: return kExitDamagedFile;
    // Of an engine version that cannot be read.
    case VTBOX_E_NOT_SUPPORTED:
    case VTBOX_E_ENGINE_TOO_NEW: return site == FailureSite::Device ? kExitFailure : kExitDamagedFile;
    case VTBOX_E_BAD_FORMAT:
    case VTBOX_E_INVALID_DATA: return site == FailureSite::BackupFile ? kExitDamagedFile : kExitFailure;
    // Full, read-only or refused local disk.
    case VTBOX_E_HANDLE_DISK_FULL:
    case VTBOX_E_DISK_FULL:
    case VTBOX_E_WRITE_PROTECTED: return kExitLocalDisk;
    // Access denied: no reply of a device maps to it either; a file or
    // folder here that this user may not read or write.
    case VTBOX_E_ACCESS_DENIED: return kExitLocalDisk;
    default: return kExitFailure;
    }
}

const char *ExitCodeTable() {
    return "  0    done\n"
           "  1    other failure\n"
           "  2    usage: bad command line or configuration, or no password (the password\n"
           "       command failed)\n"
           "  3    backup written, but the device was not released\n"
           "  4    wrong password\n"
           "  5    device busy or locked by another job\n"
           "  6    device unreachable: no answer, connection refused, name not found\n"
           "  7    box, file, or path in a backup file not found\n"
           "  8    damaged or foreign backup file\n"
           "  9    local disk full, a file-size limit reached, or a local file or folder\n"
           "       that may not be read or written\n"
           "  10   partial: a restore wrote some documents, then failed, or keeps the only\n"
           "       copy of a document it took off the device\n"
           "  11   nothing to back up: the device has no boxes (no file written)\n"
           "  12   fleet backup or verify: one or more devices failed (the report says which)\n"
           "  13   fleet status: one or more devices have no good backup within stale-after\n"
           "  130  interrupted (Ctrl-C)\n"
           "  143  terminated (SIGTERM)\n";
}

}  // namespace vtcli
