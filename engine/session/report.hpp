// Diagnostics lines shared by every export: the failure report and the
// module-version lines.
#pragma once

#include <cstdint>

namespace vtbox {

// Writes "\n==> <operation> Failed With ERROR - <code> : <text> \n " (or the
// "some ERROR" form when the code has no text), cut to 511 characters.
void ReportFailure(const char *operation, uint32_t code);

// Writes " <name> ==> a.b.c.d " for a module found by its bare file name that
// carries a version record; writes nothing when there is none.
void LogModuleVersion(const char *moduleName);

// The modules whose versions vtBoxOpenConnection logs, in order.
inline constexpr const char *kLoggedModules[] = {"KoVaBKRT.exe", "vtBoxBRD.dll", "Ko1MISvr.exe"};

}  // namespace vtbox
