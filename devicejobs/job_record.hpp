// The record of a job that holds a device: which web session locked it, in
// which mode, from which process. A job that is killed (SIGKILL, power loss)
// leaves it behind, and vtbox unlock uses it to release what the job held.
// One file per device under $XDG_STATE_HOME/vtbox/jobs (else
// ~/.local/state/vtbox/jobs), mode 600.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vtjobs {

struct JobRecord {
    uint32_t sessionId = 0;
    uint32_t mode = 0;  // 0 backup, 1 restore
    int pid = 0;
};

bool WriteJobRecord(const std::string &host, uint32_t port, const JobRecord &record);
void RemoveJobRecord(const std::string &host, uint32_t port);
std::optional<JobRecord> ReadJobRecord(const std::string &host, uint32_t port);

// True while a vtbox process of that number runs.
bool VtboxProcessRuns(int pid);

}  // namespace vtjobs
