// The checks that open both conversions, before anything is unpacked.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "conversion/check_settings.hpp"
#include "jobs/progress.hpp"
#include "localfiles/local_file.hpp"
#include "session/boundary.hpp"

namespace vtbox {

// What a conversion is asked to do.
struct ConversionRequest {
    std::string source;       // full path
    std::string destination;  // full path
    std::string sourceVersion;
    std::string destinationVersion;
};

// Raises 13 when source is not a file of the kind wanted (1 backup, 2
// document archive), 87 when the two paths as given or the two versions are
// equal, 50 when the settings file cannot be loaded (after the line
// missingSettingsLine), and 183 when the destination exists already (it is
// never replaced). Returns the checks for the two versions.
CheckSettings StartConversion(const ConversionRequest &request, const std::string &sourceAsGiven,
                              const std::string &destinationAsGiven, int kind, const char *missingSettingsLine);

// One conversion export: the argument check, then Conversion(request, full
// work folder, events, progress).Run(source, destination); whatever raises
// has Fail() clean up (work folder, half-made destination) first.
template <class Conversion>
uint32_t RunConversionExport(const char *exportName, const char *source, const char *destination, const char *folder,
                             const char *sourceVersion, const char *destinationVersion, HANDLE cancelEvent,
                             HANDLE progressEvent, VTPROGRESSINFO *progress) {
    const bool valid = source && *source && destination && *destination && folder && *folder && sourceVersion &&
                       destinationVersion && progress;
    std::unique_ptr<Conversion> conversion;
    return RunExport(exportName, valid, [&] {
        ConversionRequest request{FullPath(source), FullPath(destination), sourceVersion, destinationVersion};
        conversion =
            std::make_unique<Conversion>(std::move(request), FullPath(folder), cancelEvent, progressEvent, progress);
        try {
            conversion->Run(source, destination);
        } catch (...) {
            conversion->Fail();
            throw;
        }
    });
}

}  // namespace vtbox
