#include "session/version_check.hpp"

#include <cstdlib>

#include "session/error_detail.hpp"
#include "vtplatform/diag.hpp"
#include "vtplatform/errors.hpp"

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

uint32_t RefuseEngineVersion(VersionVerdict verdict, const std::string &text) {
    switch (verdict) {
    case VersionVerdict::Old:
        vt::DebugPrint("Vaultra Version \"%s\" is Old and Unsupported \n", text.c_str());
        NoteFailure(vt::code(vt::Code::NOT_SUPPORTED), "engine version \"" + text + "\" is too old for this engine");
        return vt::code(vt::Code::NOT_SUPPORTED);
    case VersionVerdict::New:
        vt::DebugPrint("Vaultra Version \"%s\" is New and Unsupported \n", text.c_str());
        NoteFailure(vt::code(vt::Code::ENGINE_TOO_NEW),
                    "engine version \"" + text + "\" is newer than this engine knows");
        return vt::code(vt::Code::ENGINE_TOO_NEW);
    case VersionVerdict::Unnumbered:
        // Without a version number nothing says the engine's formats are
        // ones we know: refused, as a newer engine is.
        vt::DebugPrint("Vaultra Version \"%s\" has no version number and is Unsupported \n", text.c_str());
        NoteFailure(vt::code(vt::Code::ENGINE_TOO_NEW), "engine version \"" + text + "\" has no version number");
        return vt::code(vt::Code::ENGINE_TOO_NEW);
    case VersionVerdict::Supported: break;
    }
    return 0;
}

}  // namespace vtbox
