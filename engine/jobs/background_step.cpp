#include "jobs/background_step.hpp"

#include "session/error_detail.hpp"
#include "session/result.hpp"
#include "session/waits.hpp"
#include "vtplatform.h"
#include "vtplatform/errors.hpp"

namespace vtbox {

void BackgroundStep::Start(std::function<uint32_t()> step) {
    Wait();
    code_ = 0;
    detail_.clear();
    thread_ = std::thread([this, step = std::move(step), cancel = CurrentCancelEvent()] {
        CancelScope scope(cancel);
        try {
            code_ = step();
        } catch (...) {
            code_ = CodeInFlight();
        }
        // The detail lives with the thread that noted it: carried over by Wait.
        if (code_ != 0) detail_ = FailureDetail();
    });
}

void BackgroundStep::Wait() {
    Join();
    if (code_ == 0) return;
    uint32_t code = code_;
    code_ = 0;
    if (!detail_.empty()) NoteFailure(code, detail_);
    SetLastError(code);
    Raise(code);
}

void BackgroundStep::Join() noexcept {
    if (thread_.joinable()) thread_.join();
}

}  // namespace vtbox
