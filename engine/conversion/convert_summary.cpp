// vtBoxGetConvertSummary: which kinds of documents a conversion between two
// engine versions would drop, from the settings file alone.
#include "conversion/check_settings.hpp"
#include "session/boundary.hpp"
#include "vtplatform/errors.hpp"

using namespace vtbox;

extern "C" uint32_t vtBoxGetConvertSummary(const char *sourceVersion, const char *destinationVersion,
                                           uint32_t *checks) {
    if (checks) *checks = 0;
    const bool valid = sourceVersion && destinationVersion && checks;
    // The report line names the conversion as a whole, as it always has.
    return RunExport("vtBoxConvertVaultraData ", valid, [&] {
        OutputDebugStringA("\n vtBoxGetConvertSummary Starts \n");
        if (std::string(sourceVersion) == destinationVersion)
            Raise(vt::Code::INVALID_PARAMETER, "the two engine versions are the same: nothing to convert");
        std::optional<CheckSettings> settings = ReadCheckSettings(sourceVersion, destinationVersion);
        if (!settings) {
            OutputDebugStringA("\n Could not Find the Src engine .ini File \n");
            Raise(vt::Code::NOT_SUPPORTED, "no settings file \"" + SettingsFileName(sourceVersion) +
                                               "\" that loads for engine version \"" + sourceVersion + "\"");
        }
        *checks = SummaryMask(*settings);
    });
}
