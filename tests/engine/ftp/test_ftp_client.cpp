// The FTP client's own state: dialects, log level, pending-folder queue,
// cancellation, and what it does before it is connected; the queue of the
// further connections' fetchers; a download kept in memory or written to its
// file by the held files' bounds. No sockets here.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "debug_capture.hpp"
#include "ftp/folder_fetchers.hpp"
#include "ftp/ftp_client.hpp"
#include "ftp/transfer_file.hpp"
#include "ftp_test_support.hpp"
#include "session/result.hpp"
#include "temp_dir.hpp"
#include "vtplatform.h"
#include "vtregistry.h"

namespace {

using vttest::RaisedCode;

class FtpClientState : public ::testing::Test {
protected:
    vttest::TempDir registry_;
    vttest::ScopedEnv registry_env_{"VTBOX_REGISTRY_DIR", registry_.path()};
};

void SetFtpLog(DWORD level) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, vtbox::kFtpLogKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              0);
    ASSERT_EQ(
        RegSetValueExA(key, vtbox::kFtpLogValue, 0, REG_DWORD, reinterpret_cast<const uint8_t *>(&level), sizeof level),
        0);
    RegCloseKey(key);
}

TEST_F(FtpClientState, TheDialectFollowsTheEngineVersionExactly) {
    EXPECT_STREQ(vtbox::MakeFtpClient("Korvo-D V1.0.0.0")->Verbs().list, "ls");
    EXPECT_STREQ(vtbox::MakeFtpClient("Korvo-D V1.0.0.0")->Verbs().deleteFile, "delete");
    EXPECT_STREQ(vtbox::MakeFtpClient("Korvo-D V1.0.0.1")->Verbs().list, "LIST");
    EXPECT_STREQ(vtbox::MakeFtpClient("korvo-d v1.0.0.0")->Verbs().list, "LIST");
    EXPECT_STREQ(vtbox::MakeFtpClient("")->Verbs().makeFolder, "MKD");
}

TEST_F(FtpClientState, TheLogLevelComesFromTheRegistry) {
    EXPECT_EQ(vtbox::BoxFtpClient(vtbox::kListVerbs).LogLevel(), 0u);  // no key
    SetFtpLog(1);
    EXPECT_EQ(vtbox::BoxFtpClient(vtbox::kListVerbs).LogLevel(), 1u);
    SetFtpLog(2);
    EXPECT_EQ(vtbox::BoxFtpClient(vtbox::kShellVerbs).LogLevel(), 2u);
}

TEST_F(FtpClientState, PendingFoldersComeOutInByteOrderOfTheLocalPath) {
    vtbox::BoxFtpClient client{vtbox::kListVerbs};
    EXPECT_TRUE(client.IsPendingEmpty());
    client.AddPendingFolder("w/b", "/r/b");
    client.AddPendingFolder("w/a/z", "/r/a/z");
    client.AddPendingFolder("w/\xC3\xA9", "/r/e-acute");  // a high byte sorts after ASCII
    client.AddPendingFolder("w/B", "/r/B");
    client.AddPendingFolder("w/a", "/r/a");
    client.AddPendingFolder("w/b", "/r/b-again");  // same key: the remote path is replaced

    std::vector<std::pair<std::string, std::string>> order;
    while (!client.IsPendingEmpty()) {
        std::string local, remote;
        client.PeekPendingFolder(&local, &remote);
        client.RemoveFirstPendingFolder();
        order.emplace_back(local, remote);
    }
    std::vector<std::pair<std::string, std::string>> expected{
        {"w/B", "/r/B"}, {"w/a", "/r/a"}, {"w/a/z", "/r/a/z"}, {"w/b", "/r/b-again"}, {"w/\xC3\xA9", "/r/e-acute"}};
    EXPECT_EQ(order, expected);

    client.AddPendingFolder("x", "y");
    client.ClearPendingFolders();
    EXPECT_TRUE(client.IsPendingEmpty());
    EXPECT_NE(RaisedCode([&] { client.PeekPendingFolder(nullptr, nullptr); }), 0u);
}

TEST_F(FtpClientState, CheckCancelRaises995OnceTheEventIsSignalled) {
    vtbox::BoxFtpClient client{vtbox::kListVerbs};
    EXPECT_EQ(RaisedCode([&] { client.CheckCancel(); }), 0u);  // no event: never cancelled
    HANDLE cancel = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    client.SetCancelEvent(cancel);
    EXPECT_EQ(RaisedCode([&] { client.CheckCancel(); }), 0u);
    SetEvent(cancel);
    vttest::DebugCapture capture;
    EXPECT_EQ(RaisedCode([&] { client.CheckCancel(); }), 995u);
    EXPECT_NE(capture.text().find("<<<<****  Ftp Operation Aborted ****>>>>"), std::string::npos);
    CloseHandle(cancel);
}

TEST_F(FtpClientState, WithoutAConnectionTransfersRaiseAndRemovalsGiveZero) {
    vtbox::BoxFtpClient client{vtbox::kListVerbs};
    EXPECT_FALSE(client.IsConnected());
    EXPECT_EQ(RaisedCode([&] { client.GetFile("/x.XML", "x.XML"); }), 6u);
    EXPECT_EQ(RaisedCode([&] { client.PutFile("/x.XML", "x.XML"); }), 6u);
    EXPECT_EQ(client.RemoveEntry("/x", true), 0);
    EXPECT_EQ(client.DeleteDocumentEntry(1), 0);
    vtbox::FindList folders;
    EXPECT_EQ(RaisedCode([&] { client.FtpListDirectory("/", &folders, nullptr); }), 6u);
    // A failed listing raises the log level so that later replies are shown.
    EXPECT_EQ(client.LogLevel(), 2u);
}

TEST_F(FtpClientState, ConnectWithoutArgumentsRaises12004) {
    vtbox::BoxFtpClient client{vtbox::kListVerbs};
    vttest::DebugCapture capture;
    EXPECT_EQ(RaisedCode([&] { client.Connect(nullptr, "u", "p"); }), 12004u);
    EXPECT_NE(capture.text().find("Connecting to MFP FTP Server..!!"), std::string::npos);
    EXPECT_NE(capture.text().find("InternetConnect Failed With ERROR - 87"), std::string::npos);
    EXPECT_FALSE(client.IsConnected());
}

TEST(FtpPort, TwentyOneUnlessTheEnvironmentNamesAValidPort) {
    {
        vttest::ScopedEnv env("VTBOX_FTP_PORT", "2121");
        EXPECT_EQ(vtbox::FtpSession::DefaultPort(), 2121);
    }
    for (const char *bad : {"", "0", "65536", "21x", "-5"}) {
        vttest::ScopedEnv env("VTBOX_FTP_PORT", bad);
        EXPECT_EQ(vtbox::FtpSession::DefaultPort(), 21) << bad;
    }
}

}  // namespace

TEST(FolderFetchers, AFullQueueOrNoFetcherLeavesTheFolderToTheCallerWithoutWaiting) {
    // Fetchers still connecting take nothing from the queue: past kQueued the
    // caller's own connection is told to fetch the folder itself rather than
    // wait, and it may take queued folders back in their order. Once the
    // fetchers are gone (their connections failed), what is left comes back.
    std::mutex mutex;
    std::condition_variable released;
    bool go = false;
    auto connect = [&]() -> std::unique_ptr<vtbox::BoxFtpClient> {
        std::unique_lock lock(mutex);
        released.wait(lock, [&] { return go; });
        vtbox::Raise(vt::Code::CONNECTION_FAILED, "no connection for the test");
    };
    vtbox::FolderFetchers fetchers(2, connect, nullptr);
    const size_t queued = vtbox::FolderFetchers::kQueued;
    for (size_t i = 0; i < queued; ++i)
        ASSERT_TRUE(fetchers.Add("local" + std::to_string(i), "remote" + std::to_string(i))) << i;
    EXPECT_FALSE(fetchers.Add("one more", "one more"));
    vtbox::FolderFetchers::Folder taken;
    ASSERT_TRUE(fetchers.Take(&taken));
    EXPECT_EQ(taken, vtbox::FolderFetchers::Folder("local0", "remote0"));
    EXPECT_TRUE(fetchers.Add("one more", "one more"));  // room again
    {
        std::lock_guard lock(mutex);
        go = true;
    }
    released.notify_all();
    std::vector<vtbox::FolderFetchers::Folder> left = fetchers.Finish();
    ASSERT_EQ(left.size(), queued);
    EXPECT_EQ(left.front().first, "local1");
    EXPECT_EQ(left.back().first, "one more");
    EXPECT_FALSE(fetchers.Add("after", "after", true));  // no fetcher runs: never waits
    EXPECT_FALSE(fetchers.Take(&taken));
}

namespace {
std::string FetchInto(vtbox::HeldFiles &held, const std::string &path, size_t size, bool commit = true) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + i % 23);
    vtbox::HeldDownload part(held, path);
    // In the pieces libcurl hands over.
    for (size_t at = 0; at < size; at += 16 * 1024)
        EXPECT_TRUE(part.Write(bytes.data() + at, std::min<size_t>(16 * 1024, size - at)));
    if (commit) {
        EXPECT_TRUE(part.Commit());
    }
    return bytes;
}

bool OnlyFileIs(const std::string &folder, const std::string &name) {
    size_t files = 0;
    for (const auto &e : std::filesystem::directory_iterator(folder)) {
        if (e.path().filename() != name) return false;
        ++files;
    }
    return files == 1;
}
}  // namespace

TEST(HeldDownload, AFileIsHeldUpToEachBoundAndWrittenWholeBeyondIt) {
    using vtbox::HeldFiles;
    vttest::TempDir dir;
    HeldFiles held;
    std::string taken;
    time_t when = 0;
    const std::string folder = dir.path();
    // Exactly the per-file bound stays in memory; a byte more goes to disk
    // whole, under its name and nothing else.
    std::string atBound = FetchInto(held, folder + "/atBound", HeldFiles::kMaxFileBytes);
    EXPECT_TRUE(std::filesystem::is_empty(folder));
    ASSERT_TRUE(held.Take(folder + "/atBound", &taken, &when));
    EXPECT_EQ(taken, atBound);
    EXPECT_GT(when, 0);
    held.Release(taken.size());
    std::string beyond = FetchInto(held, folder + "/beyond", HeldFiles::kMaxFileBytes + 1);
    EXPECT_FALSE(held.Take(folder + "/beyond", &taken, &when));
    EXPECT_TRUE(OnlyFileIs(folder, "beyond"));
    std::ifstream in(folder + "/beyond", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), beyond);
    std::filesystem::remove(folder + "/beyond");

    // Files named as archives are never held.
    FetchInto(held, folder + "/X.ZIP", 10);
    EXPECT_TRUE(OnlyFileIs(folder, "X.ZIP"));
    std::filesystem::remove(folder + "/X.ZIP");

    // The bound on all held files: full, the next file goes to disk; a file
    // fetched and not kept, or one taken and let go, makes room again.
    const size_t files = HeldFiles::kMaxHeldBytes / HeldFiles::kMaxFileBytes;
    for (size_t i = 0; i < files; ++i) FetchInto(held, folder + "/h" + std::to_string(i), HeldFiles::kMaxFileBytes);
    EXPECT_TRUE(std::filesystem::is_empty(folder));
    FetchInto(held, folder + "/full", 1);
    EXPECT_TRUE(OnlyFileIs(folder, "full"));
    std::filesystem::remove(folder + "/full");
    held.DropUnder(folder);
    for (size_t i = 0; i <= files; ++i) FetchInto(held, folder + "/unfinished", HeldFiles::kMaxFileBytes, false);
    FetchInto(held, folder + "/after", HeldFiles::kMaxFileBytes);
    EXPECT_TRUE(std::filesystem::is_empty(folder));
    ASSERT_EQ(held.ListIn(folder).size(), 1u);
    EXPECT_EQ(held.ListIn(folder)[0].name, "after");
}
