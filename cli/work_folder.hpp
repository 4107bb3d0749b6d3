#pragma once

#include <string>
#include <vector>

namespace vtcli {

// A hidden work folder made next to a file the job writes or reads
// (".vtbox-work-<pid>-XXXXXX"), removed with everything in it when the
// object ends.
class WorkFolder {
public:
    explicit WorkFolder(const std::string &beside_file);
    ~WorkFolder();
    WorkFolder(const WorkFolder &) = delete;
    WorkFolder &operator=(const WorkFolder &) = delete;

    bool ok() const { return !path_.empty(); }
    const std::string &path() const { return path_; }
    const std::string &error() const { return error_; }
    int error_number() const { return errno_; }

private:
    std::string path_, error_;
    int errno_ = 0;
};

// The folder part of a path ("." when it has none).
std::string FolderOf(const std::string &path);

// Removes the work folders that killed vtbox runs left in folder: only
// folders of our own name whose process is gone. Returns their paths.
std::vector<std::string> RemoveDeadWorkFolders(const std::string &folder);

}  // namespace vtcli
