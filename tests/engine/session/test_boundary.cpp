#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "debug_capture.hpp"
#include "session/boundary.hpp"

namespace {

using vttest::DebugCapture;

// Counts live instances, to see that a body's holdings are released on
// every path.
struct Held {
    static inline int live = 0;
    Held() { ++live; }
    ~Held() { --live; }
};

TEST(ExportBoundary, InvalidArgumentsGive87WithoutAReport) {
    DebugCapture cap;
    bool ran = false;
    SetLastError(5);
    EXPECT_EQ(vtbox::RunExport("vtBoxX", false, [&] { ran = true; }), 87u);
    EXPECT_FALSE(ran);
    EXPECT_EQ(GetLastError(), 87u);
    EXPECT_EQ(cap.text(), "");
}

TEST(ExportBoundary, RaisedCodeIsReportedOnceReleasedAndReturned) {
    DebugCapture cap;
    uint32_t rc = vtbox::RunExport("vtBoxGetBoxProperty", true, [] {
        Held h;
        vtbox::Raise(161);
    });
    EXPECT_EQ(rc, 161u);
    EXPECT_EQ(GetLastError(), 161u);
    EXPECT_EQ(Held::live, 0);
    EXPECT_EQ(cap.text(),
              "\n==> vtBoxGetBoxProperty Failed With ERROR - 161 : The box or folder does not "
              "exist on the device. \n ");
}

// Memory that could not be had is said as such (8), not as an internal error.
TEST(ExportBoundary, NoMemoryIs8AnythingElse1359AndARaisedZeroIsNoSuccess) {
    DebugCapture cap;
    EXPECT_EQ(vtbox::RunExport("vtBoxM", true, [] { throw std::bad_alloc(); }), 8u);
    EXPECT_EQ(vtbox::RunExport("vtBoxA", true, [] { throw std::runtime_error("boom"); }), 1359u);
    EXPECT_EQ(vtbox::RunExport("vtBoxB", true, [] { vtbox::Raise(0u); }), 1359u);
    std::string text = cap.text();
    EXPECT_NE(text.find("vtBoxA Failed With ERROR - 1359"), std::string::npos);
    EXPECT_NE(text.find("vtBoxB Failed With ERROR - 1359"), std::string::npos);
}

TEST(ExportBoundary, SuccessSetsLastErrorZero) {
    DebugCapture cap;
    SetLastError(12004);
    EXPECT_EQ(vtbox::RunExport("vtBoxC", true, [] {}), 0u);
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(cap.text(), "");
}

TEST(ExportBoundary, ListExportsHandOutTheBlockOrFreeIt) {
    DebugCapture cap;
    HGLOBAL ok =
        vtbox::RunListExport("vtBoxGetBoxList", true, [] { return vtbox::GlobalBlock(GlobalAlloc(GPTR, 64)); });
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(GlobalSize(ok), 64u);
    GlobalFree(ok);

    // A failure after the block was made frees it (the sanitizer build
    // would report the leak) and leaves the code as last error.
    HGLOBAL failed = vtbox::RunListExport("vtBoxGetCollection", true, [] {
        vtbox::GlobalBlock block(GlobalAlloc(GPTR, 64));
        vtbox::Raise(11);
        return block;
    });
    EXPECT_EQ(failed, nullptr);
    EXPECT_EQ(GetLastError(), 11u);

    EXPECT_EQ(vtbox::RunListExport("vtBoxGetCollection", false, [] { return vtbox::GlobalBlock(); }), nullptr);
    EXPECT_EQ(GetLastError(), 87u);
}

TEST(SessionCheck, OpenNeedsAConnectionAndASessionNumber) {
    VTMFPSESSION s{};
    EXPECT_FALSE(vtbox::SessionIsOpen(nullptr));
    EXPECT_FALSE(vtbox::SessionIsOpen(&s));
    int conn = 0;
    s.ConnectHandle = &conn;
    EXPECT_FALSE(vtbox::SessionIsOpen(&s));
    s.SessionId = 7;
    EXPECT_TRUE(vtbox::SessionIsOpen(&s));
    s.ConnectHandle = nullptr;
    EXPECT_FALSE(vtbox::SessionIsOpen(&s));
}

}  // namespace
