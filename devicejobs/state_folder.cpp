#include "state_folder.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vtjobs {

std::string StateFolder() {
    if (const char *dir = std::getenv("STATE_DIRECTORY"); dir && *dir == '/') {
        const std::string list(dir);
        return list.substr(0, list.find(':'));
    }
    if (const char *state = std::getenv("XDG_STATE_HOME"); state && *state == '/') return std::string(state) + "/vtbox";
    if (const char *home = std::getenv("HOME"); home && *home) return std::string(home) + "/.local/state/vtbox";
    return {};
}

bool MakePrivateFolders(const std::string &path, std::string *error) {
    for (size_t at = 1;; ++at) {
        at = path.find('/', at);
        const std::string part = path.substr(0, at);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            if (error) *error = part + ": could not make the folder: " + std::strerror(errno);
            return false;
        }
        if (at == std::string::npos) return true;
    }
}

}  // namespace vtjobs
