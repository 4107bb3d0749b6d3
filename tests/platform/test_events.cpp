#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "vtplatform.h"

namespace {

using Clock = std::chrono::steady_clock;

struct EventHandle {
    explicit EventHandle(bool manual, bool initial = false) : h(CreateEventA(nullptr, manual, initial, nullptr)) {}
    ~EventHandle() { CloseHandle(h); }
    HANDLE h;
};

TEST(Events, AutoResetReleasesExactlyOneWaiterAndResets) {
    EventHandle ev(false);
    std::atomic<int> woken{0}, timedOut{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.emplace_back([&] {
            if (WaitForSingleObject(ev.h, 3000) == WAIT_OBJECT_0)
                ++woken;
            else
                ++timedOut;
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(SetEvent(ev.h));
    // One waiter takes the signal (a waiter that was slow to start takes it
    // on arrival), and no second one follows.
    for (int i = 0; i < 300 && woken.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(woken.load(), 1);
    // The signal was consumed: a poll now finds the event reset.
    EXPECT_EQ(WaitForSingleObject(ev.h, 0), WAIT_TIMEOUT);
    SetEvent(ev.h);
    for (auto &t : waiters) t.join();
    EXPECT_EQ(woken.load(), 2);
    EXPECT_EQ(timedOut.load(), 1);
}

TEST(Events, SettingTwiceWithNobodyWaitingCountsOnce) {
    EventHandle ev(false);
    SetEvent(ev.h);
    SetEvent(ev.h);
    EXPECT_EQ(WaitForSingleObject(ev.h, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(ev.h, 0), WAIT_TIMEOUT);
}

TEST(Events, ManualResetStaysSetUntilReset) {
    EventHandle ev(true);
    EXPECT_EQ(WaitForSingleObject(ev.h, 0), WAIT_TIMEOUT);
    SetEvent(ev.h);
    EXPECT_EQ(WaitForSingleObject(ev.h, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(ev.h, 0), WAIT_OBJECT_0);
    ResetEvent(ev.h);
    EXPECT_EQ(WaitForSingleObject(ev.h, 0), WAIT_TIMEOUT);
}

TEST(Events, InitialStateAndZeroWaitPolls) {
    EventHandle ev(false, true);
    auto start = Clock::now();
    EXPECT_EQ(WaitForSingleObject(ev.h, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(ev.h, 0), WAIT_TIMEOUT);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
}

TEST(Events, TimeoutIsHonouredAndASetFromAnotherThreadWakesEarly) {
    EventHandle ev(false);
    auto start = Clock::now();
    EXPECT_EQ(WaitForSingleObject(ev.h, 150), WAIT_TIMEOUT);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(150));

    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        SetEvent(ev.h);
    });
    EXPECT_EQ(WaitForSingleObject(ev.h, 10000), WAIT_OBJECT_0);
    setter.join();
}

TEST(Events, BadHandlesFailCleanly) {
    int notAHandle = 0;
    EXPECT_EQ(WaitForSingleObject(&notAHandle, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), 6u);
    EXPECT_FALSE(SetEvent(nullptr));
    EXPECT_FALSE(CloseHandle(&notAHandle));
    HANDLE h = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h));  // closed twice
}

DWORD SleepThenReturn(void *arg) {
    auto *ms = static_cast<int *>(arg);
    std::this_thread::sleep_for(std::chrono::milliseconds(*ms));
    return 42;
}

TEST(Threads, WaitOnThreadEndWithTimeoutAndExitCode) {
    int ms = 200;
    HANDLE t = CreateThread(nullptr, 1024, &SleepThenReturn, &ms, 0, nullptr);
    ASSERT_NE(t, nullptr);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(t, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(t, 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeThread(t, &code));
    EXPECT_EQ(code, 42u);
    // An ended thread stays signalled.
    EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(t));
}

TEST(Threads, ClosingTheHandleDoesNotStopTheThread) {
    static std::atomic<bool> ran{false};
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE t = CreateThread(
        nullptr, 0,
        [](void *ev) -> DWORD {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            ran = true;
            SetEvent(ev);
            return 0;
        },
        done, 0, nullptr);
    ASSERT_NE(t, nullptr);
    CloseHandle(t);
    EXPECT_EQ(WaitForSingleObject(done, 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(ran);
    CloseHandle(done);
}

}  // namespace
