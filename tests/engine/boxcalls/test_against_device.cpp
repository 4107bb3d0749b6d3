// Every box service export against the simulated device.
#include <gtest/gtest.h>

#include <thread>

#include "debug_capture.hpp"
#include "devicesim/seeding.hpp"
#include "sim_device.hpp"
#include "transport/box_transport.hpp"
#include "vtplatform/text.hpp"

namespace {

using vttest::DebugCapture;
using vttest::SimDevice;

class AgainstDevice : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(vtBoxOpenConnection(&s), 0u); }
    void TearDown() override {
        if (s.ConnectHandle) vtBoxCloseConnection(&s);
    }
    SimDevice sim;
    VTMFPSESSION s = sim.Session();
};

std::string Name(const VTBOXELEMENT &e) {
    return vt::Utf16ToUtf8(vt::Utf16View(reinterpret_cast<const char16_t *>(e.Name), 128));
}

TEST_F(AgainstDevice, AWholeSessionOfCalls) {
    VTENGVERSION v;
    ASSERT_EQ(vtBoxGetEngineVersion(&s, "admin", &v), 0u);
    EXPECT_STREQ(v.EngineVersion, "Korvo-B V1.3.0.0");
    EXPECT_STREQ(v.MACAddress, "02:00:5E:10:20:30");

    uint32_t count = 0;
    VTBOX *boxes = nullptr;
    HGLOBAL list = vtBoxGetBoxList(&s, &count, &boxes);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(count, 3u);
    for (uint32_t i = 0; i < count; ++i) {
        EXPECT_EQ(boxes[i].BoxNo, i + 1);
        EXPECT_EQ(std::string(boxes[i].BoxName), devicesim::SeededBoxName(i + 1).substr(0, 255));
    }
    GlobalFree(list);

    VTBOXEX box{};
    char raw[256] = {};
    ASSERT_EQ(vtBoxGetBoxProperty(&s, 2, "admin", &box, raw), 0u);
    EXPECT_EQ(box.BoxNo, 2u);
    EXPECT_EQ(std::string(box.BoxName), devicesim::SeededBoxName(2));
    EXPECT_EQ(box.NumOfFolders, 2u);
    EXPECT_EQ(box.NumOfDocs, 9u);  // three at the top and three in each folder
    EXPECT_GT(box.BoxUsedDisk, 0u);

    uint32_t n = 0;
    VTBOXELEMENT *e = nullptr;
    HGLOBAL top = vtBoxGetCollection(&s, 2, "admin", 0, &n, &e);
    ASSERT_NE(top, nullptr) << GetLastError();
    ASSERT_EQ(n, 5u);
    EXPECT_EQ(e[0].Kind, 0u);
    EXPECT_EQ(e[1].Kind, 0u);
    EXPECT_EQ(Name(e[0]), devicesim::SeededFolderName(2, e[0].Id));
    for (uint32_t i = 2; i < n; ++i) {
        EXPECT_EQ(e[i].Kind, 1u);
        EXPECT_EQ(Name(e[i]), devicesim::SeededDocumentName(2, 0, e[i].Id));
        EXPECT_EQ(e[i].NumOfPages, 2u);
        EXPECT_EQ(e[i].DocSize % 1024, 0u);
    }
    uint32_t folder = e[0].Id, doc = e[2].Id;
    GlobalFree(top);

    HGLOBAL inner = vtBoxGetCollection(&s, 2, "admin", folder, &n, &e);
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(n, 3u);
    GlobalFree(inner);

    EXPECT_EQ(vtBoxDeleteDocument(&s, 2, "admin", 0, doc), 0u);
    top = vtBoxGetCollection(&s, 2, "admin", 0, &n, &e);
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(n, 4u);  // the store is the truth: the deleted document is gone
    GlobalFree(top);

    EXPECT_EQ(vtBoxDirSerialClusterChange(&s, 2, "admin", folder, 0, 2, 1), 0u);
    auto calls = sim.device->Records().serialChanges;
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].box, 2u);
    EXPECT_EQ(calls[0].folder, folder);
    EXPECT_EQ(calls[0].noc, 2u);
    EXPECT_EQ(calls[0].mod, 1u);

    uint32_t capacity = 0, available = 0;
    ASSERT_EQ(vtBoxGetBoxDiskSpace(&s, "admin", &capacity, &available), 0u);
    EXPECT_EQ(capacity, 1048576u);
    EXPECT_LT(available, capacity);

    uint32_t t = 0;
    ASSERT_EQ(vtBoxLockUiJob(&s, "admin", 1, &t), 0u);
    EXPECT_GT(t, 1600000000u);
    char login[256] = {};
    ASSERT_EQ(vtBoxCreateFTPAccount(&s, "admin", login), 0u);
    EXPECT_GT(std::strlen(login), 0u);
    EXPECT_EQ(vtBoxDeleteFTPAccount(&s, "admin"), 0u);
    EXPECT_EQ(vtBoxDeleteAllBox(&s, "admin"), 0u);
    EXPECT_EQ(vtBoxUnlockUiJob(&s, "admin", 1), 0u);
    list = vtBoxGetBoxList(&s, &count, &boxes);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(count, 0u);
    GlobalFree(list);

    EXPECT_EQ(vtBoxCloseConnection(&s), 0u);
    EXPECT_EQ(vtBoxCloseConnection(&s), 87u);
}

TEST_F(AgainstDevice, AWrongPasswordIs1216Everywhere) {
    VTENGVERSION v;
    VTBOXEX box{};
    uint32_t t = 0, n = 0, a = 0;
    char login[256];
    VTBOXELEMENT *e = nullptr;
    EXPECT_EQ(vtBoxGetEngineVersion(&s, "wrong", &v), 1216u);
    EXPECT_EQ(vtBoxGetBoxProperty(&s, 1, "wrong", &box, nullptr), 1216u);
    EXPECT_EQ(vtBoxGetCollection(&s, 1, "wrong", 0, &n, &e), nullptr);
    EXPECT_EQ(GetLastError(), 1216u);
    EXPECT_EQ(vtBoxLockUiJob(&s, "wrong", 0, &t), 1216u);
    EXPECT_EQ(vtBoxUnlockUiJob(&s, "wrong", 0), 1216u);
    EXPECT_EQ(vtBoxCreateFTPAccount(&s, "wrong", login), 1216u);
    EXPECT_EQ(vtBoxDeleteFTPAccount(&s, "wrong"), 1216u);
    EXPECT_EQ(vtBoxDeleteAllBox(&s, "wrong"), 1216u);
    EXPECT_EQ(vtBoxGetBoxDiskSpace(&s, "wrong", &n, &a), 1216u);
    EXPECT_EQ(vtBoxDeleteDocument(&s, 1, "wrong", 0, 1), 1216u);
    EXPECT_EQ(vtBoxDirSerialClusterChange(&s, 1, "wrong", 0, 0, 0, 0), 1216u);
}

TEST_F(AgainstDevice, AClosedRecordSendsNothing) {
    ASSERT_EQ(vtBoxCloseConnection(&s), 0u);
    size_t seen = sim.RequestCount();
    uint32_t n = 0;
    VTBOX *boxes = nullptr;
    VTBOXEX box{};
    EXPECT_EQ(vtBoxGetBoxList(&s, &n, &boxes), nullptr);
    EXPECT_EQ(GetLastError(), 87u);
    EXPECT_EQ(vtBoxGetBoxProperty(&s, 1, "admin", &box, nullptr), 87u);
    EXPECT_EQ(vtBoxDeleteAllBox(&s, "admin"), 87u);
    VTMFPSESSION never = sim.Session();
    EXPECT_EQ(vtBoxDeleteAllBox(&never, "admin"), 87u);
    EXPECT_EQ(sim.RequestCount(), seen);
}

TEST_F(AgainstDevice, ExclusiveModeHeldByAnotherSession) {
    VTMFPSESSION other = sim.Session();
    ASSERT_EQ(vtBoxOpenConnection(&other), 0u);
    uint32_t t = 0;
    ASSERT_EQ(vtBoxLockUiJob(&other, "admin", 0, &t), 0u);
    VTBOXEX box{};
    EXPECT_EQ(vtBoxLockUiJob(&s, "admin", 0, &t), 100u);
    EXPECT_EQ(vtBoxGetBoxProperty(&s, 1, "admin", &box, nullptr), 100u);
    EXPECT_EQ(vtBoxUnlockUiJob(&other, "admin", 0), 0u);
    EXPECT_EQ(vtBoxGetBoxProperty(&s, 1, "admin", &box, nullptr), 0u);
    vtBoxCloseConnection(&other);
}

TEST(AgainstDeviceBusy, Http503Is100WithItsLine) {
    vttest::SimOptions o;
    o.busyAsHttp503 = true;
    SimDevice sim(o);
    VTMFPSESSION a = sim.Session(), b = sim.Session();
    ASSERT_EQ(vtBoxOpenConnection(&a), 0u);
    ASSERT_EQ(vtBoxOpenConnection(&b), 0u);
    uint32_t t = 0;
    ASSERT_EQ(vtBoxLockUiJob(&a, "admin", 1, &t), 0u);
    DebugCapture cap;
    EXPECT_EQ(vtBoxLockUiJob(&b, "admin", 1, &t), 100u);
    EXPECT_NE(cap.text().find("Backup Restore Mode is already ON....!!!"), std::string::npos);
    vtBoxUnlockUiJob(&a, "admin", 1);
    vtBoxCloseConnection(&a);
    vtBoxCloseConnection(&b);
}

TEST_F(AgainstDevice, FaultsTheDeviceCanShow) {
    uint32_t n = 0;
    VTBOX *boxes = nullptr;
    sim.faults().MalformedReply("boxnwGetBoxList", 1);
    EXPECT_EQ(vtBoxGetBoxList(&s, &n, &boxes), nullptr);
    EXPECT_EQ(GetLastError(), 13u);
    sim.faults().ForceResult("boxnwGetBoxList", 201, 1);
    EXPECT_EQ(vtBoxGetBoxList(&s, &n, &boxes), nullptr);
    EXPECT_EQ(GetLastError(), 170u);
    sim.faults().ForceHttpStatus("boxnwDeleteAllBox", 404, 1);
    EXPECT_EQ(vtBoxDeleteAllBox(&s, "admin"), 2u);
    VTBOXEX box{};
    EXPECT_EQ(vtBoxGetBoxProperty(&s, 77, "admin", &box, nullptr), 161u);  // no such box
}

TEST_F(AgainstDevice, ADeviceGoingSilentMidRequestIsFoundByPolling) {
    vtbox::SetPollPeriodMsForTesting(500);
    sim.faults().GoSilentOn("boxnwGetBoxList", 60);
    uint32_t n = 0;
    VTBOX *boxes = nullptr;
    DebugCapture cap;
    EXPECT_EQ(vtBoxGetBoxList(&s, &n, &boxes), nullptr);
    EXPECT_EQ(GetLastError(), 12004u);
    vtbox::SetPollPeriodMsForTesting(30000);
    EXPECT_NE(cap.text().find("Polling the WebSite URL"), std::string::npos);
    sim.faults().Resume();
}

TEST(AgainstNoDevice, OpeningWhereNothingListensIs4319) {
    VTMFPSESSION s;
    {
        SimDevice sim;
        s = sim.Session();
    }
    EXPECT_EQ(vtBoxOpenConnection(&s), 4319u);
    EXPECT_EQ(s.ConnectHandle, nullptr);
    EXPECT_EQ(s.SessionId, 0u);
}

}  // namespace

namespace {

// A password with every character that means something in a query, a blank
// and UTF-8 text: each page that carries it must get it whole, and no part
// of it may reach the request log.
TEST(AgainstDeviceAwkwardPassword, EveryPageTakesItAndTheLogHidesIt) {
    const std::string password = "a&b%2=c+d #e\xC3\xA9&PWD=x";
    vttest::SimOptions o;
    o.password = password;
    SimDevice sim(o);
    VTMFPSESSION s = sim.Session();
    DebugCapture log;
    ASSERT_EQ(vtBoxOpenConnection(&s), 0u);
    VTENGVERSION v;
    VTBOXEX box{};
    uint32_t t = 0, n = 0, a = 0;
    char login[256];
    VTBOXELEMENT *e = nullptr;
    EXPECT_EQ(vtBoxGetEngineVersion(&s, password.c_str(), &v), 0u);
    EXPECT_EQ(vtBoxGetBoxProperty(&s, 1, password.c_str(), &box, nullptr), 0u);
    HGLOBAL list = vtBoxGetCollection(&s, 1, password.c_str(), 0, &n, &e);
    EXPECT_NE(list, nullptr);
    if (list) GlobalFree(list);
    EXPECT_EQ(vtBoxGetBoxDiskSpace(&s, password.c_str(), &n, &a), 0u);
    EXPECT_EQ(vtBoxLockUiJob(&s, password.c_str(), 0, &t), 0u);
    EXPECT_EQ(vtBoxCreateFTPAccount(&s, password.c_str(), login), 0u);
    EXPECT_EQ(vtBoxDeleteFTPAccount(&s, password.c_str()), 0u);
    EXPECT_EQ(vtBoxUnlockUiJob(&s, password.c_str(), 0), 0u);
    EXPECT_EQ(vtBoxCloseConnection(&s), 0u);

    std::string text = log.text();
    EXPECT_NE(text.find("PWD=XXXXXX\n"), std::string::npos) << text;
    for (const char *part : {"a&b", "%2=c", "c+d", "#e", "\xC3\xA9", "a%26b", "%C3%A9", "%2B"})
        EXPECT_EQ(text.find(part), std::string::npos) << part << " shows in\n" << text;
}

}  // namespace
