// Module version records. Each deliverable carries a record (embedded at
// build time by cmake/VersionRecord.cmake); these calls find a module by its
// bare file name and read the record back, in the shape of a version
// resource: a block with a fixed file-information part and a translation table.
#pragma once

#include <cstdint>
#include <string>

#include "vtplatform.h"

namespace vt {

struct FixedFileInfo {
    DWORD dwSignature;  // 0xFEEF04BD
    DWORD dwStrucVersion;
    DWORD dwFileVersionMS;
    DWORD dwFileVersionLS;
    DWORD dwProductVersionMS;
    DWORD dwProductVersionLS;
    DWORD dwFileFlagsMask;
    DWORD dwFileFlags;
    DWORD dwFileOS;
    DWORD dwFileType;
    DWORD dwFileSubtype;
    DWORD dwFileDateMS;
    DWORD dwFileDateLS;
};

// The file that a bare module name stands for, or "" when none is found.
// Search order: each folder of $VTBOX_MODULE_PATH (colon-separated), the
// running program's folder, the folder of this library, the current folder,
// then each folder of $PATH. A Windows-style name is tried as given and in
// its Linux form ("x.exe" -> "x", "x.dll" -> "libx.so"; the utility's
// historical name maps to its program file).
std::string FindModuleFile(const char *bare_name);

// Size of the module's version block, 0 when the module or its record is
// missing (last error 2 or 1813).
DWORD GetFileVersionInfoSize(const char *bare_name, DWORD *handle);
// Fills data (len bytes) with the version block.
BOOL GetFileVersionInfo(const char *bare_name, DWORD handle, DWORD len, void *data);
// Looks up "\\" (the FixedFileInfo) or "\\VarFileInfo\\Translation" (pairs of
// 16-bit language and code page) in a block.
BOOL VerQueryValue(const void *block, const char *sub_block, void **buffer, uint32_t *len);

}  // namespace vt
