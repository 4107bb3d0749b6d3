// The record of a job that holds a device: which web session locked it, in
// which mode, from which process. vtbox and the utility write it when a job
// locks the device and remove it once the device is released. A job that is
// killed (SIGKILL, power loss), or that could not release the device, leaves
// it behind; vtbox unlock and the utility's login use it to release what the
// job held. One file per device under $XDG_STATE_HOME/vtbox/jobs (else
// ~/.local/state/vtbox/jobs), mode 600.
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
};

bool WriteJobRecord(const std::string &host, uint32_t port, const JobRecord &record);
void RemoveJobRecord(const std::string &host, uint32_t port);
std::optional<JobRecord> ReadJobRecord(const std::string &host, uint32_t port);

// The programs that run jobs.
enum class JobProgram { Vtbox, Utility };

// Which of them runs as process pid; none when no process has that number
// (or it is 0) or another program has taken the number over.
std::optional<JobProgram> RunningJobProgram(int pid);

}  // namespace vtjobs
