#include "work_folder.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>

#include "job_work_folders.hpp"
#include "json_output.hpp"
#include "vtBoxBRD.h"

namespace vtcli {

namespace fs = std::filesystem;

namespace {

// Clears the folders named with prefix that dead runs left in folder, once
// per folder and process, saying what it did.
void ClearOnce(const std::string &folder, const std::string &prefix) {
    static std::mutex lock;
    static std::set<std::string> done;
    std::error_code ec;
    std::string key = fs::weakly_canonical(folder, ec).string();
    {
        std::lock_guard<std::mutex> hold(lock);
        if (!done.insert(prefix + (key.empty() ? folder : key)).second) return;
    }
    vtjobs::DeadWorkFolders dead = vtjobs::ClearDeadWorkFolders(folder, prefix);
    if (Output().quiet) return;
    for (const auto &path : dead.removed)
        std::fprintf(stderr, "vtbox: removed %s, left by a vtbox run that was killed\n", path.c_str());
    for (const auto &path : dead.kept)
        std::fprintf(stderr,
                     "vtbox: kept %s, left by an earlier vtbox run: it holds %s; remove it once you "
                     "no longer need it\n",
                     path.c_str(), DescribeKeptContent(path).c_str());
}

}  // namespace

void ClearDeadExtractions(const std::string &target) { ClearOnce(target, kExtractFolderPrefix); }

std::string FolderOf(const std::string &path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

WorkFolder::WorkFolder(const std::string &besideFile) {
    ClearOnce(FolderOf(besideFile), kWorkFolderPrefix);
    std::string tmpl = FolderOf(besideFile) + "/" + kWorkFolderPrefix + std::to_string(getpid()) + "-XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    if (mkdtemp(name.data())) {
        path_ = fs::absolute(name.data()).string();
    } else {
        errno_ = errno;
        error_ = "cannot make a work folder in " + FolderOf(besideFile) + ": " + std::strerror(errno);
    }
}

WorkFolder WorkFolderFor(const std::string &file) {
    WorkFolder beside(file);
    if (beside.ok()) return beside;
    return TempWorkFolder();
}

WorkFolder TempWorkFolder() {
    std::error_code ec;
    fs::path temp = fs::temp_directory_path(ec);
    if (ec || !fs::is_directory(temp, ec)) {
        const char *named = std::getenv("TMPDIR");
        WorkFolder none;
        none.error_ = "the temp folder " + std::string(named && *named ? named : "/tmp") +
                      " is not a folder; set TMPDIR to an existing folder";
        return none;
    }
    return WorkFolder(temp.string() + "/x");
}

WorkFolder::~WorkFolder() {
    if (!path_.empty()) vtjobs::RemoveWorkFolder(path_);
}

std::string DescribeKeptContent(const std::string &workFolder) {
    std::string text;
    for (const std::string &item : vtjobs::KeptContent(workFolder)) {
        if (!text.empty()) text += "; ";
        if (fs::path(item).filename() == VTBOX_RESCUE_FOLDER) {
            size_t n = vtjobs::RescuedDocuments(workFolder);
            text += "the only copy of " + std::to_string(n) + (n == 1 ? " document" : " documents") +
                    " that a restore in replace mode took off the device and could not put back, in " + item +
                    " (the NOTE.txt of each copy says what it is)";
        } else {
            text += "a complete backup that could not be put in place, " + item;
        }
    }
    return text;
}

}  // namespace vtcli
