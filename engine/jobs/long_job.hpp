// The frame that every long operation (backup, restore, and the coming
// conversions) runs in: the caller's progress record with its two events, the
// keep-alive of the device's web session for an operation on a device, and
// the steps at its start, its end and on failure.
#pragma once

#include "jobs/keep_alive.hpp"
#include "jobs/progress.hpp"
#include "session/waits.hpp"
#include "vtBoxBRD.h"

namespace vtbox {

class LongJob {
public:
    // name is the export's, for its diagnostics lines. Zeroes the record.
    LongJob(const char *name, VTPROGRESSINFO *record, HANDLE progressEvent, HANDLE cancelEvent);

    // Writes the start line; with a session, keeps its web session alive
    // until Finish or StopKeepAlive. Raises 1359 when that cannot start.
    void Start(const VTMFPSESSION *session);

    // The end of a run that worked: 100 %, the finished phase, the event
    // signalled, the keep-alive stopped, the completion line.
    void Finish();

    // The first step of the failure path: the failed phase, signalled.
    void MarkFailed();
    // Stops the keep-alive (waiting for its thread); never throws.
    void StopKeepAlive() noexcept { keepAlive_.Stop(); }

    Progress &progress() { return progress_; }

private:
    // Requests and transfers of the job's thread end when the job is cancelled.
    CancelScope cancelScope_;
    const char *name_;
    Progress progress_;
    KeepAlive keepAlive_;
};

}  // namespace vtbox
