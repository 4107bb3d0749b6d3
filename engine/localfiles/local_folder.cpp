#include "localfiles/local_folder.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>

#include "vtplatform.h"
#include "vtplatform/errors.hpp"

namespace vtbox {

namespace {
bool IsDotName(const char *name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

// Relative paths are taken against the current folder now, because the walk
// below changes the current folder as it goes.
std::string Absolute(const std::string &path) {
    if (!path.empty() && path[0] == '/') return path;
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) return path;
    return path.empty() ? std::string(cwd) : std::string(cwd) + "/" + path;
}

void RemoveTree(const std::string &folder, const std::string &stepInto) {
    FindList folders, files;
    ListLocalFolder(folder, "*", &folders, &files);
    for (const auto &f : files) {
        // By full path, not by the current folder: another thread may change
        // that meanwhile. A failure shows only in the final removal's code.
        if (unlink((folder + "/" + f.cFileName).c_str()) != 0) vt::SetLastErrorFromErrno(errno);
    }
    for (const auto &d : folders) RemoveTree(folder + "/" + d.cFileName, stepInto);
    if (chdir(stepInto.c_str()) != 0) vt::SetLastErrorFromErrno(errno);
    if (rmdir(folder.c_str()) != 0)
        vt::SetLastErrorFromErrno(errno);
    else
        SetLastError(0);
}
}  // namespace

uint32_t ListLocalFolder(const std::string &folder, const char *pattern, FindList *folders, FindList *files) {
    const std::string absolute = Absolute(folder);
    if (chdir(absolute.c_str()) != 0) {
        vt::SetLastErrorFromErrno(errno);
        return vt::code(vt::Code::NOT_ON_DEVICE);
    }
    // The search names the folder itself rather than trusting the current
    // folder, which a packing thread and a download may both change.
    vt::FindData entry;
    const std::string searchPattern = (absolute == "/" ? std::string("/") : absolute + "/") + (pattern ? pattern : "*");
    HANDLE search = vt::FindFirstFile(searchPattern.c_str(), &entry);
    if (!search) return vt::code(vt::Code::INTERNAL_ERROR);
    do {
        if (entry.dwFileAttributes & vt::kAttrDirectory) {
            if (folders && !IsDotName(entry.cFileName)) folders->push_back(entry);
        } else if (files) {
            files->push_back(entry);
        }
    } while (vt::FindNextFile(search, &entry));
    vt::FindClose(search);
    return 0;
}

uint32_t DeleteLocalTree(const std::string &folder, const std::string &stepInto) {
    const std::string top = Absolute(folder);
    struct stat st;
    if (lstat(top.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        // A link in the folder's place goes itself: what it points to is
        // no part of the tree.
        if (chdir(Absolute(stepInto).c_str()) != 0) vt::SetLastErrorFromErrno(errno);
        if (unlink(top.c_str()) != 0) return vt::SetLastErrorFromErrno(errno);
        SetLastError(0);
        return 0;
    }
    RemoveTree(top, Absolute(stepInto));
    return GetLastError();
}

uint64_t TreeKilobytes(const std::string &folder) {
    uint64_t bytes = 0;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code sizeEc;
        if (it->is_regular_file(sizeEc)) {
            uint64_t size = it->file_size(sizeEc);
            if (!sizeEc) bytes += size;
        }
    }
    return (bytes + 1023) / 1024;
}

}  // namespace vtbox
