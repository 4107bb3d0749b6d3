#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vtcli {

// A hidden work folder made next to a file the job writes or reads
// (".vtbox-work-<pid>-XXXXXX"), removed with everything in it when the
// object ends, but for what it holds that must outlive the job (KeptContent):
// that stays, in the folder, and nothing else does.
//
// Making one first clears the work folders that dead vtbox runs left in the
// same folder (ClearDeadWorkFolders), once per folder and process, and says
// on standard error what it removed and what it kept (unless -q).
class WorkFolder {
public:
    explicit WorkFolder(const std::string &besideFile);
    WorkFolder(WorkFolder &&other) noexcept
        : path_(std::move(other.path_)), error_(std::move(other.error_)), errno_(other.errno_) {
        other.path_.clear();
    }
    ~WorkFolder();
    WorkFolder(const WorkFolder &) = delete;
    WorkFolder &operator=(const WorkFolder &) = delete;

    bool ok() const { return !path_.empty(); }
    const std::string &path() const { return path_; }
    const std::string &error() const { return error_; }
    int error_number() const { return errno_; }

private:
    WorkFolder() = default;
    friend WorkFolder TempWorkFolder();
    std::string path_, error_;
    int errno_ = 0;
};

// A work folder in the temp folder ($TMPDIR, else /tmp). When that is not a
// usable folder the object is not ok() and error() says so.
WorkFolder TempWorkFolder();

// The folder part of a path ("." when it has none).
std::string FolderOf(const std::string &path);

// What a work folder holds that may be the only copy of something, in the
// folder itself or in a folder right inside it (the engine's own work
// folder of a job): the restore's rescue copies of device documents
// (VTBOX_RESCUE_FOLDER, when not empty) and a complete backup that could not
// be put in place (VTBOX_KEPT_BACKUP). Their paths; links are never followed.
std::vector<std::string> KeptContent(const std::string &workFolder);

// The documents that rescue copies under a work folder hold (their count).
size_t RescuedDocuments(const std::string &workFolder);

// What KeptContent found, in words for an administrator ("" when nothing).
std::string DescribeKeptContent(const std::string &workFolder);

// The work folders that ended vtbox runs left in folder: only folders of our
// own name and user whose process is gone. Those that hold KeptContent are kept, with
// everything else in them removed; the others are removed whole.
struct DeadWorkFolders {
    std::vector<std::string> removed;
    std::vector<std::string> kept;
};
DeadWorkFolders ClearDeadWorkFolders(const std::string &folder);

}  // namespace vtcli
