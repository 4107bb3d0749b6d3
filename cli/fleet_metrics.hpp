// The fleet's state in the Prometheus text format, for the node exporter's
// textfile collector: per device (labels device, group, host) its last
// success, last attempt, exit code, duration, size and documents; for the
// run, its devices, failures and duration. Written atomically (a temporary
// file beside it, then a rename), so that the collector never reads half.
#pragma once

#include <ctime>
#include <string>

#include "fleet_inventory.hpp"
#include "fleet_state.hpp"

namespace vtcli::fleet {

struct RunFigures {
    std::time_t started = 0;
    uint32_t devices = 0;  // devices of this run (after --group / --device)
    uint32_t done = 0;     // ended so far
    uint32_t failed = 0;
    double seconds = 0;  // so far
    bool finished = false;
};

std::string MetricsText(const Inventory &inventory, const FleetState &state, const RunFigures &run);

bool WriteMetrics(const std::string &path, const std::string &text, std::string *error);

}  // namespace vtcli::fleet
