// Runs one long engine operation (backup or restore) on a worker thread while
// this thread shows its progress, and turns Ctrl-C (or SIGTERM, SIGHUP) into
// the operation's cancel event, so that the operation ends cleanly with VTBOX_E_CANCELLED
// and the caller can still unlock the device.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "vtBoxBRD.h"

namespace vtcli {

using LongOperation = std::function<uint32_t(HANDLE cancel, HANDLE status, VTPROGRESSINFO *progress)>;

// Blocks the termination signals in the calling thread and every thread it
// starts from now on; call first thing in main for commands that hold the
// device, so that no signal ends the process while the device is locked.
void HoldTerminationSignals();

// True once a termination signal has arrived.
bool TerminationRequested();

// The first termination signal that arrived (0 when none has).
int TerminationSignal();

// Events of the held signals (null until HoldTerminationSignals): StopEvent is
// set by the first signal; GiveUpEvent by a second one, or by any signal once
// BeginRelease has been called, to stop waiting for the device at all.
HANDLE StopEvent();
HANDLE GiveUpEvent();
void BeginRelease();

class ProgressBar;

// Returns the operation's result, showing its progress on display; *last
// (when given) receives the final progress record and *detail (when given)
// the detail that the engine left for a failure on the thread that ran it.
uint32_t RunLongOperation(ProgressBar &display, const LongOperation &operation, VTPROGRESSINFO *last = nullptr,
                          std::string *detail = nullptr);

}  // namespace vtcli
