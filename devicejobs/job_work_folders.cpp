#include "job_work_folders.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>

#include "job_record.hpp"
#include "vtBoxBRD.h"

namespace vtjobs {

namespace fs = std::filesystem;

namespace {

// The letters or digits after the process number: mkdtemp's six, or a
// millisecond count.
constexpr size_t kLongestNameTail = 16;
// A process number has at most this many digits (Linux's limit is 2^22).
constexpr size_t kLongestPid = 9;

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

}  // namespace

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

bool RemoveWorkFolder(const std::string &workFolder) {
    if (workFolder.empty()) return false;
    std::vector<std::string> kept = KeptContent(workFolder);
    if (!kept.empty()) {
        RemoveAllBut(workFolder, kept);
        return true;
    }
    std::error_code ec;
    fs::remove_all(workFolder, ec);
    return false;
}

int WorkFolderOwner(const std::string &name, const std::string &prefix) {
    if (prefix.empty() || name.rfind(prefix, 0) != 0) return 0;
    const std::string rest = name.substr(prefix.size());
    const size_t dash = rest.find('-');
    if (dash == std::string::npos || dash == 0 || dash > kLongestPid) return 0;
    const std::string tail = rest.substr(dash + 1);
    if (tail.empty() || tail.size() > kLongestNameTail) return 0;
    for (size_t i = 0; i < dash; ++i)
        if (!std::isdigit(static_cast<unsigned char>(rest[i]))) return 0;
    for (char c : tail)
        if (!std::isalnum(static_cast<unsigned char>(c))) return 0;
    return std::atoi(rest.substr(0, dash).c_str());
}

DeadWorkFolders ClearDeadWorkFolders(const std::string &folder, const std::string &prefix) {
    DeadWorkFolders out;
    std::error_code ec;
    std::vector<fs::path> found;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) found.push_back(it->path());
    for (const fs::path &entry : found) {
        int pid = WorkFolderOwner(entry.filename().string(), prefix);
        struct stat st;
        // Another user's runs are theirs to clear (a shared temp folder).
        if (pid == 0 || ::lstat(entry.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) continue;
        if (pid == getpid() || RunningJobProgram(pid)) continue;
        if (RemoveWorkFolder(entry.string())) {
            out.kept.push_back(entry.string());
            continue;
        }
        if (!fs::exists(fs::symlink_status(entry, ec))) out.removed.push_back(entry.string());
    }
    return out;
}

}  // namespace vtjobs
