// The progress record of a long operation, its progress event and its
// cancel event, as one object the operation's steps write through.
#pragma once

#include <cstdint>
#include <string>

#include "vtBoxBRD.h"

namespace vtbox {

class Progress {
public:
    // Zeroes the caller's record. Either event may be null.
    Progress(VTPROGRESSINFO *record, HANDLE progressEvent, HANDLE cancelEvent);

    void Signal();
    void SetPhase(int32_t phase) { record_->Phase = phase; }
    void SetPercent(int32_t percent) { record_->Percent = percent; }
    void SetBoxName(const std::string &name);
    void SetFolderName(const std::string &name);
    void SetDocName(const std::string &name);
    void ClearNames();
    VTPROGRESSINFO &record() { return *record_; }

    // Raises 995 (after the abort line) when the cancel event is signalled.
    void CheckCancel();
    HANDLE cancelEvent() const { return cancel_; }
    // Someone watches the record: the caller gave a progress event.
    bool observed() const { return event_ != nullptr; }

private:
    VTPROGRESSINFO *record_;
    HANDLE event_;
    HANDLE cancel_;
};

}  // namespace vtbox
