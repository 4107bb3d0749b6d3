// The two local-folder functions that the engine uses everywhere.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vtplatform/find.hpp"

namespace vtbox {

using FindList = std::vector<vt::FindData>;

// Makes folder the process's current folder and lists the entries matching
// pattern ("*" for all): folders (without "." and "..") into *folders and
// everything else into *files, each when given. Returns 0, 161 when the folder
// cannot be entered, or 1359 when nothing matches. The folder stays current.
uint32_t ListLocalFolder(const std::string &folder, const char *pattern, FindList *folders, FindList *files);

// Removes folder with everything in it, stepping into stepInto first so that
// the folder is not in use. Returns the system error code of the final
// removal (0 when it worked). Symbolic links are removed, never followed:
// those inside, and a link that stands in the folder's own place.
uint32_t DeleteLocalTree(const std::string &folder, const std::string &stepInto);

// The bytes of the regular files under folder, in KB rounded up (links are
// not followed); 0 for a folder that cannot be read.
uint64_t TreeKilobytes(const std::string &folder);

}  // namespace vtbox
