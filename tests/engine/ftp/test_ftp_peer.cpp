// The FTP client against a real FTP server that no one here wrote (vsftpd).
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "debug_capture.hpp"
#include "ftp/ftp_client.hpp"
#include "ftp_test_support.hpp"
#include "temp_dir.hpp"
#include "vsftpd_server.hpp"
#include "vtregistry.h"

namespace {

namespace fs = std::filesystem;
using vttest::AwkwardBytes;
using vttest::RaisedCode;
using vttest::ReadAll;
using vttest::WriteAll;

size_t Count(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The transfer type last set before the first command that starts with what.
std::string TypeBefore(const std::string &log, const std::string &what) {
    size_t at = log.find(what);
    if (at == std::string::npos) return "";
    size_t type = log.rfind("\"TYPE ", at);
    if (type == std::string::npos) return "";
    return log.substr(type + 1, 6);
}

class FtpPeer : public ::testing::Test {
protected:
    void SetUp() override {
        session_ = vttest::LoopbackSession();
        client_ = vtbox::MakeFtpClient("Korvo-B V1.3.0.0");
        client_->Connect(&session_, "anonymous", "guest");
    }
    std::string Remote(const std::string &name) const { return server_.root() + "/" + name; }

    vttest::VsftpdServer server_;
    vttest::TempDir local_;
    vttest::TempDir registry_;
    vttest::ScopedEnv registry_env_{"VTBOX_REGISTRY_DIR", registry_.path()};
    vttest::ScopedEnv port_env_{"VTBOX_FTP_PORT", std::to_string(server_.port())};
    VTMFPSESSION session_{};
    std::unique_ptr<vtbox::BoxFtpClient> client_;
};

TEST_F(FtpPeer, BinaryFilesTravelUnchangedBothWaysOverOneConnection) {
    const std::string bytes = AwkwardBytes(300);
    WriteAll(Remote("down.bin"), bytes);
    WriteAll(local_ / "up.bin", bytes);

    EXPECT_NE(client_->GetFile(Remote("down.bin"), local_ / "down.bin"), 0);
    EXPECT_NE(client_->PutFile(Remote("up.bin"), local_ / "up.bin"), 0);
    EXPECT_EQ(ReadAll(local_ / "down.bin"), bytes);
    EXPECT_EQ(ReadAll(Remote("up.bin")), bytes);
    EXPECT_EQ(client_->DownloadCount(), 1u);
    EXPECT_EQ(client_->UploadCount(), 1u);

    // TYPE A is what the server was told before both transfers, and
    // both went over the one control connection that Connect opened.
    client_.reset();
    std::string log = server_.Log();
    EXPECT_EQ(TypeBefore(log, "\"RETR "), "TYPE A") << log;
    EXPECT_EQ(TypeBefore(log, "\"STOR "), "TYPE A") << log;
    EXPECT_EQ(Count(log, "\"RETR "), 1u);
    EXPECT_EQ(Count(log, "\"STOR "), 1u);
    EXPECT_EQ(Count(log, "\"USER anonymous\""), 1u) << log;
    EXPECT_EQ(Count(log, "\"PASV\""), 0u);
    EXPECT_EQ(Count(log, "\"EPRT"), 0u);
}

TEST_F(FtpPeer, AFailedDownloadLeavesTheLocalFileAsItWas) {
    WriteAll(local_ / "keep.bin", "old");
    EXPECT_EQ(RaisedCode([&] { client_->GetFile(Remote("missing.bin"), local_ / "keep.bin"); }), 12003u);
    EXPECT_EQ(ReadAll(local_ / "keep.bin"), "old");
    EXPECT_EQ(client_->DownloadCount(), 0u);
    // Nothing half-written is left beside it, and the connection still serves.
    EXPECT_EQ(std::distance(fs::directory_iterator(local_.path()), fs::directory_iterator()), 1);
    WriteAll(Remote("there.bin"), "new");
    EXPECT_NE(client_->GetFile(Remote("there.bin"), local_ / "keep.bin"), 0);
    EXPECT_EQ(ReadAll(local_ / "keep.bin"), "new");
}

TEST_F(FtpPeer, FoldersAreCreatedAndRemovedAndRefusalsOnlyShowAsZero) {
    vttest::DebugCapture capture;
    EXPECT_NE(client_->FtpCreateFolder(Remote("box")), 0);
    EXPECT_TRUE(fs::is_directory(Remote("box")));
    // Creating it again is refused: reported, not raised.
    EXPECT_EQ(client_->FtpCreateFolder(Remote("box")), 0);
    EXPECT_NE(capture.text().find("FtpCreateFolder Failed With ERROR - 12003"), std::string::npos);

    WriteAll(Remote("box/f.XML"), "x");
    EXPECT_EQ(client_->RemoveEntry(Remote("box"), true), 0);  // not empty
    EXPECT_NE(client_->RemoveEntry(Remote("box/f.XML"), false), 0);
    EXPECT_NE(client_->RemoveEntry(Remote("box"), true), 0);
    EXPECT_FALSE(fs::exists(Remote("box")));
    EXPECT_EQ(client_->RemoveEntry(Remote("box"), true), 0);
}

TEST_F(FtpPeer, StatusFilesFollowTheDeviceConvention) {
    fs::create_directories(Remote("D0000001"));
    WriteAll(Remote("D0000001/CREATE.STS"), "");

    EXPECT_EQ(client_->CreateEmptyFile(Remote("D0000001/E.STS")), 0);
    EXPECT_TRUE(fs::exists(Remote("D0000001/E.STS")));
    EXPECT_EQ(fs::file_size(Remote("D0000001/E.STS")), 0u);

    EXPECT_EQ(client_->FtpReplaceStatusFile(Remote("D0000001")), 0);
    EXPECT_TRUE(fs::exists(Remote("D0000001/UNLOCK.STS")));
    EXPECT_FALSE(fs::exists(Remote("D0000001/CREATE.STS")));

    // Without a CREATE.STS the delete is refused: reported, not raised.
    vttest::DebugCapture capture;
    EXPECT_EQ(client_->FtpReplaceStatusFile(Remote("D0000001")), 0);
    EXPECT_NE(capture.text().find("FtpDeleteFile Failed With ERROR - 1359"), std::string::npos);
    // An empty file the server refuses (no such folder) raises its refusal.
    EXPECT_EQ(RaisedCode([&] { client_->CreateEmptyFile(Remote("nofolder/UNLOCK.STS")); }), 12003u);
}

// A small box tree: records, page folders, status files.
void MakeTree(const std::string &root) {
    const std::string bytes = AwkwardBytes(40);
    fs::create_directories(root + "/D0000001");
    fs::create_directories(root + "/F0000001/D0000002");
    fs::create_directories(root + "/F0000001/EMPTY");
    WriteAll(root + "/UNLOCK.STS", "");
    WriteAll(root + "/CREATE.STS", "");
    WriteAll(root + "/D0000001.XML", bytes + "1");
    WriteAll(root + "/D0000001/P0000001.JPG", bytes + "2");
    WriteAll(root + "/F0000001.XML", bytes + "3");
    WriteAll(root + "/F0000001/D0000002.XML", bytes + "4");
    WriteAll(root + "/F0000001/D0000002/P0000001.JPG", bytes + "5");
    WriteAll(root + "/F0000001/D0000002/UNLOCK.STS", "");
}

// Every file below root, by relative path, with its bytes.
std::map<std::string, std::string> Files(const std::string &root) {
    std::map<std::string, std::string> out;
    for (const auto &e : fs::recursive_directory_iterator(root)) {
        std::string rel = fs::relative(e.path(), root).string();
        out[rel] = e.is_directory() ? std::string("<folder>") : ReadAll(e.path());
    }
    return out;
}

TEST_F(FtpPeer, AWholeTreeIsMirroredByteForByteWithoutUnlockFiles) {
    vttest::KeepCwd keep;
    MakeTree(Remote("tree"));
    auto expected = Files(Remote("tree"));
    expected.erase("UNLOCK.STS");
    expected.erase("F0000001/D0000002/UNLOCK.STS");

    int folders = 0;
    client_->DownloadTree(local_ / "mirror", Remote("tree"), [&] { ++folders; });
    EXPECT_EQ(Files(local_ / "mirror"), expected);
    EXPECT_EQ(folders, 5);
    EXPECT_EQ(client_->DownloadCount(), 6u);
    EXPECT_TRUE(client_->IsPendingEmpty());
}

TEST_F(FtpPeer, ListingDataIsTakenAsItArrived) {
    // vsftpd ends listing lines in CR LF; at log level 2 the listing is logged
    // as received, so the CRs must still be there.
    MakeTree(Remote("tree"));
    HKEY key = nullptr;
    DWORD level = 2;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, vtbox::kFtpLogKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              0);
    RegSetValueExA(key, vtbox::kFtpLogValue, 0, REG_DWORD, reinterpret_cast<uint8_t *>(&level), sizeof level);
    RegCloseKey(key);
    client_ = vtbox::MakeFtpClient("");
    client_->Connect(&session_, "anonymous", "guest");
    ASSERT_EQ(client_->LogLevel(), 2u);

    vttest::DebugCapture capture;
    vtbox::FindList folders, files;
    ASSERT_NE(client_->FtpListDirectory(Remote("tree"), &folders, &files), 0);
    EXPECT_EQ(folders.size(), 2u);
    EXPECT_EQ(files.size(), 4u);
    EXPECT_NE(capture.text().find(" D0000001.XML\r\n"), std::string::npos) << capture.text();
}

TEST_F(FtpPeer, AFolderUploadSendsTheFolderOwnFilesOnly) {
    vttest::KeepCwd keep;
    fs::create_directories(local_ / "up/sub");
    WriteAll(local_ / "up/D0000001.XML", AwkwardBytes(3));
    WriteAll(local_ / "up/CREATE.STS", "");
    WriteAll(local_ / "up/sub/P0000001.JPG", "not sent");
    ASSERT_NE(client_->FtpCreateFolder(Remote("box")), 0);

    EXPECT_EQ(client_->UploadFolderByFTP(local_ / "up", Remote("box")), 0);
    EXPECT_EQ(ReadAll(Remote("box/D0000001.XML")), AwkwardBytes(3));
    EXPECT_TRUE(fs::exists(Remote("box/CREATE.STS")));
    EXPECT_FALSE(fs::exists(Remote("box/sub")));
    EXPECT_EQ(client_->UploadCount(), 2u);
    EXPECT_EQ(client_->UploadBytes(), AwkwardBytes(3).size());
}

TEST(FtpPeerLogin, ARefusedLoginRaises12014) {
    vttest::VsftpdServer server;
    vttest::ScopedEnv port{"VTBOX_FTP_PORT", std::to_string(server.port())};
    VTMFPSESSION session = vttest::LoopbackSession();
    auto client = vtbox::MakeFtpClient("");
    vttest::DebugCapture capture;
    EXPECT_EQ(RaisedCode([&] { client->Connect(&session, "someone", "secret"); }), 12014u);
    EXPECT_FALSE(client->IsConnected());
    EXPECT_NE(capture.text().find("InternetConnect Failed With ERROR - 12014"), std::string::npos);
}

}  // namespace
