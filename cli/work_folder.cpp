#include "work_folder.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace vtcli {

std::string FolderOf(const std::string &path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

WorkFolder::WorkFolder(const std::string &beside_file) {
    std::string tmpl = FolderOf(beside_file) + "/.vtbox-work-XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    if (mkdtemp(name.data())) {
        path_ = std::filesystem::absolute(name.data()).string();
    } else {
        error_ = "cannot make a work folder in " + FolderOf(beside_file) + ": " + std::strerror(errno);
    }
}

WorkFolder TempWorkFolder() {
    std::error_code ec;
    std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
    if (ec || !std::filesystem::is_directory(temp, ec)) {
        const char *named = std::getenv("TMPDIR");
        WorkFolder none;
        none.error_ = "the temp folder " + std::string(named && *named ? named : "/tmp") +
                      " is not a folder; set TMPDIR to an existing folder";
        return none;
    }
    return WorkFolder(temp.string() + "/x");
}

WorkFolder::~WorkFolder() {
    if (path_.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

}  // namespace vtcli
