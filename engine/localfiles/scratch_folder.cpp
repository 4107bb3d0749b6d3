#include "localfiles/scratch_folder.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "localfiles/local_file.hpp"
#include "localfiles/local_folder.hpp"
#include "session/result.hpp"
#include "vtplatform/diag.hpp"

namespace vtbox {

ScratchFolder::ScratchFolder(const std::string &work, const char *prefix) {
    static std::atomic<unsigned> counter{0};
    path_ = JoinPath(FullPath(work), vt::Format(".~%s%d-%u", prefix, static_cast<int>(getpid()), counter++));
    if (::mkdir(path_.c_str(), 0700) != 0) {
        const std::string tried = path_;
        path_.clear();
        Raise(LastErrorFromErrno(errno), "cannot make the folder " + tried);
    }
}

ScratchFolder::~ScratchFolder() {
    if (!path_.empty()) DeleteLocalTree(path_, ParentFolder(path_));
}

}  // namespace vtbox
