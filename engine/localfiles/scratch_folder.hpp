// A folder of a call's own inside the caller's work folder, for the exports
// that read a backup file without a device (check, plan, listing, ...): made
// anew with a unique hidden name, and removed with everything in it when the
// object ends, however the call ends.
#pragma once

#include <string>

namespace vtbox {

class ScratchFolder {
public:
    // Makes "<work>/.~<prefix><pid>-<n>" (mode 700). Raises with the system
    // error when it cannot be made.
    ScratchFolder(const std::string &work, const char *prefix);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder &) = delete;
    ScratchFolder &operator=(const ScratchFolder &) = delete;

    const std::string &path() const { return path_; }

private:
    std::string path_;
};

}  // namespace vtbox
