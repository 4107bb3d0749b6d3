// The record of a job that holds a device: which web session locked it, in
// which mode, from which process, and the FTP account the session made (by
// which a later release tells that the session is still the job's: a session
// number is the device's, and a restarted device or another computer's job
// may hold it now). vtbox and the utility write it when a job
// locks the device and remove it once the device is released. A job that is
// killed (SIGKILL, power loss), or that could not release the device, leaves
// it behind; vtbox unlock and the utility's login use it to release what the
// job held. One file per device under $XDG_STATE_HOME/vtbox/jobs (else
// ~/.local/state/vtbox/jobs; under a service, $STATE_DIRECTORY/jobs), mode 600.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vtjobs {

struct JobRecord {
    uint32_t sessionId = 0;
    uint32_t mode = 0;  // 0 backup, 1 restore or Initialise Storage
    // The process that runs the job; 0 once the job has ended without
    // releasing the device while its program runs on (the utility).
    int pid = 0;
    // The login name of the job's temporary FTP account; empty until it is
    // made, and when the device gave a name a record does not keep
    // (RecordableLogin).
    std::string login;
};

// A login name a record keeps: 1 to kMaxRecordLoginBytes letters, digits and
// "._-@" (a name from the device is untrusted).
inline constexpr size_t kMaxRecordLoginBytes = 64;
bool RecordableLogin(const std::string &login);

// Writes the record anew (never through a link, never into a file that was
// there); a login that is not RecordableLogin is left out.
bool WriteJobRecord(const std::string &host, uint32_t port, const JobRecord &record);
void RemoveJobRecord(const std::string &host, uint32_t port);
std::optional<JobRecord> ReadJobRecord(const std::string &host, uint32_t port);

// The programs that run jobs.
enum class JobProgram { Vtbox, Utility };

// Which of them runs as process pid; none when no process has that number
// (or it is 0) or another program has taken the number over.
std::optional<JobProgram> RunningJobProgram(int pid);

}  // namespace vtjobs
