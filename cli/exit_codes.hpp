// vtbox's exit codes, one per class of failure, stable for scripts.
#pragma once

#include <cstdint>

namespace vtcli {

enum ExitCode : int {
    kExitDone = 0,
    kExitFailure = 1,      // any failure not classed below
    kExitUsage = 2,        // bad command line or configuration
    kExitNotReleased = 3,  // backup written, but the device was not released
    kExitWrongPassword = 4,
    kExitDeviceBusy = 5,        // the device is busy or locked by another job
    kExitUnreachable = 6,       // no answer, connection refused, name not found
    kExitNotFound = 7,          // a box, file or path in a backup file that does not exist
    kExitDamagedFile = 8,       // a damaged or foreign backup file
    kExitLocalDisk = 9,         // the local disk is full or not writable
    kExitPartial = 10,          // a restore that wrote part of its boxes before it failed, or that keeps a
                                // rescue copy of a document it could not put back
    kExitNothingToBackUp = 11,  // the device has no box to back up: no file was written
    kExitFleetFailed = 12,      // vtbox fleet backup or verify: one or more devices failed (the report says which)
    kExitFleetStale = 13,       // vtbox fleet status: one or more devices have no good backup within stale-after
    kExitInterrupted = 130,     // Ctrl-C (SIGINT)
    kExitTerminated = 143,      // SIGTERM
};

// What the failing step worked on, where one engine code means different
// things (2 is a missing backup file when reading one, a missing page on the
// device otherwise).
enum class FailureSite { Device, BackupFile, LocalDisk };

// The exit code for an engine result code.
int ExitCodeFor(uint32_t engineCode, FailureSite site);

// The table for --help and the README, one code a line.
const char *ExitCodeTable();

}  // namespace vtcli
