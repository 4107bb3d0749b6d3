// Which documents a conversion from one engine version to another drops:
// the settings file of the source version ("<source>.ini", every "/" in the
// version turned into "_"), with one section per destination version and
// the keys ColorCheck, WidePaperCheck, CopyCompoundCheck (non-zero: on;
// zero, missing or not a number: off). K-SizeCheck is read as well; no
// filter uses it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vtbox {

struct CheckSettings {
    bool color = false;
    bool widePaper = false;
    bool copyCompound = false;
    bool kSize = false;  // read, never used
};

// The filters' bits, in the per-document Flag and in the summary mask.
inline constexpr uint32_t kColourBit = 1;
inline constexpr uint32_t kWidePaperBit = 2;
inline constexpr uint32_t kCopyMixBit = 4;

// "A/B V1.ini" for the version "A/B V1".
std::string SettingsFileName(const std::string &sourceVersion);

// Where a settings file is looked for, in order: the folder of the running
// program, the current folder, the installed data folder
// (<prefix>/share/vtbox/conversion), then each folder of
// VTBOX_CONVERSION_PATH (separated by ":").
std::vector<std::string> SettingsSearchFolders();

// The first regular file called name in the search folders; "" when none.
std::string FindSettingsFile(const std::string &name);

// The checks for a conversion from source to destination; none when the
// settings file is missing or does not load. A destination without a
// section of its own has every check off.
std::optional<CheckSettings> ReadCheckSettings(const std::string &sourceVersion, const std::string &destinationVersion);

// The summary mask: the bits of the checks that are on.
uint32_t SummaryMask(const CheckSettings &checks);

}  // namespace vtbox
