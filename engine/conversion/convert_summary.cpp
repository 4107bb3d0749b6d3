// vtBoxGetConvertSummary: which kinds of documents a conversion between two
// engine versions would drop, from the settings file alone.
#include "conversion/check_settings.hpp"
#include "session/boundary.hpp"
#include "vtplatform/errors.hpp"

using namespace vtbox;

extern "C" uint32_t vtBoxGetConvertSummary(const char *source_version, const char *destination_version,
                                           uint32_t *checks) {
    if (checks) *checks = 0;
    const bool valid = source_version && destination_version && checks;
    // The report line names the conversion as a whole, as it always has.
    return RunExport("vtBoxConvertVaultraData ", valid, [&] {
        OutputDebugStringA("\n vtBoxGetConvertSummary Starts \n");
        if (std::string(source_version) == destination_version)
            Raise(vt::Code::INVALID_PARAMETER, "the two engine versions are the same: nothing to convert");
        std::optional<CheckSettings> settings = ReadCheckSettings(source_version, destination_version);
        if (!settings) {
            OutputDebugStringA("\n Could not Find the Src engine .ini File \n");
            Raise(vt::Code::NOT_SUPPORTED, "no settings file \"" + SettingsFileName(source_version) +
                                              "\" that loads for engine version \"" + source_version + "\"");
        }
        *checks = SummaryMask(*settings);
    });
}
