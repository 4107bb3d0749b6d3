// Events and waitable threads as handles.
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <unordered_set>

#include "vtplatform.h"
#include "vtplatform/errors.hpp"

namespace {

class Waitable {
public:
    virtual ~Waitable() = default;
    virtual DWORD Wait(DWORD milliseconds) = 0;
};

// The state behind an event. Threads use one too, manual-reset, set when the
// routine returns.
class EventState {
public:
    EventState(bool manual, bool initial) : manual_(manual), signalled_(initial) {}

    void Set() {
        {
            std::lock_guard<std::mutex> g(m_);
            signalled_ = true;
        }
        if (manual_)
            cv_.notify_all();
        else
            cv_.notify_one();
    }
    void Reset() {
        std::lock_guard<std::mutex> g(m_);
        signalled_ = false;
    }
    DWORD Wait(DWORD milliseconds) {
        std::unique_lock<std::mutex> lk(m_);
        auto ready = [&] { return signalled_; };
        if (milliseconds == 0) {
            // A look, not a wait: polled on every transfer callback, it must
            // not cost a timed sleep in the kernel.
            if (!signalled_) return WAIT_TIMEOUT;
        } else if (milliseconds == INFINITE) {
            cv_.wait(lk, ready);
        } else if (!cv_.wait_for(lk, std::chrono::milliseconds(milliseconds), ready)) {
            return WAIT_TIMEOUT;
        }
        if (!manual_) signalled_ = false;  // auto-reset: this waiter takes the signal
        return WAIT_OBJECT_0;
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    const bool manual_;
    bool signalled_;
};

class Event final : public Waitable {
public:
    Event(bool manual, bool initial) : state_(manual, initial) {}
    DWORD Wait(DWORD ms) override { return state_.Wait(ms); }
    EventState &state() { return state_; }

private:
    EventState state_;
};

struct ThreadShared {
    EventState done{true, false};
    std::mutex m;
    DWORD exitCode = STILL_ACTIVE;
    LPTHREAD_START_ROUTINE routine = nullptr;
    void *parameter = nullptr;
};

class Thread final : public Waitable {
public:
    explicit Thread(std::shared_ptr<ThreadShared> s) : shared_(std::move(s)) {}
    DWORD Wait(DWORD ms) override { return shared_->done.Wait(ms); }
    DWORD ExitCode() {
        std::lock_guard<std::mutex> g(shared_->m);
        return shared_->exitCode;
    }

private:
    std::shared_ptr<ThreadShared> shared_;
};

// Live handles, so that a stale or foreign handle fails cleanly instead of
// being dereferenced.
struct HandleTable {
    std::mutex m;
    std::unordered_set<Waitable *> live;
};
HandleTable &Table() {
    static HandleTable *t = new HandleTable;  // outlives detached threads at exit
    return *t;
}

HANDLE Register(std::unique_ptr<Waitable> obj) {
    std::lock_guard<std::mutex> g(Table().m);
    Waitable *raw = obj.release();
    Table().live.insert(raw);
    return raw;
}

template <typename T>
T *Lookup(HANDLE h) {
    std::lock_guard<std::mutex> g(Table().m);
    auto *w = static_cast<Waitable *>(h);
    if (!Table().live.count(w)) return nullptr;
    return dynamic_cast<T *>(w);
}

void *ThreadMain(void *arg) {
    // The start block owns one reference to the shared state.
    std::unique_ptr<std::shared_ptr<ThreadShared>> holder(static_cast<std::shared_ptr<ThreadShared> *>(arg));
    std::shared_ptr<ThreadShared> s = *holder;
    DWORD rc = s->routine(s->parameter);
    {
        std::lock_guard<std::mutex> g(s->m);
        s->exitCode = rc;
    }
    s->done.Set();
    return nullptr;
}

}  // namespace

extern "C" {

HANDLE CreateEventA(void *, BOOL manualReset, BOOL initialState, const char *) {
    try {
        return Register(std::make_unique<Event>(manualReset != 0, initialState != 0));
    } catch (...) {
        SetLastError(vt::code(vt::Code::NOT_ENOUGH_MEMORY));
        return nullptr;
    }
}

BOOL SetEvent(HANDLE event) {
    // Held in the table's lock only for the lookup; closing an event while
    // another thread sets it is a caller error, as it is for any handle.
    Event *e = Lookup<Event>(event);
    if (!e) {
        SetLastError(vt::code(vt::Code::INVALID_HANDLE));
        return FALSE;
    }
    e->state().Set();
    return TRUE;
}

BOOL ResetEvent(HANDLE event) {
    Event *e = Lookup<Event>(event);
    if (!e) {
        SetLastError(vt::code(vt::Code::INVALID_HANDLE));
        return FALSE;
    }
    e->state().Reset();
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    Waitable *w = Lookup<Waitable>(object);
    if (!w) {
        SetLastError(vt::code(vt::Code::INVALID_HANDLE));
        return WAIT_FAILED;
    }
    return w->Wait(milliseconds);
}

HANDLE CreateThread(void *, size_t stackSize, LPTHREAD_START_ROUTINE routine, void *parameter, DWORD flags,
                    DWORD *threadId) {
    if (!routine || flags != 0) {
        SetLastError(vt::code(vt::Code::INVALID_PARAMETER));
        return nullptr;
    }
    auto shared = std::make_shared<ThreadShared>();
    shared->routine = routine;
    shared->parameter = parameter;

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    // The design asks for tiny stacks in places; anything under 256 KiB is
    // raised, since libcurl and libxml2 run on these threads.
    constexpr size_t kMinStack = 256 * 1024;
    pthread_attr_setstacksize(&attr, std::max(stackSize, kMinStack));

    auto *start = new std::shared_ptr<ThreadShared>(shared);
    pthread_t tid;
    int err = pthread_create(&tid, &attr, ThreadMain, start);
    pthread_attr_destroy(&attr);
    if (err != 0) {
        delete start;
        vt::SetLastErrorFromErrno(err);
        return nullptr;
    }
    static std::atomic<DWORD> nextId{1};
    if (threadId) *threadId = nextId++;
    return Register(std::make_unique<Thread>(std::move(shared)));
}

BOOL GetExitCodeThread(HANDLE thread, DWORD *exit_code) {
    Thread *t = Lookup<Thread>(thread);
    if (!t || !exit_code) {
        SetLastError(vt::code(vt::Code::INVALID_HANDLE));
        return FALSE;
    }
    *exit_code = t->ExitCode();
    return TRUE;
}

BOOL CloseHandle(HANDLE object) {
    Waitable *w = nullptr;
    {
        std::lock_guard<std::mutex> g(Table().m);
        auto it = Table().live.find(static_cast<Waitable *>(object));
        if (it == Table().live.end()) {
            SetLastError(vt::code(vt::Code::INVALID_HANDLE));
            return FALSE;
        }
        w = *it;
        Table().live.erase(it);
    }
    delete w;
    return TRUE;
}

}  // extern "C"
