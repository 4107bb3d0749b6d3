#include "device_call.hpp"

#include <mutex>
#include <thread>

#include "vthandles.hpp"

namespace vtutil {

// What the thread and the caller share; the thread keeps it alive while it
// runs, so that a call left running never writes into freed memory.
struct DeviceCall::Shared {
    VTMFPSESSION *session = nullptr;
    Call call;
    vt::OwnedHandle stop = vt::NewEvent(true);
    vt::OwnedHandle done = vt::NewEvent(true);
    std::atomic<bool> returned{false};
    std::atomic<bool> stopRequested{false};
    mutable std::mutex m;
    DeviceCallResult result;
};

DeviceCall::DeviceCall(VTMFPSESSION *session, Call call)
    : shared_(std::make_shared<Shared>()), leavable_(session == nullptr) {
    shared_->session = session;
    shared_->call = std::move(call);
    worker_ = std::thread([shared = shared_] {
        if (shared->session) vtBoxSetRequestCancelEvent(shared->session, shared->stop.get());
        const uint32_t code = shared->call(shared->stop.get());
        // The engine keeps its last error text per thread: taken here, before
        // another engine call replaces it.
        std::string detail = code ? vtBoxGetLastErrorText() : "";
        // The session outlives the event.
        if (shared->session) vtBoxSetRequestCancelEvent(shared->session, nullptr);
        {
            std::lock_guard<std::mutex> lock(shared->m);
            shared->result.code = code;
            shared->result.detail = std::move(detail);
        }
        shared->call = nullptr;  // what the call captured goes with the thread
        shared->returned = true;
        SetEvent(shared->done.get());
    });
}

DeviceCall::~DeviceCall() {
    if (leavable_ && shared_->stopRequested && !shared_->returned) {
        worker_.detach();  // left to end on its own, with what it shares
        return;
    }
    if (!shared_->returned) Stop();
    // Joined, not only waited for: the thread's own state (the TLS library's,
    // say) goes with it before the caller goes on.
    worker_.join();
}

bool DeviceCall::Finished() const { return shared_->returned || (leavable_ && shared_->stopRequested); }

void DeviceCall::Stop() {
    shared_->stopRequested = true;
    SetEvent(shared_->stop.get());
}

bool DeviceCall::Stopping() const { return shared_->stopRequested; }

DeviceCallResult DeviceCall::Result() const {
    DeviceCallResult result;
    if (shared_->returned) {
        std::lock_guard<std::mutex> lock(shared_->m);
        result = shared_->result;
    }
    if (shared_->stopRequested) {
        // A call that ended otherwise just as the user stopped keeps its result.
        result.stopped = !shared_->returned || result.code == VTBOX_E_CANCELLED;
        if (result.stopped) result.code = VTBOX_E_CANCELLED;
    }
    return result;
}

}  // namespace vtutil
