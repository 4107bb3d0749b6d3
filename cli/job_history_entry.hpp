// What vtbox adds to the user's job history (job_history.hpp) when a backup
// or restore job has ended: the job as its summary tells it.
#pragma once

#include <cstdint>
#include <ctime>
#include <vector>

#include "config.hpp"
#include "json_output.hpp"

namespace vtcli {

// Adds the job of summary (its command, outcome, file and counts) on the
// device of settings, begun at started. A history that cannot be written
// is told on standard error as a warning; the job's exit code stays.
void RecordInHistory(const Summary &summary, const Settings &settings, const std::vector<uint32_t> &boxes,
                     std::time_t started);

}  // namespace vtcli
