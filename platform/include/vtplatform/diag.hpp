// The diagnostics channel: printf-style helpers over OutputDebugStringA.
#pragma once

#include <string>

#include "vtplatform.h"

namespace vt {

// Formats like printf and writes the result to the diagnostics channel.
void DebugPrint(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Formats like printf into a string (no length limit).
std::string Format(const char *format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace vt
