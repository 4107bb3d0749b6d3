#include "work_folder.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "job_record.hpp"

namespace vtcli {

namespace {
constexpr const char kPrefix[] = ".vtbox-work-";
}  // namespace

std::string FolderOf(const std::string &path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

WorkFolder::WorkFolder(const std::string &beside_file) {
    std::string tmpl = FolderOf(beside_file) + "/" + kPrefix + std::to_string(getpid()) + "-XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    if (mkdtemp(name.data())) {
        path_ = std::filesystem::absolute(name.data()).string();
    } else {
        errno_ = errno;
        error_ = "cannot make a work folder in " + FolderOf(beside_file) + ": " + std::strerror(errno);
    }
}

WorkFolder::~WorkFolder() {
    if (path_.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::vector<std::string> RemoveDeadWorkFolders(const std::string &folder) {
    std::vector<std::string> removed;
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(folder, ec)) {
        std::string name = entry.path().filename().string();
        if (name.rfind(kPrefix, 0) != 0) continue;
        // ".vtbox-work-<pid>-XXXXXX", a real folder, not a link.
        std::string rest = name.substr(sizeof kPrefix - 1);
        size_t dash = rest.find('-');
        if (dash == std::string::npos || dash == 0 || rest.size() - dash - 1 != 6 ||
            rest.find_first_not_of("0123456789") != dash)
            continue;
        std::error_code kind;
        if (!entry.is_directory(kind) || entry.is_symlink(kind)) continue;
        int pid = std::atoi(rest.substr(0, dash).c_str());
        if (pid == getpid() || VtboxProcessRuns(pid)) continue;
        std::error_code gone;
        std::filesystem::remove_all(entry.path(), gone);
        if (!gone) removed.push_back(entry.path().string());
    }
    return removed;
}

}  // namespace vtcli
