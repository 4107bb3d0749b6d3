#include "provider.hpp"

#include "map_reader.hpp"
#include "scalar_object.hpp"
#include "vtplatform/diag.hpp"

namespace kx9 {

namespace {
constexpr DWORD kStopWaitMs = 500;
}

Provider::Provider() = default;
Provider::~Provider() { Stop(); }

HRESULT Provider::Initialise(const std::string &mapFolder) {
    int status = snmp::kSuccess;
    snmp_.reset(new (std::nothrow) snmp::Snmp(status));
    if (!snmp_ || status != snmp::kSuccess) return E_OUTOFMEMORY;

    std::string error;
    if (!LoadMaps(mapFolder, &schema_, &error)) {
        vt::DebugPrint("KX9SNMPProvider: the element maps did not load: %s\n", error.c_str());
        return E_FAIL;
    }
    wake_ = vt::NewEvent(true);
    if (!wake_) return E_OUTOFMEMORY;
    worker_.reset(CreateThread(nullptr, 0, &Provider::WorkerMain, this, 0, nullptr));
    if (!worker_) return E_OUTOFMEMORY;
    return S_OK;
}

bool Provider::Enqueue(Request request) {
    {
        std::lock_guard<std::mutex> g(queueLock_);
        if (!worker_ || stopped_) return false;
        queue_.push_back(std::move(request));
    }
    SetEvent(wake_.get());
    return true;
}

void Provider::Stop() {
    if (!worker_) return;
    if (snmp_) snmp_->cancel_all();  // requests still queued end at once, as cancelled
    {
        std::lock_guard<std::mutex> g(queueLock_);
        stopped_ = true;
        queue_.push_back(Request{});  // kind 3
    }
    SetEvent(wake_.get());
    if (WaitForSingleObject(worker_.get(), kStopWaitMs) == WAIT_TIMEOUT) {
        // The worker is inside a host's callback. Its code is ours, so the
        // server cannot be unmapped under it: wait until it has returned.
        vt::DebugPrint("KX9SNMPProvider: the worker did not stop within %u ms; waiting for it\n",
                       static_cast<unsigned>(kStopWaitMs));
        WaitForSingleObject(worker_.get(), INFINITE);
    }
    worker_.reset();
    wake_.reset();
}

DWORD Provider::WorkerMain(void *self) {
    static_cast<Provider *>(self)->RunWorker();
    return 0;
}

void Provider::RunWorker() {
    for (;;) {
        bool empty;
        {
            std::lock_guard<std::mutex> g(queueLock_);
            empty = queue_.empty();
        }
        if (empty) WaitForSingleObject(wake_.get(), INFINITE);
        ResetEvent(wake_.get());
        Request request;
        {
            std::lock_guard<std::mutex> g(queueLock_);
            if (queue_.empty()) continue;
            request = std::move(queue_.front());
            queue_.pop_front();
        }
        if (request.kind == kRequestStop) return;
        int state = request.element->Run(request.kind, request.op);
        if (request.target) request.target->RequestDone(request.callback.get(), state);
    }
}

}  // namespace kx9
