#include <gtest/gtest.h>

#include <thread>

#include "canned_device.hpp"
#include "closed_port.hpp"
#include "debug_capture.hpp"
#include "session/waits.hpp"
#include "temp_dir.hpp"
#include "transport/box_transport.hpp"
#include "vtregistry.h"

namespace {

using vttest::CannedDevice;
using vttest::CannedReply;
using vttest::DebugCapture;
using vttest::Ok;
using vttest::Reply;

std::string ConnectReply(const std::string &version, const std::string &sid = "1234") {
    return Reply("<Result>0</Result><SessionInfo><WebSessionID>" + sid + "</WebSessionID></SessionInfo>", version);
}

class SessionCalls : public ::testing::Test {
protected:
    vttest::TempDir registry;
    vttest::ScopedEnv env{"VTBOX_REGISTRY_DIR", registry.path()};
    CannedDevice device;
    VTMFPSESSION s = device.Session();
};

TEST_F(SessionCalls, OpenFillsTheRecordAndCloseClearsItOnceThen87) {
    DebugCapture cap;
    ASSERT_EQ(vtBoxOpenConnection(&s), 0u);
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_NE(s.InternetHandle, nullptr);
    EXPECT_NE(s.ConnectHandle, nullptr);
    EXPECT_EQ(s.SessionId, 1234u);
    EXPECT_NE(cap.text().find("vtBoxOpenConnection() called\n"), std::string::npos);
    EXPECT_NE(cap.text().find("http://127.0.0.1:" + std::to_string(s.Port) + "/VaultraBox/boxnwConnect\n"),
              std::string::npos);

    EXPECT_EQ(vtBoxCloseConnection(&s), 0u);
    EXPECT_EQ(s.InternetHandle, nullptr);
    EXPECT_EQ(s.ConnectHandle, nullptr);
    EXPECT_EQ(s.SessionId, 0u);
    EXPECT_EQ(device.server->requests().back(), "/VaultraBox/boxnwDisconnect?SID=00001234");
    size_t before = device.server->requests().size();
    EXPECT_EQ(vtBoxCloseConnection(&s), 87u);
    EXPECT_EQ(device.server->requests().size(), before);
    // HTTP/1.0 GET with the designed agent name.
    EXPECT_EQ(device.server->heads()[0].rfind("GET /VaultraBox/boxnwConnect HTTP/1.0\r\n", 0), 0u);
    EXPECT_NE(device.server->heads()[0].find("User-Agent: vtBoxFTPAcs"), std::string::npos);
}

TEST_F(SessionCalls, NullOrClosedRecordsGive87AndSendNothing) {
    DebugCapture cap;
    EXPECT_EQ(vtBoxOpenConnection(nullptr), 87u);
    EXPECT_NE(cap.text().find("vtBoxOpenConnection() called\n"), std::string::npos);
    VTENGVERSION v;
    char login[256];
    uint32_t t = 77, cap1 = 0, avail = 0, count = 0;
    VTBOX *boxes = nullptr;
    VTBOXELEMENT *elements = nullptr;
    VTBOXEX ex{};
    for (VTMFPSESSION *rec : {static_cast<VTMFPSESSION *>(nullptr), &s}) {
        EXPECT_EQ(vtBoxCloseConnection(rec), 87u);
        EXPECT_EQ(vtBoxGetEngineVersion(rec, "pw", &v), 87u);
        EXPECT_EQ(vtBoxLockUiJob(rec, "pw", 0, &t), 87u);
        EXPECT_EQ(t, 77u);  // untouched
        EXPECT_EQ(vtBoxUnlockUiJob(rec, "pw", 0), 87u);
        EXPECT_EQ(vtBoxCreateFTPAccount(rec, "pw", login), 87u);
        EXPECT_EQ(vtBoxDeleteFTPAccount(rec, "pw"), 87u);
        EXPECT_EQ(vtBoxGetBoxList(rec, &count, &boxes), nullptr);
        EXPECT_EQ(GetLastError(), 87u);
        EXPECT_EQ(vtBoxGetBoxProperty(rec, 1, "pw", &ex, nullptr), 87u);
        EXPECT_EQ(vtBoxDeleteAllBox(rec, "pw"), 87u);
        EXPECT_EQ(vtBoxGetBoxDiskSpace(rec, "pw", &cap1, &avail), 87u);
        EXPECT_EQ(vtBoxGetCollection(rec, 1, "pw", 0, &count, &elements), nullptr);
        EXPECT_EQ(GetLastError(), 87u);
        EXPECT_EQ(vtBoxDeleteDocument(rec, 1, "pw", 0, 3), 87u);
        EXPECT_EQ(vtBoxDirSerialClusterChange(rec, 1, "pw", 0, 0, 2, 1), 87u);
    }
    // A record with a session number but no connection is not open either.
    s.SessionId = 5;
    EXPECT_EQ(vtBoxDeleteAllBox(&s, "pw"), 87u);
    EXPECT_TRUE(device.server->requests().empty());
    EXPECT_EQ(cap.text().find("Failed With"), std::string::npos);
}

TEST_F(SessionCalls, OldNewAndUnnumberedVersionsAreRefusedAndLeaveTheRecordClosed) {
    struct Case {
        std::string version;
        uint32_t code;
        const char *line;
    } cases[] = {
        {"Korvo-B V1.2.0.0", 50, "Vaultra Version \"Korvo-B V1.2.0.0\" is Old and Unsupported \n"},
        {"build Korvo-A V1.1.0.0 (x)", 50, "is Old and Unsupported"},
        {"Korvo-B V2.0.0.0", 1605, "Vaultra Version \"Korvo-B V2.0.0.0\" is New and Unsupported \n"},
        {"Korvo-B 1.3", 1605, "has no version number and is Unsupported"},
    };
    for (const Case &c : cases) {
        device.Answer("boxnwConnect", ConnectReply(c.version));
        DebugCapture cap;
        VTMFPSESSION rec = device.Session();
        EXPECT_EQ(vtBoxOpenConnection(&rec), c.code) << c.version;
        EXPECT_EQ(rec.ConnectHandle, nullptr);
        EXPECT_EQ(rec.InternetHandle, nullptr);
        EXPECT_EQ(rec.SessionId, 0u);
        EXPECT_NE(cap.text().find(c.line), std::string::npos) << cap.text();
        EXPECT_NE(cap.text().find("vtBoxOpenConnection Failed With ERROR - " + std::to_string(c.code)),
                  std::string::npos);
    }
    EXPECT_EQ(device.Count("boxnwDisconnect"), 4);
    device.Answer("boxnwConnect", ConnectReply("Korvo-B V1.3.0.0"));
    EXPECT_EQ(vtBoxOpenConnection(&s), 0u);
    vtBoxCloseConnection(&s);
}

TEST_F(SessionCalls, ABadConnectReplyKeepsTheHandlesForClose) {
    device.Answer("boxnwConnect", "<BoxNwLib><Message>");
    EXPECT_EQ(vtBoxOpenConnection(&s), 13u);
    EXPECT_NE(s.ConnectHandle, nullptr);
    EXPECT_EQ(s.SessionId, 1u);
    EXPECT_EQ(vtBoxCloseConnection(&s), 0u);
    EXPECT_EQ(s.ConnectHandle, nullptr);

    device.Answer("boxnwConnect", "<BoxNwLib><Message><Result>0</Result></Message></BoxNwLib>");
    EXPECT_EQ(vtBoxOpenConnection(&s), 11u);  // no header
    device.Answer("boxnwDisconnect", Reply("<Result>202</Result>"));
    EXPECT_EQ(vtBoxCloseConnection(&s), 1460u);
    EXPECT_EQ(s.ConnectHandle, nullptr);  // cleared whatever the device says
    EXPECT_EQ(s.InternetHandle, nullptr);
    EXPECT_EQ(s.SessionId, 0u);
}

TEST_F(SessionCalls, ASessionNumberThatIsZeroOrNoNumberFailsTheOpenAndClosesLocally) {
    for (const char *sid : {"0", "00000000", "abc", "", "4294967296", "-3"}) {
        device.Answer("boxnwConnect", ConnectReply("Korvo-B V1.3.0.0", sid));
        VTMFPSESSION rec = device.Session();
        EXPECT_EQ(vtBoxOpenConnection(&rec), 11u) << sid;
        EXPECT_EQ(rec.ConnectHandle, nullptr) << sid;
        EXPECT_EQ(rec.InternetHandle, nullptr) << sid;
        EXPECT_EQ(rec.SessionId, 0u) << sid;
        EXPECT_NE(std::string(vtBoxGetLastErrorText()).find("WebSessionID"), std::string::npos);
    }
    EXPECT_EQ(device.Count("boxnwDisconnect"), 0);  // no number to end on the device
    device.Answer("boxnwConnect", ConnectReply("Korvo-B V1.3.0.0", " 42 "));
    EXPECT_EQ(vtBoxOpenConnection(&s), 0u);
    EXPECT_EQ(s.SessionId, 42u);
    vtBoxCloseConnection(&s);
}

TEST_F(SessionCalls, ADeviceThatIsNotThereGives4319) {
    VTMFPSESSION rec{};
    std::strcpy(rec.Host, "127.0.0.1");
    vttest::ClosedPort closed;
    rec.Port = closed.port();
    DebugCapture cap;
    EXPECT_EQ(vtBoxOpenConnection(&rec), 4319u);
    EXPECT_EQ(rec.ConnectHandle, nullptr);
    EXPECT_EQ(rec.SessionId, 0u);
    EXPECT_NE(cap.text().find("HttpSendRequest Failed With ERROR - 12029"), std::string::npos);
}

TEST_F(SessionCalls, AnOfflineComputerGives2250BeforeAnyHandle) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, vtbox::kInternetSettingsKey, 0, nullptr, 0, 0, nullptr, &key, nullptr),
              0);
    DWORD one = 1;
    RegSetValueExA(key, vtbox::kOfflineValue, 0, REG_DWORD, reinterpret_cast<uint8_t *>(&one), 4);
    RegCloseKey(key);
    EXPECT_EQ(vtBoxOpenConnection(&s), 2250u);
    EXPECT_EQ(s.InternetHandle, nullptr);
    EXPECT_TRUE(device.server->requests().empty());
}

TEST_F(SessionCalls, EngineVersionPasswordAndAccountCalls) {
    ASSERT_EQ(vtBoxOpenConnection(&s), 0u);
    device.Answer("boxnwGetEngineVersion",
                  Ok("<VersionInfo><EngineVersion>Korvo-B V1.3.0.0</EngineVersion></VersionInfo>"
                     "<MACAddress>00:11:22:33:44:55</MACAddress>"));
    VTENGVERSION v;
    std::memset(&v, 'z', sizeof v);
    DebugCapture cap;
    EXPECT_EQ(vtBoxGetEngineVersion(&s, nullptr, &v), 0u);
    EXPECT_STREQ(v.EngineVersion, "Korvo-B V1.3.0.0");
    EXPECT_STREQ(v.MACAddress, "00:11:22:33:44:55");
    EXPECT_EQ(device.server->requests().back(), "/VaultraBox/Admin/boxnwGetEngineVersion?SID=00001234&PWD=");
    EXPECT_NE(cap.text().find("Korvo-B V1.3.0.0"), std::string::npos);

    device.Answer("boxnwGetEngineVersion", Reply("<Result>2</Result>"));
    EXPECT_EQ(vtBoxGetEngineVersion(&s, "wrong", &v), 1216u);
    device.Answer("boxnwGetEngineVersion", Reply("<Result>210</Result>"));
    EXPECT_EQ(vtBoxGetEngineVersion(&s, "wrong", &v), 1216u);

    device.Answer("boxnwBoxExModeIn", Ok("<CurrentTime>1700000000</CurrentTime>"));
    uint32_t t = 5;
    EXPECT_EQ(vtBoxLockUiJob(&s, "admin", 1, &t), 0u);
    EXPECT_EQ(t, 1700000000u);
    EXPECT_EQ(device.server->requests().back(), "/VaultraBox/Admin/boxnwBoxExModeIn?SID=00001234&PWD=admin&MOD=1");
    device.Answer("boxnwBoxExModeIn", Reply("<Result>211</Result>"));
    EXPECT_EQ(vtBoxLockUiJob(&s, "admin", 0, &t), 100u);
    EXPECT_EQ(t, 0u);  // a device failure leaves the time at 0
    device.Answer("boxnwBoxExModeIn", "", 503);
    cap.clear();
    EXPECT_EQ(vtBoxLockUiJob(&s, "admin", 0, &t), 100u);
    EXPECT_NE(cap.text().find("Backup Restore Mode is already ON"), std::string::npos);

    device.Answer("boxnwBoxExModeOut", Ok());
    EXPECT_EQ(vtBoxUnlockUiJob(&s, "admin", 0), 0u);

    device.Answer("boxnwCreateFTPAccount", Ok("<LoginName>" + std::string(300, 'u') + "</LoginName>"));
    char login[256];
    EXPECT_EQ(vtBoxCreateFTPAccount(&s, "admin", login), 0u);
    EXPECT_EQ(std::strlen(login), 255u);  // cut to the buffer, never past it
    device.Answer("boxnwCreateFTPAccount", Reply("<Result>500</Result>"));
    EXPECT_EQ(vtBoxCreateFTPAccount(&s, "admin", login), 1371u);
    device.Answer("boxnwDeleteFTPAccount", Reply("<Result>501</Result>"));
    EXPECT_EQ(vtBoxDeleteFTPAccount(&s, "admin"), 1371u);
    device.Answer("boxnwDeleteFTPAccount", Ok());
    EXPECT_EQ(vtBoxDeleteFTPAccount(&s, "admin"), 0u);
    vtBoxCloseConnection(&s);
}

TEST_F(SessionCalls, HttpStatusesBecomeTheirCodes) {
    ASSERT_EQ(vtBoxOpenConnection(&s), 0u);
    for (auto [status, code] :
         {std::pair{404, 2u}, {302, 12u}, {600, 12004u}, {500, 58u}, {405, 50u}, {400, 87u}, {199, 58u}}) {
        device.Answer("boxnwDeleteAllBox", "", status);
        EXPECT_EQ(vtBoxDeleteAllBox(&s, "admin"), code) << status;
    }
    vtBoxCloseConnection(&s);
}

TEST_F(SessionCalls, ADeviceGoingSilentIsFoundByThePolling) {
    ASSERT_EQ(vtBoxOpenConnection(&s), 0u);
    vtbox::SetPollPeriodMsForTesting(300);
    device.pages["boxnwDeleteAllBox"] = [](const std::string &) {
        CannedReply r;
        r.goSilent = true;
        return r;
    };
    DebugCapture cap;
    EXPECT_EQ(vtBoxDeleteAllBox(&s, "admin"), 12004u);
    vtbox::SetPollPeriodMsForTesting(30000);
    EXPECT_NE(cap.text().find("\n Polling the WebSite URL for connection...\n"), std::string::npos);
    EXPECT_NE(cap.text().find("\n Polling Complete...\n"), std::string::npos);
    EXPECT_NE(cap.text().find("HttpSendRequest Failed With ERROR - 12004"), std::string::npos);
    vtBoxCloseConnection(&s);
}

TEST_F(SessionCalls, ASlowDeviceThatStillAnswersIsWaitedFor) {
    ASSERT_EQ(vtBoxOpenConnection(&s), 0u);
    vtbox::SetPollPeriodMsForTesting(100);
    device.pages["boxnwDeleteAllBox"] = [](const std::string &) {
        CannedReply r{200, Ok()};
        r.delayMs = 700;
        return r;
    };
    DebugCapture cap;
    EXPECT_EQ(vtBoxDeleteAllBox(&s, "admin"), 0u);
    vtbox::SetPollPeriodMsForTesting(30000);
    EXPECT_NE(cap.text().find("Polling Complete"), std::string::npos);
    vtBoxCloseConnection(&s);
}

}  // namespace

namespace {

// Replies an attacker shapes: one that never ends, one that trickles a byte
// at a time (each byte restarts the silence limit), and a cancel that lands
// while a body is being read.
TEST_F(SessionCalls, RepliesWithoutEndAreBoundedBySizeAndByDeadline) {
    ASSERT_EQ(vtBoxOpenConnection(&s), 0u);
    device.pages["boxnwGetBoxList"] = [](const std::string &) {
        CannedReply r{200, std::string(65536, ' ')};
        r.endless = true;
        return r;
    };
    uint32_t count = 0;
    VTBOX *boxes = nullptr;
    EXPECT_EQ(vtBoxGetBoxList(&s, &count, &boxes), nullptr);
    EXPECT_EQ(GetLastError(), 13u);
    EXPECT_NE(std::string(vtBoxGetLastErrorText()).find("MiB"), std::string::npos) << vtBoxGetLastErrorText();

    // 1,600 bytes at 20 ms each would take half a minute, and no pause comes
    // near the page's limit, cut to 3 s (a thread of a loaded machine may
    // stall for a second): the whole reply is due within 6 s.
    vtbox::SetNetworkTimeoutCapForTesting(3000);
    device.pages["boxnwDeleteAllBox"] = [](const std::string &) {
        CannedReply r{200, Ok() + std::string(1500, ' ')};
        r.trickleMs = 20;
        return r;
    };
    uint32_t rc = vtBoxDeleteAllBox(&s, "admin");
    vtbox::SetNetworkTimeoutCapForTesting(0);
    EXPECT_TRUE(rc == 12002u || rc == 12004u) << rc;
    EXPECT_NE(std::string(vtBoxGetLastErrorText()).find("within 6 s"), std::string::npos) << vtBoxGetLastErrorText();

    HANDLE cancel = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_EQ(vtBoxSetRequestCancelEvent(&s, cancel), 0u);
    device.pages["boxnwDeleteAllBox"] = [](const std::string &) {
        CannedReply r{200, Ok() + std::string(5000, ' ')};
        r.trickleMs = 5;  // the body takes 25 s
        return r;
    };
    std::thread stop([cancel] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        SetEvent(cancel);
    });
    EXPECT_EQ(vtBoxDeleteAllBox(&s, "admin"), 995u);
    stop.join();
    vtBoxSetRequestCancelEvent(&s, nullptr);
    CloseHandle(cancel);
    vtBoxCloseConnection(&s);
}

}  // namespace
