#include "session/version_check.hpp"

#include <cstdlib>

namespace vtbox {

VersionVerdict CheckEngineVersion(const std::string &text) {
    static const char *const kOld[] = {
        "Korvo-C V1.0.0.0", "Korvo-C V1.1.0.0", "Korvo-C V1.2.0.0", "Korvo-B V1.0.0.0",
        "Korvo-B V1.1.0.0", "Korvo-B V1.2.0.0", "Korvo-A V1.0.0.0", "Korvo-A V1.1.0.0",
    };
    for (const char *old : kOld)
        if (text.find(old) != std::string::npos) return VersionVerdict::Old;
    size_t v = text.rfind('V');
    if (v == std::string::npos) return VersionVerdict::Unnumbered;
    long major = std::strtol(text.c_str() + v + 1, nullptr, 10);
    return major >= 2 ? VersionVerdict::New : VersionVerdict::Supported;
}

}  // namespace vtbox
