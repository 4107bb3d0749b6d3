#include "jobs/keep_alive.hpp"

#include "transport/box_transport.hpp"
#include "vtplatform/diag.hpp"

namespace vtbox {

namespace {
std::atomic<uint32_t> g_periodMs{300000};
}

uint32_t KeepAlive::PeriodMs() { return g_periodMs; }
void KeepAlive::SetPeriodMsForTesting(uint32_t ms) { g_periodMs = ms; }

bool KeepAlive::Start(const VTMFPSESSION *session) {
    session_ = session;
    stopping_ = false;
    stopEvent_ = vt::NewEvent(true);
    if (!stopEvent_) return false;
    thread_.reset(CreateThread(nullptr, 1024, &KeepAlive::Run, this, 0, nullptr));
    if (!thread_) {
        stopEvent_.reset();
        return false;
    }
    return true;
}

void KeepAlive::Stop() {
    if (!thread_) return;
    stopping_ = true;
    SetEvent(stopEvent_.get());
    WaitForSingleObject(thread_.get(), INFINITE);
    thread_.reset();
    stopEvent_.reset();
}

DWORD KeepAlive::Run(void *arg) {
    auto *self = static_cast<KeepAlive *>(arg);
    // Sleep on the stop event rather than blindly, so that stopping is prompt.
    while (WaitForSingleObject(self->stopEvent_.get(), PeriodMs()) == WAIT_TIMEOUT) {
        std::string path = vt::Format("/VaultraBox/Admin/boxnwGetBoxProperty?SID=%08u", self->session_->SessionId);
        SendKeepAliveRequest(self->session_, path, &self->stopping_);
    }
    return 0;
}

}  // namespace vtbox
