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

#include "job_record.hpp"
#include "json_output.hpp"
#include "vtBoxBRD.h"

namespace vtcli {

namespace fs = std::filesystem;

namespace {

constexpr const char kPrefix[] = ".vtbox-work-";

bool IsRealFolder(const fs::path &p) {
    std::error_code ec;
    return fs::is_directory(fs::symlink_status(p, ec));
}

bool IsRealFile(const fs::path &p) {
    std::error_code ec;
    return fs::is_regular_file(fs::symlink_status(p, ec));
}

bool HoldsAnything(const fs::path &folder) {
    std::error_code ec;
    return IsRealFolder(folder) && fs::directory_iterator(folder, ec) != fs::directory_iterator();
}

// The kept items directly in one folder.
void KeptIn(const fs::path &folder, std::vector<std::string> *out) {
    fs::path rescue = folder / VTBOX_RESCUE_FOLDER, backup = folder / VTBOX_KEPT_BACKUP;
    if (HoldsAnything(rescue)) out->push_back(rescue.string());
    if (IsRealFile(backup)) out->push_back(backup.string());
}

// Removes everything under folder but the kept paths (and the folders that
// lead to them).
void RemoveAllBut(const fs::path &folder, const std::vector<std::string> &kept) {
    std::error_code ec;
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) entries.push_back(it->path());
    for (const fs::path &entry : entries) {
        std::string path = entry.string();
        bool isKept = false, leadsToKept = false;
        for (const std::string &k : kept) {
            isKept = isKept || k == path;
            leadsToKept = leadsToKept || k.rfind(path + "/", 0) == 0;
        }
        if (isKept) continue;
        std::error_code gone;
        if (leadsToKept && IsRealFolder(entry))
            RemoveAllBut(entry, kept);
        else
            fs::remove_all(entry, gone);
    }
}

// A work folder's name: ".vtbox-work-<pid>-XXXXXX"; the pid, or 0.
int OwnerOf(const std::string &name) {
    if (name.rfind(kPrefix, 0) != 0) return 0;
    std::string rest = name.substr(sizeof kPrefix - 1);
    size_t dash = rest.find('-');
    if (dash == std::string::npos || dash == 0 || rest.size() - dash - 1 != 6 ||
        rest.find_first_not_of("0123456789") != dash)
        return 0;
    return std::atoi(rest.substr(0, dash).c_str());
}

// Clears dead work folders in folder once per process, saying what it did.
void ClearOnce(const std::string &folder) {
    static std::mutex lock;
    static std::set<std::string> done;
    std::error_code ec;
    std::string key = fs::weakly_canonical(folder, ec).string();
    {
        std::lock_guard<std::mutex> hold(lock);
        if (!done.insert(key.empty() ? folder : key).second) return;
    }
    DeadWorkFolders dead = ClearDeadWorkFolders(folder);
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

std::string FolderOf(const std::string &path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

WorkFolder::WorkFolder(const std::string &besideFile) {
    ClearOnce(FolderOf(besideFile));
    std::string tmpl = FolderOf(besideFile) + "/" + kPrefix + std::to_string(getpid()) + "-XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    if (mkdtemp(name.data())) {
        path_ = fs::absolute(name.data()).string();
    } else {
        errno_ = errno;
        error_ = "cannot make a work folder in " + FolderOf(besideFile) + ": " + std::strerror(errno);
    }
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
    if (path_.empty()) return;
    std::vector<std::string> kept = KeptContent(path_);
    std::error_code ec;
    if (kept.empty())
        fs::remove_all(path_, ec);
    else
        RemoveAllBut(path_, kept);
}

std::vector<std::string> KeptContent(const std::string &workFolder) {
    std::vector<std::string> kept;
    if (!IsRealFolder(workFolder)) return kept;
    KeptIn(workFolder, &kept);
    std::error_code ec;
    for (fs::directory_iterator it(workFolder, ec), end; !ec && it != end; it.increment(ec))
        if (IsRealFolder(it->path()) && it->path().filename() != VTBOX_RESCUE_FOLDER) KeptIn(it->path(), &kept);
    return kept;
}

size_t RescuedDocuments(const std::string &workFolder) {
    size_t count = 0;
    for (const std::string &item : KeptContent(workFolder)) {
        if (fs::path(item).filename() != VTBOX_RESCUE_FOLDER) continue;
        std::error_code ec;
        for (fs::directory_iterator it(item, ec), end; !ec && it != end; it.increment(ec))
            count += IsRealFolder(it->path());
    }
    return count;
}

std::string DescribeKeptContent(const std::string &workFolder) {
    std::string text;
    for (const std::string &item : KeptContent(workFolder)) {
        if (!text.empty()) text += "; ";
        if (fs::path(item).filename() == VTBOX_RESCUE_FOLDER) {
            size_t n = RescuedDocuments(workFolder);
            text += "the only copy of " + std::to_string(n) + (n == 1 ? " document" : " documents") +
                    " that a restore in replace mode took off the device and could not put back, in " + item +
                    " (the NOTE.txt of each copy says what it is)";
        } else {
            text += "a complete backup that could not be put in place, " + item;
        }
    }
    return text;
}

DeadWorkFolders ClearDeadWorkFolders(const std::string &folder) {
    DeadWorkFolders out;
    std::error_code ec;
    std::vector<fs::path> found;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) found.push_back(it->path());
    for (const fs::path &entry : found) {
        int pid = OwnerOf(entry.filename().string());
        struct stat st;
        // Another user's runs are theirs to clear (a shared temp folder).
        if (pid == 0 || ::lstat(entry.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) continue;
        if (pid == getpid() || vtjobs::VtboxProcessRuns(pid)) continue;
        std::vector<std::string> kept = KeptContent(entry.string());
        if (!kept.empty()) {
            RemoveAllBut(entry, kept);
            out.kept.push_back(entry.string());
            continue;
        }
        std::error_code gone;
        fs::remove_all(entry, gone);
        if (!gone) out.removed.push_back(entry.string());
    }
    return out;
}

}  // namespace vtcli
