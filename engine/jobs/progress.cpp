#include "jobs/progress.hpp"

#include <cstring>

#include "session/result.hpp"
#include "vtplatform/text.hpp"

namespace vtbox {

Progress::Progress(VTPROGRESSINFO *record, HANDLE progressEvent, HANDLE cancelEvent)
    : record_(record), event_(progressEvent), cancel_(cancelEvent) {
    std::memset(record_, 0, sizeof *record_);
}

void Progress::Signal() {
    if (event_) SetEvent(event_);
}

void Progress::SetBoxName(const std::string &name) { vt::CopyUtf8(record_->BoxName, sizeof record_->BoxName, name); }
void Progress::SetFolderName(const std::string &name) {
    vt::CopyUtf8(record_->FolderName, sizeof record_->FolderName, name);
}
void Progress::SetDocName(const std::string &name) { vt::CopyUtf8(record_->DocName, sizeof record_->DocName, name); }
void Progress::ClearNames() { record_->BoxName[0] = record_->FolderName[0] = record_->DocName[0] = '\0'; }

void Progress::CheckCancel() {
    if (cancel_ && WaitForSingleObject(cancel_, 0) == WAIT_OBJECT_0) {
        OutputDebugStringA("\n <<<<****  Operation Aborted ****>>>>\n");
        Raise(vt::Code::CANCELLED);
    }
}

}  // namespace vtbox
