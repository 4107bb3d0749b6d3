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

// Every errno value maps to a code that has a text, and none to success: a
// failed system call never reads as done, nor as "some error".
TEST(Errors, EveryErrnoMapsToAFailureWithAText) {
    char text[256];
    for (int err = 1; err < 134; ++err) {
        uint32_t code = vt::Win32FromErrno(err);
        EXPECT_NE(code, 0u) << err;
        EXPECT_GT(vtGetMessageText(code, text, sizeof text), 0u) << err << " -> " << code;
    }
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
    for (uint32_t c :
         {2u,    8u,    11u,   12u,   13u,   50u,   58u,   87u,   100u,  161u,   170u,   995u,   1216u, 1344u,
          1359u, 1371u, 1392u, 1460u, 1605u, 2250u, 4319u, 4351u, 8260u, 12002u, 12004u, 12014u, 12029u})
        EXPECT_FALSE(vt::MessageText(c).empty()) << c;
}

}  // namespace
