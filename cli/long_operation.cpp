#include "long_operation.hpp"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "progress_bar.hpp"
#include "vthandles.hpp"

namespace vtcli {

namespace {
std::atomic<bool> g_terminate{false};
std::atomic<int> g_signal{0};
std::atomic<int> g_signals{0};
std::atomic<bool> g_releasing{false};
std::atomic<HANDLE> g_cancel{nullptr};
HANDLE g_stop = nullptr;     // set at the first signal
HANDLE g_give_up = nullptr;  // set when the release should stop trying

sigset_t TerminationSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

// Waits for the termination signals on a thread of its own; they reach no
// other thread while they are held.
void SignalWatcher() {
    sigset_t set = TerminationSignals();
    for (;;) {
        int sig = 0;
        if (sigwait(&set, &sig) != 0) continue;
        if (!g_terminate) g_signal = sig;
        g_terminate = true;
        int count = ++g_signals;
        SetEvent(g_stop);
        if (count >= 2 || g_releasing) {
            SetEvent(g_give_up);
            const char msg[] = "\nvtbox: stopping without waiting for the device any longer\n";
            (void)!write(STDERR_FILENO, msg, sizeof msg - 1);
        } else if (HANDLE cancel = g_cancel.load()) {
            SetEvent(cancel);
            const char msg[] =
                "\nvtbox: cancelling; the device is released once the job has stopped "
                "(Ctrl-C again to stop at once)\n";
            (void)!write(STDERR_FILENO, msg, sizeof msg - 1);
        }
    }
}
}  // namespace

void HoldTerminationSignals() {
    g_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_give_up = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    sigset_t set = TerminationSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread(SignalWatcher).detach();
}

bool TerminationRequested() { return g_terminate; }

int TerminationSignal() { return g_signal; }

HANDLE StopEvent() { return g_stop; }
HANDLE GiveUpEvent() { return g_give_up; }
void BeginRelease() {
    g_releasing = true;
    if (g_signals >= 2) SetEvent(g_give_up);
}

uint32_t RunLongOperation(ProgressBar &display, const LongOperation &operation, VTPROGRESSINFO *last,
                          std::string *detail) {
    vt::OwnedHandle statusEvent = vt::NewEvent(false), cancelEvent = vt::NewEvent(true);
    HANDLE status = statusEvent.get(), cancel = cancelEvent.get();
    g_cancel = cancel;
    if (g_terminate) SetEvent(cancel);  // asked to stop before the job began
    VTPROGRESSINFO progress{};
    std::atomic<bool> finished{false};
    uint32_t rc = 0;
    std::string failureDetail;
    std::thread worker([&] {
        rc = operation(cancel, status, &progress);
        // The detail lives on this thread: take it before the thread ends.
        if (rc != 0) failureDetail = vtBoxGetLastErrorText();
        finished = true;
        SetEvent(status);
    });
    while (!finished) {
        // The record is written by the engine without a lock: its texts are
        // advisory, and it is shown at least once a second.
        WaitForSingleObject(status, 1000);
        display.Show(progress);
    }
    worker.join();
    if (detail) *detail = failureDetail;
    display.Finish(progress, rc);
    if (last) *last = progress;
    g_cancel = nullptr;
    return rc;
}

}  // namespace vtcli
