// The value maps of document entries.
#pragma once

#include <cstdint>
#include <limits>

namespace vtbox {

inline uint32_t MapSourceType(uint32_t v) {
    switch (v) {
    case 1: return 0;
    case 2: return 2;
    case 3: return 10;
    case 4: return 3;
    case 8: return 1;
    default: return 10;
    }
}

inline uint32_t MapColorMode(uint32_t v) {
    switch (v) {
    case 1: return 2;
    case 2: return 1;
    case 3: return 10;
    case 4: return 0;
    case 8: return 1;
    default: return 10;
    }
}

inline uint32_t MapDuplex(uint32_t v) {
    switch (v) {
    case 2: return 1;
    case 3: return 2;
    default: return 0;
    }
}

// Rotations of a quarter turn (1 and 3) swap the two resolutions.
inline bool RotationSwapsResolutions(uint32_t rotation) { return rotation == 1 || rotation == 3; }

// DocSize comes in kilobytes; sizes that do not fit stay at the largest value
// rather than wrap round to a small one.
inline uint32_t KilobytesToBytes(uint32_t kb) {
    uint64_t bytes = static_cast<uint64_t>(kb) * 1024;
    return bytes > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                        : static_cast<uint32_t>(bytes);
}

}  // namespace vtbox
