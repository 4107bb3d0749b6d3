#include "conversion/conversion_start.hpp"

#include "localfiles/local_file.hpp"
#include "packaging/folder_archive.hpp"
#include "session/result.hpp"
#include "vtplatform/errors.hpp"

namespace vtbox {

CheckSettings StartConversion(const ConversionRequest &r, const std::string &sourceAsGiven,
                              const std::string &destinationAsGiven, int kind, const char *missingSettingsLine) {
    if (GetArchiveKind(r.source) != kind)
        Raise(vt::Code::INVALID_DATA, r.source + (kind == 1 ? " is no backup file" : " is no document archive"));
    if (sourceAsGiven == destinationAsGiven)
        Raise(vt::Code::INVALID_PARAMETER, "the source and the destination are the same file");
    if (r.sourceVersion == r.destinationVersion)
        Raise(vt::Code::INVALID_PARAMETER, "the two engine versions are the same: nothing to convert");
    std::optional<CheckSettings> checks = ReadCheckSettings(r.sourceVersion, r.destinationVersion);
    if (!checks) {
        OutputDebugStringA(missingSettingsLine);
        const std::string name = SettingsFileName(r.sourceVersion);
        const std::string found = FindSettingsFile(name);
        Raise(vt::Code::NOT_SUPPORTED,
              found.empty() ? "no settings file \"" + name + "\" for engine version \"" + r.sourceVersion + "\""
                            : "the settings file " + found + " does not load");
    }
    if (PathExists(r.destination))
        Raise(vt::Code::ALREADY_EXISTS, r.destination + " exists already and is not replaced");
    return *checks;
}

}  // namespace vtbox
