// vtbox restore --dry-run: what a restore would do, box by box, shown
// without locking the device or writing to it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device_job.hpp"

namespace vtcli {

// What the restore would refuse before it touches the device.
struct Refusals {
    std::string engineVersion;  // the file's, when the device runs another
    std::string deviceEngineVersion;
    std::vector<uint32_t> unknownBoxes;  // chosen boxes the file does not hold
};

// Shows the plan (text, or one JSON object with --json) of the restore of
// boxes, or of items when there are any (restore --only); returns the exit
// code the restore would end with as far as the plan can tell.
int RunDryRun(const Context &context, DeviceSession &session, const std::string &password,
              const std::string &workFolder, const std::vector<uint32_t> &boxes, const std::vector<VTBACKUPITEM> &items,
              const Refusals &refusals);

}  // namespace vtcli
