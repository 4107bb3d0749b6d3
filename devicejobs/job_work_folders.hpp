// The hidden work folders of jobs: what one must keep when its job ends, and
// those that killed jobs left behind. A work folder's name is a prefix of its
// program's, the number of the process that made it, "-" and a few letters
// or digits (".vtbox-work-4711-Ab12Cd").
#pragma once

#include <string>
#include <vector>

namespace vtjobs {

// What a work folder holds that may be the only copy of something, in the
// folder itself or in a folder right inside it (the engine's own work
// folder of a job): the restore's rescue copies of device documents
// (VTBOX_RESCUE_FOLDER, when not empty) and a complete backup that could not
// be put in place (VTBOX_KEPT_BACKUP). Their paths; links are never followed.
std::vector<std::string> KeptContent(const std::string &workFolder);

// The documents that rescue copies under a work folder hold (their count).
size_t RescuedDocuments(const std::string &workFolder);

// Removes a work folder with everything in it but its KeptContent; true when
// the folder stays (with that alone).
bool RemoveWorkFolder(const std::string &workFolder);

// The process number in a work folder's name made with prefix, or 0 when the
// name is not one.
int WorkFolderOwner(const std::string &name, const std::string &prefix);

// The work folders named with prefix that ended jobs left in folder: only
// folders of this user whose process is gone (no job program of ours runs
// under that number). Those that hold KeptContent are kept, with everything
// else in them removed; the others are removed whole.
struct DeadWorkFolders {
    std::vector<std::string> removed;
    std::vector<std::string> kept;
};
DeadWorkFolders ClearDeadWorkFolders(const std::string &folder, const std::string &prefix);

}  // namespace vtjobs
