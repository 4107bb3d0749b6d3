// Which box engine versions the engine works with.
#pragma once

#include <cstdint>
#include <string>

namespace vtbox {

enum class VersionVerdict { Supported, Old, New, Unnumbered };

// Old: the text holds one of the old versions anywhere. New: the number right
// after the last "V" is 2 or more. Unnumbered: the text has no "V" at all.
VersionVerdict CheckEngineVersion(const std::string &versionText);

// Writes the refusal line for a verdict other than Supported and returns its
// code: 50 for an old version, 1605 for a newer or an unnumbered one.
uint32_t RefuseEngineVersion(VersionVerdict verdict, const std::string &versionText);

}  // namespace vtbox
