// Every fault, switched on in-process and observed by curl or ftplib.
#include <chrono>
#include <future>
#include <thread>

#include "sim_support.hpp"

namespace simtest {
namespace {

class Faults : public DeviceTest {
protected:
    void SetUp() override { StartDevice(); }
    devicesim::Faults &F() { return device->GetFaults(); }
    std::string BoxList(const std::string &sid) { return Admin("boxnwGetBoxList", "SID=" + sid); }
    // curl's exit code for a request that may never be answered.
    int CurlExit(const std::string &url, int maxSeconds) {
        return Shell("curl -s -0 -o /dev/null --max-time " + std::to_string(maxSeconds) + " " + Quote(url)).exitCode;
    }
    std::string FtpLogin() {
        if (login.empty()) login = CreateAccount(Connect());
        return "login:" + login + ":admin";
    }
    std::string login;
};

TEST_F(Faults, ForcedResultForOnePageOnceOrAlways) {
    const std::string sid = Connect();
    F().ForceResult("boxnwGetBoxList", 205, 1);
    EXPECT_EQ(Page(BoxList(sid), {"Message/Result", "Header/Version", "Message/Boxes@NumOfBoxes"}),
              (std::vector<std::string>{"205", "Korvo-B V1.3.0.0", "<missing>"}));
    EXPECT_EQ(Page(BoxList(sid), {"Message/Result"}).at(0), "0");

    // A forced refusal does not run the page.
    F().ForceResult("boxnwDeleteAllBox", 400, 1);
    EXPECT_EQ(Page(Admin("boxnwDeleteAllBox", "SID=" + sid + "&PWD=admin"), {"Message/Result"}).at(0), "400");
    EXPECT_EQ(Page(BoxList(sid), {"Message/Boxes@NumOfBoxes"}).at(0), "3");
    F().ForceResult("*", 7);
    EXPECT_EQ(Page(Url("/VaultraBox/boxnwConnect"), {"Message/Result"}).at(0), "7");
    EXPECT_EQ(Page(BoxList(sid), {"Message/Result"}).at(0), "7");
    F().Clear();
    EXPECT_EQ(Page(BoxList(sid), {"Message/Boxes@NumOfBoxes"}).at(0), "3");
}

TEST_F(Faults, ForcedHttpStatus) {
    const std::string sid = Connect();
    F().ForceHttpStatus("boxnwGetBoxList", 503, 2);
    EXPECT_EQ(Status(BoxList(sid)), 503);
    EXPECT_EQ(Status(BoxList(sid)), 503);
    EXPECT_EQ(Status(BoxList(sid)), 200);
    F().ForceHttpStatus("boxnwConnect", 302);
    EXPECT_EQ(Status(Url("/VaultraBox/boxnwConnect")), 302);
    F().ForceHttpStatus("vtb.asp", 600);
    EXPECT_EQ(Status(Url("/VaultraBox/vtb.asp?")), 600);
}

TEST_F(Faults, MalformedReply) {
    const std::string sid = Connect();
    F().MalformedReply("boxnwGetBoxList", 1);
    auto broken = Page(BoxList(sid), {"Message/Result"});
    ASSERT_FALSE(broken.empty());
    EXPECT_EQ(broken[0].rfind("PARSE-ERROR", 0), 0u) << broken[0];
    EXPECT_EQ(Page(BoxList(sid), {"Message/Result"}).at(0), "0");
}

TEST_F(Faults, DelayedReply) {
    const std::string sid = Connect();
    F().DelayReply("boxnwGetBoxList", 3, 1);
    EXPECT_EQ(CurlExit(BoxList(sid), 1), 28);  // curl gave up waiting
    EXPECT_EQ(CurlExit(BoxList(sid), 20), 0);
}

TEST_F(Faults, DeviceGoesSilentMidRequest) {
    const std::string sid = Connect();
    const std::string poll = Url("/VaultraBox/vtb.asp?");
    F().GoSilentOn("boxnwGetBoxList", 0);
    auto pending = std::async(std::launch::async, [&] { return CurlExit(BoxList(sid), 60); });
    while (!F().Silent()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    // The polling page is no longer reached: connections are refused (curl 7).
    int pollExit = 0;
    for (int i = 0; i < 200 && pollExit != 7; ++i) {
        pollExit = CurlExit(poll, 5);
        if (pollExit != 7) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(pollExit, 7);
    EXPECT_EQ(pending.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    F().Resume();
    // The held request ends without an answer (curl 52: empty reply).
    EXPECT_EQ(pending.get(), 52);
    int back = 1;
    for (int i = 0; i < 200 && back != 0; ++i) {
        back = CurlExit(poll, 5);
        if (back != 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(back, 0);
}

TEST_F(Faults, FtpDataConnectionDroppedMidTransfer) {
    const std::string page = "/SHR/BOX/DATA/B0000001/P0000001/D0000001/PAGE0001.DAT";
    F().DropDataConnection(2, 1000);
    auto out = Ftp({FtpLogin(), "get:" + page, "get:" + page, "get:" + page});
    ASSERT_EQ(out.size(), 8u) << out.back();
    EXPECT_EQ(out[2], "GOT 8192");
    EXPECT_EQ(out[4], "GOT 1000");
    EXPECT_EQ(out[5].rfind("ERR 426", 0), 0u) << out[5];
    EXPECT_EQ(out[6], "GOT 8192");

    // An upload cut short leaves no file behind.
    WriteFile(dir.Path() / "big", std::string(100000, 'u'));
    F().DropDataConnection(1);
    out = Ftp({FtpLogin(), "put:/SHR/BOX/up.bin:" + (dir.Path() / "big").string()});
    EXPECT_TRUE(Contains(out, "ERR")) << out.back();
    EXPECT_FALSE(fs::exists(Store() / "SHR/BOX/up.bin"));
}

TEST_F(Faults, Stor552OnceThenAccepted) {
    WriteFile(dir.Path() / "f", "data");
    const std::string put = "put:/SHR/BOX/f.bin:" + (dir.Path() / "f").string();
    F().FailStor(552, 2, false);
    auto out = Ftp({FtpLogin(), put, put, put, put});
    ASSERT_EQ(out.size(), 6u);
    EXPECT_EQ(out[2], "226 Transfer complete.");
    EXPECT_EQ(out[3], "ERR 552 Requested file action aborted.");
    EXPECT_EQ(out[4], "226 Transfer complete.");
    EXPECT_EQ(out[5], "226 Transfer complete.");
}

TEST_F(Faults, Stor552AlwaysAndStor451) {
    WriteFile(dir.Path() / "f", "data");
    const std::string put = "put:/SHR/BOX/f.bin:" + (dir.Path() / "f").string();
    F().FailStor(552, 2, true);
    auto out = Ftp({FtpLogin(), put, put, put});
    ASSERT_EQ(out.size(), 5u);
    EXPECT_EQ(out[2], "226 Transfer complete.");
    EXPECT_EQ(out[3], "ERR 552 Requested file action aborted.");
    EXPECT_EQ(out[4], "ERR 552 Requested file action aborted.");

    F().FailStor(451, 1, false);
    out = Ftp({FtpLogin(), put, put});
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[2].rfind("ERR 451 Requested action aborted", 0), 0u) << out[2];
    EXPECT_EQ(out[3], "226 Transfer complete.");
}

TEST_F(Faults, RefusedLoginAndFolderCreation) {
    const std::string loginOp = FtpLogin();
    F().RefuseLogin(1);
    EXPECT_TRUE(Contains(Ftp({loginOp}), "ERR 530"));
    EXPECT_TRUE(Contains(Ftp({loginOp}), "230"));

    F().RefuseFolderCreation(devicesim::kAlways);
    auto out = Ftp({loginOp, "raw:MKD /SHR/BOX/N1", "raw:MKD /SHR/BOX/N2"});
    EXPECT_EQ(out.at(2), "ERR 550 Create directory operation failed.");
    EXPECT_EQ(out.at(3), "ERR 550 Create directory operation failed.");
    EXPECT_FALSE(fs::exists(Store() / "SHR/BOX/N1"));
    F().Clear();
    EXPECT_TRUE(Contains(Ftp({loginOp, "raw:MKD /SHR/BOX/N1"}), "257"));
}

TEST_F(Faults, FrozenFtpServerAcceptsButAnswersNothingUntilThawed) {
    const std::string loginOp = FtpLogin();
    const std::string sid = Connect();
    F().Freeze(devicesim::FreezeScope::Ftp, 0);
    auto login = std::async(std::launch::async, [&] { return Ftp({loginOp, "raw:PWD"}); });
    EXPECT_EQ(login.wait_for(std::chrono::seconds(1)), std::future_status::timeout);
    EXPECT_EQ(Status(BoxList(sid)), 200);  // the web service goes on
    F().Thaw();
    auto out = login.get();
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].rfind("WELCOME 220", 0), 0u);
    EXPECT_EQ(out[2], "257 \"/\" is the current directory.");
}

TEST_F(Faults, TransferStallsWhereTheFreezeBeginsAndGoesOnAfter) {
    const std::string page = "/SHR/BOX/DATA/B0000001/P0000001/D0000001/PAGE0001.DAT";
    const std::string loginOp = FtpLogin();
    F().FreezeInTransfer(devicesim::FreezeScope::Ftp, 2, 3000, 0);
    auto out = std::async(std::launch::async, [&] {
        return Ftp({loginOp, "get:" + page, "get:" + page, "get:" + page});
    });
    for (int i = 0; i < 2000 && !F().Frozen(false); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(F().Frozen(false));  // the second transfer reached byte 3000
    EXPECT_EQ(out.wait_for(std::chrono::milliseconds(500)), std::future_status::timeout);
    F().Thaw();
    EXPECT_EQ(out.get(), (std::vector<std::string>{Ftp({loginOp}).at(0), "230 User logged in.", "GOT 8192",
                                                   "226 Transfer complete.", "GOT 8192", "226 Transfer complete.",
                                                   "GOT 8192", "226 Transfer complete."}));
}

TEST_F(Faults, FrozenDeviceHoldsRequestsAndTheControlPageStillAnswers) {
    const std::string sid = Connect();
    const std::string loginOp = FtpLogin();
    F().FreezeOn("boxnwGetBoxList", devicesim::FreezeScope::Device, 0);
    auto held = std::async(std::launch::async, [&] { return CurlExit(BoxList(sid), 60); });
    while (!F().Frozen(true)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    // Connections are accepted, as by a stopped process, and stay unanswered (28, not 7).
    EXPECT_EQ(CurlExit(Url("/VaultraBox/vtb.asp?"), 1), 28);
    auto ftp = std::async(std::launch::async, [&] { return Ftp({loginOp}); });
    EXPECT_EQ(ftp.wait_for(std::chrono::milliseconds(500)), std::future_status::timeout);
    EXPECT_EQ(Status(Url("/devicesim/records")), 200);
    EXPECT_EQ(held.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    F().Thaw();
    EXPECT_EQ(held.get(), 0);  // answered once the device goes on
    EXPECT_TRUE(Contains(ftp.get(), "230 User logged in."));
}

// The faults that follow a page start only once its reply is out: the page
// did its work and the client heard of it.
TEST_F(Faults, FaultsAfterAPageStartOnceItIsAnswered) {
    const std::string sid = Connect();
    const std::string page = "/SHR/BOX/DATA/B0000001/P0000001/D0000001/PAGE0001.DAT";
    const std::string loginOp = FtpLogin();
    F().DropDataConnectionAfter("boxnwGetBoxList", 2, 1000);
    F().FreezeAfter("boxnwGetBoxList", devicesim::FreezeScope::Ftp, 0);
    EXPECT_EQ(Ftp({loginOp, "get:" + page}).at(2), "GOT 8192");  // nothing armed yet
    EXPECT_FALSE(F().Frozen(false));
    EXPECT_EQ(Page(BoxList(sid), {"Message/Result"}).at(0), "0");  // answered in full
    EXPECT_TRUE(F().Frozen(false));
    EXPECT_FALSE(F().Frozen(true));
    auto out = std::async(std::launch::async, [&] { return Ftp({loginOp, "get:" + page, "get:" + page}); });
    EXPECT_EQ(out.wait_for(std::chrono::milliseconds(500)), std::future_status::timeout);
    F().Thaw();
    auto got = out.get();
    ASSERT_EQ(got.size(), 6u);
    EXPECT_EQ(got[2], "GOT 8192");
    EXPECT_EQ(got[4], "GOT 1000");  // the drop counted from the page on
    EXPECT_EQ(got[5].rfind("ERR 426", 0), 0u) << got[5];
    // Each starts once.
    EXPECT_EQ(Page(BoxList(sid), {"Message/Result"}).at(0), "0");
    EXPECT_FALSE(F().Frozen(false));
    EXPECT_EQ(Ftp({loginOp, "get:" + page}).at(2), "GOT 8192");
}

TEST_F(Faults, StoppingEndsAFreeze) {
    const std::string sid = Connect();
    // The freeze begins with the request, so that the device is known to
    // hold it (it is recorded first) before it is stopped, however slowly
    // curl starts.
    F().FreezeOn("boxnwGetBoxList", devicesim::FreezeScope::Device, 0);
    auto held = std::async(std::launch::async, [&] { return CurlExit(BoxList(sid), 60); });
    auto seen = [&] {
        for (const auto &t : device->Records().httpRequests)
            if (t.find("boxnwGetBoxList") != std::string::npos) return true;
        return false;
    };
    for (int i = 0; i < 3000 && !seen(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(seen());
    ASSERT_TRUE(F().Frozen(true));
    const auto start = std::chrono::steady_clock::now();
    device->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(held.get(), 52);  // closed without an answer
}

TEST_F(Faults, RefusedDeletion) {
    WriteFile(dir.Path() / "f", "data");
    const std::string loginOp = FtpLogin();
    fs::create_directories(Store() / "SHR/BOX/empty");
    F().RefuseDeletion(2);
    auto out = Ftp({loginOp, "put:/SHR/BOX/f.bin:" + (dir.Path() / "f").string(), "raw:DELE /SHR/BOX/f.bin",
                    "raw:RMD /SHR/BOX/empty", "raw:DELE /SHR/BOX/f.bin", "raw:RMD /SHR/BOX/empty"});
    ASSERT_EQ(out.size(), 7u);
    EXPECT_EQ(out[3], "ERR 550 Delete operation failed.");
    EXPECT_EQ(out[4], "ERR 550 Remove directory operation failed.");
    EXPECT_EQ(out[5], "250 Delete operation successful.");
    EXPECT_EQ(out[6], "250 Remove directory operation successful.");
}

TEST_F(Faults, LowDiskAvailability) {
    const std::string sid = Connect();
    const std::string url = Admin("boxnwGetBoxDiskSpace", "SID=" + sid + "&PWD=admin");
    auto normal = Page(url, {"Message/DiskCapacity", "Message/DiskAvailability"});
    EXPECT_GT(std::stoul(normal.at(1)), 1000u);
    F().SetLowDisk(12);
    EXPECT_EQ(Page(url, {"Message/DiskCapacity", "Message/DiskAvailability"}),
              (std::vector<std::string>{normal[0], "12"}));
}

}  // namespace
}  // namespace simtest
