// The provider: one per process, created when the server is loaded and
// destroyed when it is unloaded. It holds the SNMP session, the schema, and
// the worker thread with its first-in, first-out request queue.
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "com_object.hpp"
#include "operations.hpp"
#include "schema.hpp"
#include "snmp_layer.hpp"
#include "vthandles.hpp"
#include "vtplatform.h"

namespace kx9 {

class ScalarObject;

enum RequestKind : int {
    kRequestTableRead = 0,
    kRequestSingleRead = 1,
    kRequestWrite = 2,
    kRequestStop = 3,
};

// What the worker tells when a request's operation has finished.
class CompletionTarget {
public:
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
    virtual void RequestDone(IDSECallback *callback, int state) = 0;

protected:
    ~CompletionTarget() = default;
};

struct Request {
    int kind = kRequestStop;
    ComRef<ScalarObject> element;  // whose value lists the operation reads or writes
    Operation op;
    ComRef<CompletionTarget> target;
    ComRef<IDSECallback> callback;  // handed to the target
};

class Provider {
public:
    Provider();
    ~Provider();
    Provider(const Provider &) = delete;
    Provider &operator=(const Provider &) = delete;

    // Creates the session, loads the maps from mapFolder, orders the index
    // and starts the worker. E_OUTOFMEMORY without a session, E_FAIL when the
    // maps do not load (the reason goes to the diagnostics channel).
    HRESULT Initialise(const std::string &mapFolder);

    const Schema &schema() const { return schema_; }
    snmp::Snmp &session() { return *snmp_; }
    // The result of the session's last request.
    int status() const { return snmp_ ? snmp_->last_status() : snmp::kSuccess; }

    // Copies the request to the back of the queue and wakes the worker.
    // False when there is no worker to run it.
    bool Enqueue(Request request);

    // Queues the stop request, ends what is in flight, and waits for the
    // worker: 500 ms, then for as long as its last callback takes.
    void Stop();

private:
    static DWORD WorkerMain(void *self);
    void RunWorker();

    std::unique_ptr<snmp::Snmp> snmp_;
    Schema schema_;
    vt::OwnedHandle wake_;  // manual-reset, wakes the worker
    vt::OwnedHandle worker_;
    std::mutex queueLock_;  // held only while a request is copied in or out
    std::deque<Request> queue_;
    bool stopped_ = false;
};

// The process's provider; null only when it could not be allocated at load.
Provider *TheProvider();

// The server file's full path, as the loader mapped it.
std::string ServerPath();

}  // namespace kx9
