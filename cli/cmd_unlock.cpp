// vtbox unlock: releases what a killed vtbox job left on the device.
#include <cstdio>

#include "commands.hpp"
#include "device_job.hpp"
#include "failure_report.hpp"
#include "job_record.hpp"
#include "vtBoxBRD.h"

namespace vtcli {

int RunUnlock(const Context &c) {
    const Settings &s = c.settings;
    DeviceSession session(s);
    std::string password, error;
    if (!ObtainPassword(c.options, c.file, &password, &error)) return ReportProblem(error, kExitUsage);
    if (int rc = session.OpenWhileHeld(password)) return rc;

    std::optional<vtjobs::JobRecord> record = vtjobs::ReadJobRecord(s.host, s.port);
    if (record && vtjobs::VtboxProcessRuns(record->pid))
        return ReportProblem("the vtbox job " + std::to_string(record->pid) +
                                 " still runs and holds the device; stop it with Ctrl-C or kill " +
                                 std::to_string(record->pid) + " (it releases the device itself)",
                             kExitDeviceBusy);
    if (record) {
        // The dead job's web session still holds the lock and the account:
        // they are released in its name.
        VTMFPSESSION *own = session.get();
        uint32_t ownId = own->SessionId;
        own->SessionId = record->sessionId;
        uint32_t account = vtBoxDeleteFTPAccount(own, password.c_str());
        uint32_t lock = vtBoxUnlockUiJob(own, password.c_str(), record->mode);
        own->SessionId = ownId;
        if (account == VTBOX_E_WRONG_PASSWORD || lock == VTBOX_E_WRONG_PASSWORD)
            return ReportFailure("releasing the device", VTBOX_E_WRONG_PASSWORD, std::string(), FailureSite::Device,
                                 &s);
        vtjobs::RemoveJobRecord(s.host, s.port);
        // No account to delete; that session no longer holds
        // the lock or has ended (the device's time-out came first).
        bool accountGone = account == 0 || account == VTBOX_E_FTP_ACCOUNT_FAILED || account == VTBOX_E_STORE_TIMEOUT;
        bool lockGone = lock == 0 || lock == VTBOX_E_DEVICE_IN_USE || lock == VTBOX_E_STORE_TIMEOUT;
        if (accountGone && lockGone) {
            std::printf("released the device %s: the %s job of process %d (session %u) had %s\n", s.host.c_str(),
                        record->mode == 1 ? "restore" : "backup", record->pid, record->sessionId,
                        account == 0 || lock == 0 ? "left it locked" : "already been released by the device");
        }
    }
    // Whatever the record said, the device must now be free.
    uint32_t deviceTime = 0;
    uint32_t rc = vtBoxLockUiJob(session.get(), password.c_str(), 0, &deviceTime);
    if (rc != 0)
        return ReportFailure(
            record ? "releasing the device" : "checking the device's lock (no vtbox job of this computer holds it)", rc,
            vtBoxGetLastErrorText(), FailureSite::Device, &s);
    vtBoxUnlockUiJob(session.get(), password.c_str(), 0);
    if (!record) std::printf("the device %s is not locked; nothing to release\n", s.host.c_str());
    return kExitDone;
}

}  // namespace vtcli
