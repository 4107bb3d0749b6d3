#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "canned_device.hpp"
#include "jobs/keep_alive.hpp"

namespace {

TEST(KeepAlive, TouchesTheSessionPeriodicallyAndNeverAfterStop) {
    vttest::CannedDevice device;
    device.Answer("boxnwGetBoxProperty", vttest::Ok());
    VTMFPSESSION s = device.Session();
    ASSERT_EQ(vtBoxOpenConnection(&s), 0u);
    vtbox::KeepAlive::SetPeriodMsForTesting(100);
    {
        vtbox::KeepAlive keepAlive;
        ASSERT_TRUE(keepAlive.Start(&s));
        for (int i = 0; i < 500 && device.Count("boxnwGetBoxProperty") < 2; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        keepAlive.Stop();
    }
    vtbox::KeepAlive::SetPeriodMsForTesting(300000);
    int touches = device.Count("boxnwGetBoxProperty");
    EXPECT_GE(touches, 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(device.Count("boxnwGetBoxProperty"), touches);
    for (const auto &t : device.server->requests())
        if (vttest::PageOf(t) == "boxnwGetBoxProperty") {
            EXPECT_EQ(t, "/VaultraBox/Admin/boxnwGetBoxProperty?SID=00001234");
        }
    vtBoxCloseConnection(&s);
}

TEST(KeepAlive, StoppingDoesNotWaitForASlowDevice) {
    vttest::CannedDevice device;
    device.pages["boxnwGetBoxProperty"] = [](const std::string &) {
        vttest::CannedReply r{200, vttest::Ok()};
        r.delayMs = 60000;
        return r;
    };
    VTMFPSESSION s = device.Session();
    ASSERT_EQ(vtBoxOpenConnection(&s), 0u);
    vtbox::KeepAlive::SetPeriodMsForTesting(50);
    vtbox::KeepAlive keepAlive;
    ASSERT_TRUE(keepAlive.Start(&s));
    while (device.Count("boxnwGetBoxProperty") == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    auto start = std::chrono::steady_clock::now();
    keepAlive.Stop();
    vtbox::KeepAlive::SetPeriodMsForTesting(300000);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    vtBoxCloseConnection(&s);
}

}  // namespace
