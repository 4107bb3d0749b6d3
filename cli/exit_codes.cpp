#include "exit_codes.hpp"

namespace vtcli {

int ExitCodeFor(uint32_t code, FailureSite site) {
    switch (code) {
    case 0: return kExitDone;
    case 995: return kExitInterrupted;
    case 1216: return kExitWrongPassword;
    // Another job holds the device (Result 105, 211, 212, HTTP 503), it is
    // busy (Result 201, 203, ...), its sessions are used up, or another
    // session's FTP account exists.
    case 100: case 170: case 4351: case 1371: return kExitDeviceBusy;
    // No answer, refused, name not found, timed out, connection lost.
    case 4319: case 2250: case 12002: case 12004: case 12007: case 12029: case 12030: case 12031:
        return kExitUnreachable;
    case 161: return kExitNotFound;
    case 2: case 3: return site == FailureSite::Device ? kExitFailure : kExitNotFound;
    // Damaged or no backup: no reply of a device maps to 1392, so it is the
    // file's also in a restore (a box refused as damaged).
    case 1392: return kExitDamagedFile;
    // Of an engine version that cannot be read.
    case 50: case 1605: return site == FailureSite::Device ? kExitFailure : kExitDamagedFile;
    case 11: case 13: return site == FailureSite::BackupFile ? kExitDamagedFile : kExitFailure;
    // Full, read-only or refused local disk.
    case 39: case 112: case 19: return kExitLocalDisk;
    // Access denied: no reply of a device maps to it either; a file or
    // folder here that this user may not read or write.
    case 5: return kExitLocalDisk;
    default: return kExitFailure;
    }
}

const char *ExitCodeTable() {
    return "  0    done\n"
           "  1    other failure\n"
           "  2    usage: bad command line or configuration\n"
           "  3    backup written, but the device was not released\n"
           "  4    wrong password\n"
           "  5    device busy or locked by another job\n"
           "  6    device unreachable: no answer, connection refused, name not found\n"
           "  7    box or file not found\n"
           "  8    damaged or foreign backup file\n"
           "  9    local disk full, a file-size limit reached, or a local file or folder\n"
           "       that may not be read or written\n"
           "  10   partial: a restore wrote some documents, then failed, or keeps the only\n"
           "       copy of a document it took off the device\n"
           "  11   nothing to back up: the device has no boxes (no file written)\n"
           "  130  interrupted (Ctrl-C)\n"
           "  143  terminated (SIGTERM)\n";
}

}  // namespace vtcli
