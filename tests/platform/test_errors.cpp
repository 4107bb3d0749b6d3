#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "vtplatform/errors.hpp"

namespace {

TEST(Errors, LastErrorIsPerThread) {
    SetLastError(87);
    std::thread other([] {
        EXPECT_EQ(GetLastError(), 0u);
        SetLastError(5);
    });
    other.join();
    EXPECT_EQ(GetLastError(), 87u);
}

TEST(Errors, ErrnoMapsToTheDesignedCodes) {
    EXPECT_EQ(vt::Win32FromErrno(ENOENT), 2u);
    EXPECT_EQ(vt::Win32FromErrno(ENOTDIR), 3u);
    EXPECT_EQ(vt::Win32FromErrno(EACCES), 5u);
    EXPECT_EQ(vt::Win32FromErrno(EPERM), 5u);
    EXPECT_EQ(vt::Win32FromErrno(ENOMEM), 8u);
    EXPECT_EQ(vt::Win32FromErrno(EEXIST), 183u);
    EXPECT_EQ(vt::Win32FromErrno(ENOSPC), 112u);
    // Nothing maps to success by accident.
    EXPECT_NE(vt::Win32FromErrno(EPROTO), 0u);
}

TEST(Errors, MessageTextsAreCutSafelyAndUnknownCodesHaveNone) {
    char buf[256];
    EXPECT_GT(vtGetMessageText(1216, buf, sizeof buf), 0u);
    EXPECT_NE(std::strstr(buf, "password"), nullptr);
    EXPECT_EQ(vtGetMessageText(424242, buf, sizeof buf), 0u);
    EXPECT_STREQ(buf, "");
    char tiny[5];
    size_t full = vtGetMessageText(995, tiny, sizeof tiny);
    EXPECT_GT(full, 4u);
    EXPECT_EQ(std::strlen(tiny), 4u);
    // Every code that the engine's own tables produce has a text.
    for (uint32_t c : {2u, 8u, 11u, 12u, 13u, 50u, 58u, 87u, 100u, 161u, 170u, 995u, 1216u, 1344u,
                       1359u, 1371u, 1392u, 1460u, 1605u, 2250u, 4319u, 4351u, 8260u, 12002u,
                       12004u, 12014u, 12029u})
        EXPECT_FALSE(vt::MessageText(c).empty()) << c;
}

}  // namespace
