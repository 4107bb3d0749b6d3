// The FTP client against the simulated device, in both command dialects and
// with the device's faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "closed_port.hpp"
#include "debug_capture.hpp"
#include "devicesim/device.hpp"
#include "devicesim/seeding.hpp"
#include "ftp/ftp_client.hpp"
#include "ftp_test_support.hpp"
#include "session/error_detail.hpp"
#include "temp_dir.hpp"
#include "vsftpd_server.hpp"
#include "vtBoxBRD.h"
#include "vtregistry.h"

namespace {

namespace fs = std::filesystem;
using vttest::AwkwardBytes;
using vttest::RaisedCode;
using vttest::ReadAll;
using vttest::WriteAll;

constexpr const char *kPassword = "admin";
constexpr const char *kBox = "/SHR/BOX/DATA/B0000001";

struct Setting {
    bool shell;
    bool crlf;  // listing lines end in CR LF
};

std::string SettingName(const ::testing::TestParamInfo<Setting> &info) {
    return std::string(info.param.shell ? "Shell" : "List") + (info.param.crlf ? "CrLf" : "Lf");
}

// Every file below root, by relative path, with its bytes ("<folder>" for folders).
std::map<std::string, std::string> Files(const fs::path &root) {
    std::map<std::string, std::string> out;
    for (const auto &e : fs::recursive_directory_iterator(root)) {
        std::string rel = fs::relative(e.path(), root).string();
        out[rel] = e.is_directory() ? std::string("<folder>") : ReadAll(e.path());
    }
    return out;
}

size_t CountCommands(const std::vector<std::string> &commands, const std::string &prefix) {
    size_t n = 0;
    for (const auto &c : commands) n += c.rfind(prefix, 0) == 0;
    return n;
}

void SetFtpLog(DWORD level) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, vtbox::kFtpLogKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              0);
    RegSetValueExA(key, vtbox::kFtpLogValue, 0, REG_DWORD, reinterpret_cast<uint8_t *>(&level), sizeof level);
    RegCloseKey(key);
}

class FtpDevice : public ::testing::TestWithParam<Setting> {
protected:
    void SetUp() override {
        std::string error;
        devicesim::SeedOptions seed;
        seed.boxes = 1;
        seed.folders = 2;
        seed.docs = 2;
        seed.pages = 2;
        seed.pageKb = 4;
        ASSERT_TRUE(devicesim::SeedStore(store_.path(), seed, error)) << error;

        devicesim::DeviceOptions o;
        o.store = store_.path();
        o.password = kPassword;
        o.listingCrLf = GetParam().crlf;
        if (GetParam().shell) o.engineVersion = devicesim::kShellDialectVersion;
        engine_version_ = o.engineVersion;
        device_ = std::make_unique<devicesim::Device>(o);
        device_->Start();
        port_env_ = std::make_unique<vttest::ScopedEnv>("VTBOX_FTP_PORT", std::to_string(device_->FtpPort()));

        session_ = vttest::LoopbackSession();
        session_.Port = device_->HttpPort();
        ASSERT_EQ(vtBoxOpenConnection(&session_), 0u);
        char login[256] = {};
        ASSERT_EQ(vtBoxCreateFTPAccount(&session_, kPassword, login), 0u);
        login_ = login;
        client_ = NewClient();
    }
    void TearDown() override {
        client_.reset();
        vtBoxDeleteFTPAccount(&session_, kPassword);
        vtBoxCloseConnection(&session_);
        device_->Stop();
    }

    std::unique_ptr<vtbox::BoxFtpClient> NewClient() {
        auto client = vtbox::MakeFtpClient(engine_version_);
        client->Connect(&session_, login_.c_str(), kPassword);
        return client;
    }
    fs::path Store(const std::string &remote) const { return fs::path(store_.path()) / remote.substr(1); }
    std::vector<std::string> Commands() const { return device_->Records().ftpCommands; }
    const char *Word(const char *list, const char *shell) const { return GetParam().shell ? shell : list; }

    vttest::KeepCwd keep_cwd_;
    vttest::TempDir store_, local_, registry_;
    vttest::ScopedEnv registry_env_{"VTBOX_REGISTRY_DIR", registry_.path()};
    std::unique_ptr<devicesim::Device> device_;
    std::unique_ptr<vttest::ScopedEnv> port_env_;
    std::string engine_version_;
    VTMFPSESSION session_{};
    std::string login_;
    std::unique_ptr<vtbox::BoxFtpClient> client_;
};

TEST_P(FtpDevice, AWholeBoxIsMirroredByteForByte) {
    WriteAll(Store(kBox) / "CREATE.STS", "");
    WriteAll(Store(kBox) / "D0000099.XML", AwkwardBytes(50));
    auto expected = Files(Store(kBox));
    for (auto it = expected.begin(); it != expected.end();) {
        if (fs::path(it->first).filename() == "UNLOCK.STS")
            it = expected.erase(it);
        else
            ++it;
    }
    ASSERT_GT(expected.size(), 10u);

    client_->DownloadTree(local_ / "B0000001", kBox);
    EXPECT_EQ(Files(local_ / "B0000001"), expected);

    auto commands = Commands();
    EXPECT_EQ(CountCommands(commands, std::string(Word("LIST", "ls")) + " /SHR/BOX/DATA/B0000001"),
              CountCommands(commands, Word("LIST", "ls")));
    EXPECT_EQ(CountCommands(commands, "RETR " + std::string(kBox) + "/UNLOCK.STS"), 0u);
    EXPECT_EQ(CountCommands(commands, "RETR " + std::string(kBox) + "/CREATE.STS"), 1u);
    EXPECT_EQ(CountCommands(commands, "USER "), 1u);  // one control connection throughout
    EXPECT_EQ(CountCommands(commands, "CWD"), 0u);
}

TEST_P(FtpDevice, AFolderUploadLandsByteForByte) {
    fs::create_directories(local_ / "up/sub");
    WriteAll(local_ / "up/D0000001.XML", AwkwardBytes(20));
    WriteAll(local_ / "up/PAGE0001.DAT", AwkwardBytes(7));
    WriteAll(local_ / "up/sub/PAGE0002.DAT", "stays here");
    const std::string remote = std::string(kBox) + "/F0000090";
    ASSERT_NE(client_->FtpCreateFolder(remote), 0);
    EXPECT_EQ(client_->UploadFolderByFTP(local_ / "up", remote), 0);
    EXPECT_EQ(ReadAll(Store(remote) / "D0000001.XML"), AwkwardBytes(20));
    EXPECT_EQ(ReadAll(Store(remote) / "PAGE0001.DAT"), AwkwardBytes(7));
    EXPECT_FALSE(fs::exists(Store(remote) / "sub"));
    EXPECT_EQ(client_->UploadCount(), 2u);
    EXPECT_EQ(CountCommands(Commands(), std::string(Word("MKD", "mkdir")) + " " + remote), 1u);
}

TEST_P(FtpDevice, TheStatusFileIsReplaced) {
    const std::string folder = std::string(kBox) + "/F0000091";
    ASSERT_NE(client_->FtpCreateFolder(folder), 0);
    ASSERT_EQ(client_->CreateEmptyFile(folder + "/CREATE.STS"), 0);
    EXPECT_TRUE(fs::exists(Store(folder) / "CREATE.STS"));
    EXPECT_EQ(client_->FtpReplaceStatusFile(folder), 0);
    EXPECT_TRUE(fs::exists(Store(folder) / "UNLOCK.STS"));
    EXPECT_EQ(fs::file_size(Store(folder) / "UNLOCK.STS"), 0u);
    EXPECT_FALSE(fs::exists(Store(folder) / "CREATE.STS"));
    EXPECT_EQ(CountCommands(Commands(), std::string(Word("DELE", "delete")) + " " + folder + "/CREATE.STS"), 1u);

    // In a folder the device refused to make, the status file is refused
    // (553) on a connection that still works: a refusal, not a lost connection.
    device_->GetFaults().RefuseFolderCreation(1);
    const std::string refused = std::string(kBox) + "/F0000092";
    EXPECT_EQ(client_->FtpCreateFolder(refused), 0);
    EXPECT_EQ(RaisedCode([&] { client_->CreateEmptyFile(refused + "/CREATE.STS"); }), 12003u);
    EXPECT_NE(vtbox::FailureDetail().find("FTP 553"), std::string::npos) << vtbox::FailureDetail();
}

TEST_P(FtpDevice, A552IsRetriedOnceAfterADelete) {
    WriteAll(local_ / "f.bin", AwkwardBytes(4));
    const std::string remote = std::string(kBox) + "/D0000077.XML";
    vttest::DebugCapture capture;
    device_->GetFaults().FailStor(552, 1, false);
    EXPECT_NE(client_->PutFile(remote, local_ / "f.bin"), 0);
    EXPECT_EQ(client_->UploadCount(), 1u);
    EXPECT_EQ(ReadAll(Store(remote)), AwkwardBytes(4));
    EXPECT_NE(capture.text().find("After 552 Error, PUT Operation recovered"), std::string::npos);
    auto commands = Commands();
    EXPECT_EQ(CountCommands(commands, "STOR " + remote), 2u);
    EXPECT_EQ(CountCommands(commands, std::string(Word("DELE", "delete")) + " " + remote), 1u);

    // Refused twice: the second refusal is raised, and there is no third try.
    device_->ClearRecords();
    device_->GetFaults().FailStor(552, 1, true);
    EXPECT_EQ(RaisedCode([&] { client_->PutFile(remote, local_ / "f.bin"); }), 12003u);
    EXPECT_EQ(CountCommands(Commands(), "STOR " + remote), 2u);
    EXPECT_EQ(client_->UploadCount(), 1u);
    EXPECT_NE(capture.text().find("Retying After 552 Error also Failed"), std::string::npos);
}

TEST_P(FtpDevice, A451Raises8260WithoutARetry) {
    WriteAll(local_ / "f.bin", "x");
    device_->GetFaults().FailStor(451, 1, false);
    EXPECT_EQ(RaisedCode([&] { client_->PutFile(std::string(kBox) + "/X.DAT", local_ / "f.bin"); }), 8260u);
    EXPECT_EQ(CountCommands(Commands(), "STOR "), 1u);
    EXPECT_EQ(client_->UploadCount(), 0u);
}

TEST_P(FtpDevice, ARefusedLoginRaises12014) {
    device_->GetFaults().RefuseLogin(1);
    auto client = vtbox::MakeFtpClient(engine_version_);
    EXPECT_EQ(RaisedCode([&] { client->Connect(&session_, login_.c_str(), kPassword); }), 12014u);
    EXPECT_EQ(RaisedCode([&] { client->Connect(&session_, login_.c_str(), "wrong"); }), 12014u);
    EXPECT_NO_THROW(client->Connect(&session_, login_.c_str(), kPassword));
}

TEST_P(FtpDevice, ADroppedDataConnectionLeavesNoFileReportedAsDone) {
    const std::string folder = std::string(kBox) + "/F0000092";
    fs::create_directories(Store(folder));
    WriteAll(Store(folder) / "A0000001.DAT", AwkwardBytes(100));
    WriteAll(Store(folder) / "B0000002.DAT", AwkwardBytes(100));
    WriteAll(Store(folder) / "C0000003.DAT", AwkwardBytes(100));

    // The second file is cut in half.
    device_->GetFaults().DropDataConnection(3);  // the listing, the first file, then this one
    EXPECT_EQ(RaisedCode([&] { client_->DownloadFolderByFTP(local_ / "F0000092", folder); }), 12030u);
    EXPECT_EQ(ReadAll(local_ / "F0000092/A0000001.DAT"), AwkwardBytes(100));
    EXPECT_EQ(Files(local_ / "F0000092").size(), 1u);  // no partial B, no temporary file
    EXPECT_EQ(client_->DownloadCount(), 1u);
    EXPECT_EQ(client_->LogLevel(), 2u);

    // A cut listing fails the listing; the connection serves on afterwards.
    device_->GetFaults().DropDataConnection(1, 10);
    vtbox::FindList folders, files;
    EXPECT_NE(RaisedCode([&] { client_->FtpListDirectory(folder, &folders, &files); }), 0u);
    EXPECT_TRUE(files.empty());
    EXPECT_NE(client_->FtpListDirectory(folder, &folders, &files), 0);
    EXPECT_EQ(files.size(), 3u);

    // A cut upload is an error too.
    device_->GetFaults().DropDataConnection(1);
    WriteAll(local_ / "up.bin", AwkwardBytes(100));
    EXPECT_EQ(RaisedCode([&] { client_->PutFile(folder + "/UP.DAT", local_ / "up.bin"); }), 12030u);
}

TEST_P(FtpDevice, AListedNameThatWouldLeaveTheFolderFailsTheDownload) {
    const std::string folder = std::string(kBox) + "/F0000095";
    fs::create_directories(Store(folder));
    WriteAll(Store(folder) / "..\\OUT.XML", "outside");  // one name with a backslash in it
    WriteAll(Store(folder) / "GOOD.XML", "inside");
    vttest::DebugCapture capture;
    EXPECT_EQ(RaisedCode([&] { client_->DownloadFolderByFTP(local_ / "F0000095", folder); }), 123u);
    EXPECT_NE(capture.text().find("refused the entry \"..\\OUT.XML\""), std::string::npos) << capture.text();
    EXPECT_EQ(client_->DownloadCount(), 0u);
    EXPECT_EQ(Files(local_.path()).size(), 1u);  // the empty folder made for the download
}

TEST_P(FtpDevice, CancellingStopsAfterTheFileInFlight) {
    const std::string folder = std::string(kBox) + "/F0000093";
    fs::create_directories(Store(folder));
    const std::string big(24u << 20, 'b');
    WriteAll(Store(folder) / "A0000001.DAT", big);
    WriteAll(Store(folder) / "B0000002.DAT", "b");
    WriteAll(Store(folder) / "C0000003.DAT", "c");
    fs::create_directories(local_ / "F0000093");

    HANDLE cancel = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    client_->SetCancelEvent(cancel);
    // Signal the event once the first file is on its way (its temporary file exists).
    std::atomic<bool> done{false};
    std::thread canceller([&] {
        while (!done) {
            for (const auto &e : fs::directory_iterator(local_ / "F0000093")) {
                if (e.path().filename().string().rfind(".vtftp-", 0) == 0) {
                    SetEvent(cancel);
                    return;
                }
            }
            std::this_thread::yield();
        }
    });
    uint32_t code = RaisedCode([&] { client_->DownloadFolderByFTP(local_ / "F0000093", folder); });
    done = true;
    canceller.join();
    EXPECT_EQ(code, 995u);
    EXPECT_EQ(ReadAll(local_ / "F0000093/A0000001.DAT").size(), big.size());
    EXPECT_FALSE(fs::exists(local_ / "F0000093/B0000002.DAT"));
    EXPECT_EQ(CountCommands(Commands(), "RETR "), 1u);
    CloseHandle(cancel);
}

TEST_P(FtpDevice, TransferLinesFollowTheLogLevel) {
    vttest::DebugCapture capture;
    client_->DownloadFolderByFTP(local_ / "B0000001", kBox);
    EXPECT_EQ(capture.text().find("Downloading..."), std::string::npos);
    EXPECT_EQ(capture.text().find("-----"), std::string::npos);

    // The first listing failure raises the level: replies are shown from then on.
    vtbox::FindList folders;
    EXPECT_NE(RaisedCode([&] { client_->FtpListDirectory("/SHR/BOX/NOSUCH", &folders, nullptr); }), 0u);
    capture.clear();
    EXPECT_NE(client_->FtpListDirectory(kBox, &folders, nullptr), 0);
    EXPECT_NE(capture.text().find("226"), std::string::npos) << capture.text();

    SetFtpLog(1);
    auto logged = NewClient();
    capture.clear();
    logged->DownloadFolderByFTP(local_ / "again", kBox);
    std::string text = capture.text();
    EXPECT_NE(text.find(std::string("\t Downloading...") + kBox + " --> " + (local_ / "again")), std::string::npos)
        << text;
    EXPECT_EQ(text.find("226"), std::string::npos);  // level 1 shows no replies
}

TEST_P(FtpDevice, TheDestructorLogsTheTotals) {
    vttest::DebugCapture capture;
    client_->DownloadTree(local_ / "B0000001", kBox);
    uint32_t count = client_->DownloadCount();
    ASSERT_GT(count, 0u);
    client_.reset();
    EXPECT_NE(capture.text().find("\n Total Files Downloaded = " + std::to_string(count) + " \n"), std::string::npos);
    EXPECT_NE(capture.text().find("Closing the Ftp Connection....!!!"), std::string::npos);
    EXPECT_EQ(capture.text().find("Total Files Uploaded"), std::string::npos);
}

TEST_P(FtpDevice, TheLesserOperationsSpeakTheDialectToo) {
    std::string inner;
    EXPECT_EQ(client_->GetBoxInnerFolderName(1, &inner), 1);
    EXPECT_EQ(inner, "P0000001");

    const std::string folder = std::string(kBox) + "/F0000094";
    fs::create_directories(Store(folder) / "D0000005");
    WriteAll(Store(folder) / "D0000005.XML", "r");
    EXPECT_NE(client_->FtpChangeDirectory(folder), 0);
    EXPECT_NE(client_->DeleteDocumentEntry(5), 0);  // relative to the folder changed to
    EXPECT_FALSE(fs::exists(Store(folder) / "D0000005.XML"));
    EXPECT_FALSE(fs::exists(Store(folder) / "D0000005"));
    EXPECT_EQ(RaisedCode([&] { client_->FtpChangeDirectory(folder + "/NOSUCH"); }), 12003u);

    WriteAll(local_ / "s.bin", AwkwardBytes(2000));
    EXPECT_EQ(client_->PutFileStreamed(folder + "/S.DAT", local_ / "s.bin"), 1);
    EXPECT_EQ(ReadAll(Store(folder) / "S.DAT"), AwkwardBytes(2000));

    auto commands = Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), std::string(Word("CWD", "cd")) + " " + folder), 1);
    EXPECT_EQ(CountCommands(commands, std::string(Word("DELE", "delete")) + " D0000005.XML"), 1u);
    EXPECT_EQ(CountCommands(commands, std::string(Word("RMD", "rmdir")) + " D0000005"), 1u);
}

// The type in force at each transfer, read off the recorded commands: "A"
// or "I" per STOR, RETR and listing, in order ("?" before any TYPE).
std::vector<std::string> TypesAtTransfers(const std::vector<std::string> &commands, const char *list_word) {
    std::string type = "?";
    std::vector<std::string> out;
    for (const auto &c : commands) {
        if (c.rfind("TYPE ", 0) == 0)
            type = c.substr(5, 1);
        else if (c.rfind("STOR ", 0) == 0 || c.rfind("RETR ", 0) == 0 || c.rfind(std::string(list_word) + " ", 0) == 0)
            out.push_back(type);
    }
    return out;
}

// The distinct arguments of the PORT commands (address and port).
std::set<std::string> PortArguments(const std::vector<std::string> &commands) {
    std::set<std::string> out;
    for (const auto &c : commands)
        if (c.rfind("PORT ", 0) == 0) out.insert(c.substr(5));
    return out;
}

TEST_P(FtpDevice, TransfersTakeAFewDataPortsInTurnAndSendTheTypeOnlyWhenItChanges) {
    const std::string folder = std::string(kBox) + "/F0000095";
    WriteAll(local_ / "r.bin", AwkwardBytes(3));
    ASSERT_NE(client_->FtpCreateFolder(folder), 0);
    device_->ClearRecords();

    // As a restore writes documents: status file (empty), record and pages
    // (ASCII), status file again.
    auto document = [&](int n) {
        char name[16];
        std::snprintf(name, sizeof name, "/D%07d", n);
        std::string d = folder + name;
        client_->FtpCreateFolder(d);
        client_->CreateEmptyFile(d + "/CREATE.STS");
        client_->PutFile(d + ".XML", local_ / "r.bin");
        client_->PutFile(d + "/PAGE0001.DAT", local_ / "r.bin");
        client_->PutFile(d + "/PAGE0002.DAT", local_ / "r.bin");
        client_->FtpReplaceStatusFile(d);
    };
    document(1);
    document(2);
    document(3);
    auto commands = Commands();
    // The empty status files go under the type in force: the files with
    // data are ASCII, and after the first document no TYPE is sent at all.
    std::vector<std::string> types = TypesAtTransfers(commands, Word("LIST", "ls"));
    ASSERT_EQ(types.size(), 15u);
    for (size_t i = 1; i < types.size(); ++i) EXPECT_EQ(types[i], "A") << i;
    size_t first =
        CountCommands(std::vector<std::string>(
                          commands.begin(), std::find(commands.begin(), commands.end(),
                                                      std::string(Word("MKD", "mkdir")) + " " + folder + "/D0000002")),
                      "TYPE ");
    EXPECT_EQ(CountCommands(commands, "TYPE "), first);
    const std::set<std::string> ports = PortArguments(commands);

    // As a backup reads a tree: listings and downloads, all ASCII, one TYPE.
    device_->ClearRecords();
    vtbox::FindList folders, files;
    client_->FtpListDirectory(folder, &folders, &files);
    client_->GetFile(folder + "/D0000001/PAGE0001.DAT", local_ / "back.bin");
    client_->GetFile(folder + "/D0000001.XML", local_ / "back2.bin");
    client_->FtpListDirectory(folder + "/D0000002", &folders, &files);
    client_->GetFile(folder + "/D0000002/PAGE0002.DAT", local_ / "back3.bin");
    EXPECT_EQ(ReadAll(local_ / "back.bin"), AwkwardBytes(3));
    EXPECT_EQ(ReadAll(local_ / "back3.bin"), AwkwardBytes(3));
    commands = Commands();
    EXPECT_EQ(TypesAtTransfers(commands, Word("LIST", "ls")), std::vector<std::string>(5, "A"));
    EXPECT_LE(CountCommands(commands, "TYPE "), 1u);

    // The data connections of the session come back to a few local ports,
    // taken in turn. Another process on the machine may take one of them
    // meanwhile, and the session then picks a new set once: at most two sets
    // of ports for many more transfers, where a port for each transfer would
    // give as many ports as transfers.
    for (size_t i = 0; i < 3 * vtbox::FtpSession::kDataPorts; ++i) client_->CreateEmptyFile(folder + "/E.STS");
    std::set<std::string> all = PortArguments(Commands());
    all.insert(ports.begin(), ports.end());
    EXPECT_GE(all.size(), vtbox::FtpSession::kDataPorts);
    EXPECT_LE(all.size(), 2 * vtbox::FtpSession::kDataPorts);
}

TEST_P(FtpDevice, AServerThatCannotComeBackToAPortGetsANewPortForEachTransfer) {
    device_->GetFaults().RefuseReusedDataPorts(true);
    const std::string folder = std::string(kBox) + "/F0000097";
    ASSERT_NE(client_->FtpCreateFolder(folder), 0);
    WriteAll(local_ / "p.bin", AwkwardBytes(2));
    // Twice round the session's ports and more: should another process take
    // one of them meanwhile, the session picks a new set once and still comes
    // back to a port before the end.
    const size_t transfers = 2 * vtbox::FtpSession::kDataPorts + 8;
    for (size_t i = 0; i < transfers; ++i)
        client_->PutFile(folder + "/P" + std::to_string(i) + ".DAT", local_ / "p.bin");
    EXPECT_EQ(ReadAll(Store(folder) / "P0.DAT"), AwkwardBytes(2));
    EXPECT_EQ(ReadAll(Store(folder) / ("P" + std::to_string(transfers - 1) + ".DAT")), AwkwardBytes(2));
    EXPECT_EQ(client_->UploadCount(), transfers);
    // One refusal, the transfer made again, and no port used twice since.
    auto commands = Commands();
    EXPECT_EQ(CountCommands(commands, "PORT "), transfers + 1);
    EXPECT_EQ(PortArguments(commands).size(), transfers);
}

INSTANTIATE_TEST_SUITE_P(Dialects, FtpDevice,
                         ::testing::Values(Setting{false, false}, Setting{true, false}, Setting{false, true},
                                           Setting{true, true}),
                         SettingName);

TEST(FtpNoServer, NothingListeningRaises12004) {
    vttest::ClosedPort closed;
    vttest::ScopedEnv port("VTBOX_FTP_PORT", std::to_string(closed.port()));
    VTMFPSESSION session = vttest::LoopbackSession();
    auto client = vtbox::MakeFtpClient("");
    vttest::DebugCapture capture;
    EXPECT_EQ(RaisedCode([&] { client->Connect(&session, "u", "p"); }), 12004u);
    EXPECT_NE(capture.text().find("==> InternetConnect Failed With ERROR"), std::string::npos);
    // libcurl's own line goes to the diagnostics; the detail a person reads
    // gets the words for its result.
    const std::string detail = vtbox::FailureDetail();
    EXPECT_NE(detail.find("Couldn't connect to server"), std::string::npos) << detail;
    EXPECT_EQ(detail.find("port " + std::to_string(closed.port())), std::string::npos) << detail;
    EXPECT_NE(capture.text().find("port " + std::to_string(closed.port())), std::string::npos) << capture.text();
}

TEST(FtpNoServer, AServerThatNeverGreetsTimesOut) {
    // A socket that listens but never answers: the connection is made by the
    // kernel, the greeting never comes.
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(fd, 4), 0);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len), 0);
    vttest::ScopedEnv port("VTBOX_FTP_PORT", std::to_string(ntohs(addr.sin_port)));
    VTMFPSESSION session = vttest::LoopbackSession();
    auto client = vtbox::MakeFtpClient("");
    vttest::DebugCapture capture;
    EXPECT_EQ(RaisedCode([&] { client->Connect(&session, "u", "p"); }), 12004u);
    EXPECT_NE(capture.text().find("InternetConnect Failed With ERROR - 12002"), std::string::npos) << capture.text();
    ::close(fd);
}

}  // namespace
