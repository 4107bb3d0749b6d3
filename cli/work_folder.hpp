#pragma once

#include <string>

namespace vtcli {

// A hidden work folder made next to a file the job writes or reads, removed
// with everything in it when the object ends.
class WorkFolder {
public:
    explicit WorkFolder(const std::string &beside_file);
    ~WorkFolder();
    WorkFolder(const WorkFolder &) = delete;
    WorkFolder &operator=(const WorkFolder &) = delete;

    bool ok() const { return !path_.empty(); }
    const std::string &path() const { return path_; }
    const std::string &error() const { return error_; }

private:
    std::string path_, error_;
};

// The folder part of a path ("." when it has none).
std::string FolderOf(const std::string &path);

}  // namespace vtcli
