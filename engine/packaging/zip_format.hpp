// Fixed values of the zip format that our writers put down themselves.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vtbox::zipformat {

inline constexpr uint32_t kLocalSignature = 0x04034b50;
inline constexpr uint32_t kCentralSignature = 0x02014b50;
inline constexpr size_t kLocalSize = 30;                 // a local header before its name
inline constexpr uint32_t kPlaceholder32 = 0xFFFFFFFFu;  // "look in the zip64 extra field"
inline constexpr uint16_t kZip64ExtraId = 0x0001;

}  // namespace vtbox::zipformat
