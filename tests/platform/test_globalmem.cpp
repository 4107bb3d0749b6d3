#include <gtest/gtest.h>

#include <cstring>

#include "vtplatform.h"

namespace {

TEST(GlobalMemory, RecordsSizeZeroesAndHandleIsThePointer) {
    HGLOBAL h = GlobalAlloc(GPTR, 1000);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalSize(h), 1000u);
    auto *p = static_cast<unsigned char *>(GlobalLock(h));
    EXPECT_EQ(static_cast<void *>(p), h);
    for (size_t i = 0; i < 1000; ++i) ASSERT_EQ(p[i], 0) << i;
    GlobalUnlock(h);
    EXPECT_EQ(GlobalFree(h), nullptr);
}

TEST(GlobalMemory, ResizeKeepsContentAndZeroesGrowth) {
    HGLOBAL h = GlobalAlloc(GPTR, 16);
    std::memcpy(h, "0123456789abcdef", 16);
    HGLOBAL grown = GlobalReAlloc(h, 4096, GMEM_ZEROINIT);
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(GlobalSize(grown), 4096u);
    EXPECT_EQ(std::memcmp(grown, "0123456789abcdef", 16), 0);
    auto *p = static_cast<unsigned char *>(grown);
    for (size_t i = 16; i < 4096; ++i) ASSERT_EQ(p[i], 0) << i;
    HGLOBAL shrunk = GlobalReAlloc(grown, 4, 0);
    ASSERT_NE(shrunk, nullptr);
    EXPECT_EQ(GlobalSize(shrunk), 4u);
    EXPECT_EQ(std::memcmp(shrunk, "0123", 4), 0);
    GlobalFree(shrunk);
}

TEST(GlobalMemory, ZeroSizeBlocksAndNullHandles) {
    HGLOBAL h = GlobalAlloc(GPTR, 0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalSize(h), 0u);
    GlobalFree(h);
    EXPECT_EQ(GlobalSize(nullptr), 0u);
    EXPECT_EQ(GlobalFree(nullptr), nullptr);
    EXPECT_EQ(GlobalAlloc(GPTR, SIZE_MAX), nullptr);
    EXPECT_EQ(GetLastError(), 8u);
}

}  // namespace
