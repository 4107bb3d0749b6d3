// Putting a finished file in place of the caller's target.
#pragma once

#include <cstdint>
#include <string>

namespace vtbox {

// Moves finished to target, replacing an older target in one step: readers
// see the old file or the new one, never a part. Across file systems the file
// is copied beside the target first. Returns 0 or the system error; on
// failure the older target is untouched and no partial file is left. A
// target that is no regular file (a link, a FIFO, a device) is refused with 5.
uint32_t ReplaceTargetFile(const std::string &finished, const std::string &target);

}  // namespace vtbox
