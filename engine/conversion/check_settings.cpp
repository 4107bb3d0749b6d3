#include "conversion/check_settings.hpp"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "conversion/ini_file.hpp"
#include "localfiles/local_file.hpp"

#ifndef VTBOX_CONVERSION_FROM_LIBDIR
#define VTBOX_CONVERSION_FROM_LIBDIR "../share/vtbox/conversion"
#endif

namespace vtbox {

namespace {

std::string ProgramFolder() {
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    buffer[n] = '\0';
    return ParentFolder(buffer);
}

// The installed data folder, <prefix>/share/vtbox/conversion, found from the
// file that holds this code (the engine library once installed).
std::string InstalledFolder() {
    Dl_info info;
    if (!dladdr(reinterpret_cast<void *>(&SettingsSearchFolders), &info) || !info.dli_fname) return {};
    std::string library = info.dli_fname;
    if (library.find('/') == std::string::npos) return {};
    return JoinPath(ParentFolder(library), VTBOX_CONVERSION_FROM_LIBDIR);
}

std::string CurrentFolder() {
    char buffer[4096];
    return getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string();
}

bool IsRegularFile(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::string SettingsFileName(const std::string &sourceVersion) {
    std::string name = sourceVersion;
    for (char &c : name)
        if (c == '/') c = '_';
    return name + ".ini";
}

std::vector<std::string> SettingsSearchFolders() {
    std::vector<std::string> folders;
    for (std::string f : {ProgramFolder(), CurrentFolder(), InstalledFolder()})
        if (!f.empty()) folders.push_back(std::move(f));
    if (const char *extra = std::getenv("VTBOX_CONVERSION_PATH")) {
        std::string list = extra;
        size_t start = 0;
        while (start <= list.size()) {
            size_t colon = list.find(':', start);
            if (colon == std::string::npos) colon = list.size();
            if (colon > start) folders.push_back(list.substr(start, colon - start));
            start = colon + 1;
        }
    }
    return folders;
}

std::string FindSettingsFile(const std::string &name) {
    // The name comes from a version text: with "/" gone it is one name, and
    // it can never reach outside a search folder (".", ".." and "" aside).
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) return {};
    for (const std::string &folder : SettingsSearchFolders()) {
        std::string path = JoinPath(folder, name);
        if (IsRegularFile(path)) return path;
    }
    return {};
}

std::optional<CheckSettings> ReadCheckSettings(const std::string &sourceVersion,
                                               const std::string &destinationVersion) {
    std::string path = FindSettingsFile(SettingsFileName(sourceVersion));
    if (path.empty()) return std::nullopt;
    IniFile ini(path);
    if (!ini.Load()) return std::nullopt;
    CheckSettings checks;
    checks.color = ini.GetBoolean(destinationVersion, "ColorCheck", false);
    checks.widePaper = ini.GetBoolean(destinationVersion, "WidePaperCheck", false);
    checks.copyCompound = ini.GetBoolean(destinationVersion, "CopyCompoundCheck", false);
    checks.kSize = ini.GetBoolean(destinationVersion, "K-SizeCheck", false);
    return checks;
}

uint32_t SummaryMask(const CheckSettings &checks) {
    return (checks.color ? kColourBit : 0) | (checks.widePaper ? kWidePaperBit : 0) |
           (checks.copyCompound ? kCopyMixBit : 0);
}

}  // namespace vtbox
