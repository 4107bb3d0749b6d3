// The checks that open both conversions, before anything is unpacked.
#pragma once

#include <string>

#include "conversion/check_settings.hpp"
#include "jobs/progress.hpp"

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
// missing_settings_line), and 183 when the destination exists already (it is
// never replaced). Returns the checks for the two versions.
CheckSettings StartConversion(const ConversionRequest &request, const std::string &source_as_given,
                              const std::string &destination_as_given, int kind, const char *missing_settings_line);

}  // namespace vtbox
