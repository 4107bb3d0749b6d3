// Finding files by pattern, with the Windows meaning of patterns: "*" and
// "*.*" match every name (also names without a dot), "?" matches one
// character, and matching ignores case. Entries come in the find-data layout.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "vtplatform.h"

namespace vt {

constexpr DWORD kAttrReadOnly = 0x01;
constexpr DWORD kAttrDirectory = 0x10;
constexpr DWORD kAttrArchive = 0x20;
constexpr DWORD kAttrReparsePoint = 0x400;  // a symbolic link: never followed

constexpr size_t kMaxPath = 260;

struct FindData {  // WIN32_FIND_DATAA
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    char cFileName[kMaxPath];
    char cAlternateFileName[14];
};

// True when name matches pattern in the Windows sense.
bool MatchesFindPattern(std::string_view pattern, std::string_view name);

// The order FindFirstFile and FindNextFile give names in: case-folded, then
// shorter first, then by bytes.
bool ComesFirstInListing(std::string_view a, std::string_view b);

// Fills a find-data record for a path (lstat: a link is described, not its
// target). The record's name is the last component. False with last error set.
bool DescribeFile(const std::string &path, FindData *out);

// Lists the entries of a folder that match a pattern. The pattern may carry a
// folder part ("dir/x*.vtb"); without one, the current folder is searched.
// "." and ".." are included, as the system's search returns them. Returns a
// handle for FindNextFile/FindClose and the first entry, or nullptr with last
// error 2 (nothing matches) or the folder's error.
HANDLE FindFirstFile(const char *pattern, FindData *first);
bool FindNextFile(HANDLE search, FindData *next);  // false and last error 18 at the end
void FindClose(HANDLE search);

}  // namespace vt
