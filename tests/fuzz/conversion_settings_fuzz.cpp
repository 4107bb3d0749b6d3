// Conversion settings files (an administrator may be handed one) read by
// IniFile and by the check settings lookup, and the same bytes as a
// description file edited line by line, as the conversions edit Backup.XML
// and Archive.XML taken from a file.
#include <algorithm>

#include "conversion/check_settings.hpp"
#include "conversion/description_edit.hpp"
#include "conversion/ini_file.hpp"
#include "fuzz_target.h"
#include "vtplatform/text.hpp"

namespace fs = std::filesystem;

VT_FUZZ_TARGET(conversion_settings) {
    using namespace vtbox;
    const std::string text(reinterpret_cast<const char *>(data), size);
    const fs::path folder = vtfuzz::Scratch() / "settings";
    fs::create_directories(folder);

    IniFile ini("(bytes)");
    const bool loaded = ini.Parse(text);
    VT_FUZZ_CHECK(loaded == !ini.sections().empty());
    for (const auto &section : ini.sections()) {
        VT_FUZZ_CHECK(section.name.find('\n') == std::string::npos);
        for (const auto &[key, value] : section.keys) {
            VT_FUZZ_CHECK(key.find_first_of("\n;#[=") == std::string::npos);
            // Every key is found in its section; the first of its name wins.
            const std::string found = ini.GetValue(section.name, key, "\x01missing");
            VT_FUZZ_CHECK(found != "\x01missing");
            VT_FUZZ_CHECK(ini.GetInteger(section.name, key, 0) == IniFile::ParseInteger(found));
        }
    }

    // The same bytes as the settings file of a version, found and read.
    vtfuzz::WriteFile(folder / "Fuzz V1.0.ini", text);
    setenv("VTBOX_CONVERSION_PATH", folder.c_str(), 1);
    const std::string destination = loaded ? ini.sections().front().name : "none";
    const auto checks = ReadCheckSettings("Fuzz V1.0", destination);
    VT_FUZZ_CHECK(checks.has_value() == loaded);
    if (checks)
        VT_FUZZ_CHECK(SummaryMask(*checks) == ((ini.GetBoolean(destination, "ColorCheck", false) ? 1u : 0u) |
                                               (ini.GetBoolean(destination, "WidePaperCheck", false) ? 2u : 0u) |
                                               (ini.GetBoolean(destination, "CopyCompoundCheck", false) ? 4u : 0u)));

    // As a description: the edit keeps every line, changes at most two, and
    // leaves no temporary file.
    const fs::path description = folder / "Backup.XML";
    vtfuzz::WriteFile(description, text);
    VT_FUZZ_CHECK(ReplaceXmlElementsInOrder(description.string(), folder.string(),
                                            {{"NumOfDocs", "7"}, {"BoxUsedDisk", "a&b"}}) == 0);
    const std::string edited = vtfuzz::ReadFile(description);
    const size_t lines = std::count(text.begin(), text.end(), '\n') + (text.empty() || text.back() == '\n' ? 0 : 1);
    VT_FUZZ_CHECK(static_cast<size_t>(std::count(edited.begin(), edited.end(), '\n')) == lines);
    VT_FUZZ_CHECK(edited.find("a&b") == std::string::npos || text.find("a&b") != std::string::npos);
    VT_FUZZ_CHECK(vtfuzz::Names(folder) == (std::set<std::string>{"Backup.XML", "Fuzz V1.0.ini"}));
    return 0;
}
