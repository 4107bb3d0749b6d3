// vtbox unlock: releases what a job of this computer that no longer runs (a
// killed vtbox, the utility's job that could not release the device) left on
// the device.
#include <cstdio>

#include "commands.hpp"
#include "device_job.hpp"
#include "failure_report.hpp"
#include "job_record.hpp"
#include "left_job.hpp"
#include "vtBoxBRD.h"

namespace vtcli {

int RunUnlock(const Context &c) {
    const Settings &s = c.settings;
    DeviceSession session(s);
    std::string password, error;
    if (!ObtainPassword(c.options, c.file, &password, &error)) return ReportProblem(error, kExitUsage);
    if (int rc = session.OpenWhileHeld(password)) return rc;

    std::optional<vtjobs::JobRecord> record = vtjobs::ReadJobRecord(s.host, s.port);
    if (record && !vtjobs::JobHasEnded(*record)) {
        const std::string pid = std::to_string(record->pid);
        if (vtjobs::RunningJobProgram(record->pid) == vtjobs::JobProgram::Utility)
            return ReportProblem("the VAULTRABackupRestore job of process " + pid +
                                     " still runs and holds the device; stop it in its progress window (it releases "
                                     "the device itself)",
                                 kExitDeviceBusy);
        return ReportProblem("the vtbox job " + pid + " still runs and holds the device; stop it with Ctrl-C or kill " +
                                 pid + " (it releases the device itself)",
                             kExitDeviceBusy);
    }
    const std::string job = record ? std::string(record->mode == 1 ? "restore" : "backup") + " job" +
                                         (record->pid > 0 ? " of process " + std::to_string(record->pid) : "") +
                                         " (session " + std::to_string(record->sessionId) + ")"
                                   : std::string();
    // What the record names is released only when the session is still the
    // job's: releasing a session another job has now makes that job fail.
    std::string untied;
    if (record && !c.options.force) {
        const vtjobs::LeftJobCheck check = vtjobs::CheckLeftJob(session.get(), password.c_str(), *record);
        if (check.tie == vtjobs::LeftJobTie::Unknown)
            return ReportFailure("asking the device about the session of the " + job, check.code,
                                 vtBoxGetLastErrorText(), FailureSite::Device, &s);
        if (check.tie == vtjobs::LeftJobTie::Gone) {
            vtjobs::RemoveJobRecord(s.host, s.port);
            std::printf("the %s has left nothing on the device %s: %s\n", job.c_str(), s.host.c_str(),
                        check.found.c_str());
            record.reset();
        } else if (check.tie == vtjobs::LeftJobTie::Untied) {
            untied = check.found;
        }
    }
    if (record && untied.empty()) {
        const vtjobs::LeftJobRelease release = vtjobs::ReleaseLeftJob(session.get(), password.c_str(), *record);
        if (release.WrongPassword())
            return ReportFailure("releasing the device", VTBOX_E_WRONG_PASSWORD, std::string(), FailureSite::Device,
                                 &s);
        // The record goes once nothing of the job is left; until then it is
        // what lets a later vtbox unlock or login release the device.
        if (release.Done()) {
            vtjobs::RemoveJobRecord(s.host, s.port);
            std::printf("released the device %s: the %s had %s\n", s.host.c_str(), job.c_str(),
                        release.ReleasedSomething() ? "left it locked" : "already been released by the device");
        }
    }
    // Whatever the record said, the device must now be free.
    uint32_t deviceTime = 0;
    uint32_t rc = vtBoxLockUiJob(session.get(), password.c_str(), 0, &deviceTime);
    if (rc == VTBOX_E_DEVICE_IN_USE && !untied.empty())
        return ReportProblem("the device " + s.host + " is locked, but not by anything tied to the " + job +
                                 " that this computer's job record names: " + untied +
                                 ". It was left as it is; vtbox unlock --force releases that session all the same "
                                 "(a job that holds it then fails)",
                             kExitDeviceBusy);
    if (rc != 0)
        return ReportFailure(
            record ? "releasing the device" : "checking the device's lock (no job of this computer holds it)", rc,
            vtBoxGetLastErrorText(), FailureSite::Device, &s);
    vtBoxUnlockUiJob(session.get(), password.c_str(), 0);
    if (record) vtjobs::RemoveJobRecord(s.host, s.port);  // the device is free whatever the release said
    if (!untied.empty())
        std::printf("the device %s is not locked; nothing to release (the job record of the %s was old: %s)\n",
                    s.host.c_str(), job.c_str(), untied.c_str());
    else if (!record)
        std::printf("the device %s is not locked; nothing to release\n", s.host.c_str());
    return kExitDone;
}

}  // namespace vtcli
