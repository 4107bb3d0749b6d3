// What the fleet remembers of each device between runs: its last attempt
// and its last success, in one state file per inventory under the state
// folder, written whole and atomically after every device's job. A state
// file that is damaged or foreign is never trusted: it is reported and
// rebuilt from the devices' backup folders.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "fleet_inventory.hpp"

namespace vtcli::fleet {

struct Attempt {
    std::time_t time = 0;  // when it ended (0: never)
    std::string outcome;   // done, failed, cancelled, partial, not-released, verified, damaged
    int exitCode = 0;
    std::string reason;  // in vtbox's words; "" after a success
    double seconds = 0;
};

struct Success {
    std::time_t time = 0;    // when the backup was complete (0: never)
    std::string file;        // absolute
    uint64_t size = 0;       // bytes
    int64_t documents = -1;  // -1 when not known (a state rebuilt from the folder)
    double seconds = 0;
};

struct DeviceState {
    Attempt last;     // the last backup
    Success success;  // the last good backup
    Attempt verify;   // the last "fleet verify" of its newest file (outcome verified or failed)
};

// The last fleet backup run that ended, for the metrics that a verify run
// writes (which must not pass for a backup run's).
struct RunRecord {
    std::time_t started = 0, ended = 0;  // 0: none ended yet
    uint32_t devices = 0, failed = 0;
    double seconds = 0;
};

struct FleetState {
    std::map<std::string, DeviceState> devices;  // by device name
    RunRecord run;
};

// The inventory's state file: STATE/fleet/<stem>-<8 hex of its path>.state.
std::string StatePath(const Inventory &inventory);

// The inventory's lock file beside it (STEM-XXXXXXXX.lock): one run at a time.
std::string LockPath(const Inventory &inventory);

// Reads the state file. A missing file is an empty state. A file that is
// damaged, too large or written for another inventory is not read: *problem
// says why, and the state is rebuilt from the backup folders (the newest
// backup of each device's folder taken as its last success).
FleetState LoadState(const Inventory &inventory, std::string *problem);

// Rebuilds one device's success from its folder: the newest backup file.
Success SuccessFromFolder(const DeviceConfig &device);

// Writes the whole state (a temporary file, fsync, rename). False with the
// reason.
bool SaveState(const Inventory &inventory, const FleetState &state, std::string *error);

// Whether a device counts as stale at `now`: no success, or the last one
// older than its stale-after.
bool IsStale(const DeviceConfig &device, const DeviceState &state, std::time_t now);

}  // namespace vtcli::fleet
