// Result codes: the Win32 numbers the system uses, the one errno map, and
// our message texts.
#pragma once

#include <cstdint>
#include <string>

#include "vtplatform.h"
#include "vtresult.h"

namespace vt {

// Every result code the system produces or passes on, by its name in the
// one table (vtresult.h): vt::Code::CANCELLED is VTBOX_E_CANCELLED, 995.
#define VTBOX_RESULT_ENUMERATOR(name, number, text) name = number,
enum class Code : uint32_t { VTBOX_RESULT_TABLE(VTBOX_RESULT_ENUMERATOR) };
#undef VTBOX_RESULT_ENUMERATOR

constexpr uint32_t code(Code c) { return static_cast<uint32_t>(c); }

// Our text for a code, or an empty string when the code has none.
std::string MessageText(uint32_t code);

// The Win32 code that stands for a POSIX errno value. Unknown values map to
// 1359 (internal error) so that a failure never reads as success.
uint32_t Win32FromErrno(int err);

// SetLastError(Win32FromErrno(err)) and return that code.
uint32_t SetLastErrorFromErrno(int err);

}  // namespace vt
