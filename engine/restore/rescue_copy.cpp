#include "restore/rescue_copy.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "localfiles/local_file.hpp"
#include "localfiles/local_folder.hpp"
#include "session/result.hpp"
#include "store/layout.hpp"
#include "vtBoxBRD.h"
#include "vtplatform/diag.hpp"
#include "vtplatform/errors.hpp"
#include "vtplatform/text.hpp"

namespace vtbox {

namespace {

// How many copies of one name may stand side by side ("-2" to "-99"), so that
// a folder full of them ends the search.
constexpr int kMaxSameNamedCopies = 99;

[[noreturn]] void RaiseErrno(int err, const std::string &what) {
    Raise(vt::Win32FromErrno(err), what + ": " + std::strerror(err));
}

std::string NoteText(const RescuedDocument &d, const std::string &item) {
    char when[32] = "";
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    if (gmtime_r(&now, &utc)) std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S UTC", &utc);
    std::string level = d.folder == 0 ? std::string("the box's top level") : vt::Format("folder %03u", d.folder);
    return vt::Format(
               "A copy of the document \"%s\" (number %03u) of box %03u, %s, on the device %s\n"
               "(%s), taken at %s by a restore in replace mode.\n\n",
               d.name.c_str(), d.document, d.box, level.c_str(), d.host.c_str(), d.remote.c_str(), when) +
           "That level held as many documents as the device allows, so the document had to\n"
           "be deleted before the restored document of its name could be sent. The restore\n"
           "removes this copy once the restored document is complete, or once it has put the\n"
           "document back. If the copy is still here, neither happened: this may be the only\n"
           "copy of the document as it was.\n\n" +
           item + kRecordExtension + " and " + item +
           "/ are the document's record and page files exactly as the device held\n"
           "them. Running the restore again completes the replacement; keep this folder for as\n"
           "long as you may need the document as it was.\n";
}

void WriteNote(const std::string &path, const std::string &text) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd) RaiseErrno(errno, "cannot write " + path);
    if (!WriteAll(fd.get(), text.data(), text.size()) || !fd.Close()) Raise(GetLastError(), "cannot write " + path);
}

}  // namespace

RescueCopy::RescueCopy(const std::string &workFolder, const RescuedDocument &what)
    : rescue_(JoinPath(workFolder, VTBOX_RESCUE_FOLDER)), item_(EntryName(what.document, true)) {
    if (::mkdir(rescue_.c_str(), 0700) != 0 && errno != EEXIST) RaiseErrno(errno, "cannot make " + rescue_);
    std::string base = JoinPath(rescue_, BoxFolderName(what.box) + "-" + FolderEntryName(what.folder) + "-" + item_);
    std::string path = base;
    for (int n = 2; ::mkdir(path.c_str(), 0700) != 0; ++n) {
        if (errno != EEXIST || n > kMaxSameNamedCopies) RaiseErrno(errno, "cannot make " + path);
        path = base + "-" + std::to_string(n);
    }
    folder_ = path;
    try {
        WriteNote(JoinPath(folder_, kRescueNoteName), NoteText(what, item_));
    } catch (...) {
        Drop();
        throw;
    }
}

RescueCopy::~RescueCopy() {
    if (!keep_) Drop();
}

std::string RescueCopy::pages() const { return JoinPath(folder_, item_); }
std::string RescueCopy::record() const { return RecordFileName(pages()); }

void RescueCopy::Drop() noexcept {
    if (folder_.empty()) return;
    DeleteLocalTree(folder_, ParentFolder(rescue_));
    folder_.clear();
    ::rmdir(rescue_.c_str());  // only when empty: other copies stay
}

}  // namespace vtbox
