// Archive entry names and times. Entry names use "\\" between parts, as the
// system's archives always have; readers accept "/" as well.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace vtbox {

// The entry name for a relative local path: "/" becomes "\\".
std::string EntryNameFromRelativePath(std::string_view relative);

// The stored name with every "/" turned into "\\".
std::string NormalizeEntryName(std::string_view stored);

// Splits an entry name into the parts of a relative local path. Refuses
// (false) every name that could reach outside the folder it is unpacked
// into: an absolute name ("\\x", "/x"), a drive prefix ("C:..."), a ".."
// part, an embedded NUL, or a name with no part left. Empty and "." parts
// are dropped.
bool SplitSafeEntryName(std::string_view name, std::vector<std::string> *parts);

// The last part of an entry name and its extension (after the last dot,
// empty when there is none).
std::string_view EntryBaseName(std::string_view name);
std::string_view EntryExtension(std::string_view name);

// True when name is valid UTF-8 with at least one character beyond ASCII:
// such names carry the UTF-8 flag (general purpose bit 11).
bool IsNonAsciiUtf8(std::string_view name);
inline constexpr uint16_t kFlagUtf8Name = 0x0800;

// The DOS attributes an entry carries for a local file or folder: folder or
// archive, and read-only when its owner may not write it.
uint32_t DosAttributesOf(const struct stat &st);

// DOS date and time (date in the high 16 bits) of a Unix time, in local time.
// Times before 1980 or after 2107 are clamped to the DOS range.
uint32_t DosDateTimeFromUnix(time_t when);

// The Unix time of a DOS date and time read as local time. False when the
// fields form no valid time (DOS date 0 among them).
bool UnixFromDosDateTime(uint32_t dos, time_t *when);

}  // namespace vtbox
