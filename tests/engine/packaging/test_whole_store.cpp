#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

#include "archive_helpers.hpp"
#include "packaging/folder_archive.hpp"
#include "temp_dir.hpp"
#include "vtBoxBRD.h"
#include "vtplatform.h"

namespace {

using namespace pkgtest;
using Names = std::vector<std::string>;
using Values = std::vector<uint32_t>;
using vttest::TempDir;

// Records every value the progress word takes. The packaging steps log a line
// as each one starts, so the word is read there (and once more at the end),
// which sees each stored value without racing a second thread.
class ProgressRecorder {
public:
    ProgressRecorder() : event_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {
        vtSetDebugHook(&ProgressRecorder::Hook, this);
    }
    ~ProgressRecorder() {
        vtSetDebugHook(nullptr, nullptr);
        CloseHandle(event_);
    }
    HANDLE event() const { return event_; }
    uint32_t *word() { return &word_; }
    Values values() {
        Values out = seen_;
        if (out.empty() || out.back() != word_) out.push_back(word_);
        return out;
    }
    bool signalled() const { return WaitForSingleObject(event_, 0) == WAIT_OBJECT_0; }

private:
    static void Hook(const char *text, void *self) {
        auto *r = static_cast<ProgressRecorder *>(self);
        if (!std::strstr(text, "Zipping to")) return;
        if (r->word_ != 0 && (r->seen_.empty() || r->seen_.back() != r->word_)) r->seen_.push_back(r->word_);
    }
    HANDLE event_;
    uint32_t word_ = 0;
    Values seen_;
};

void MakeStore(const fs::path &root, int boxes) {
    fs::create_directories(root / "BOX/DATA");
    for (int b = 1; b <= boxes; ++b) {
        char box[16];
        std::snprintf(box, sizeof box, "B%07d", b);
        fs::path folder = root / "BOX/DATA" / box / "P0000001";
        WriteFile(root / "BOX/DATABASE" / (std::string(box) + ".XML"), PageBytes(400, b));
        WriteFile(folder / "D0000001.XML", PageBytes(137, b + 10));
        WriteFile(folder / "D0000001/PAGE0001.JPG", PageBytes(30000 + 1000 * b, b + 20));
        WriteFile(folder / "F0000001/D0000002/PAGE0001.JPG", PageBytes(9000, b + 30));
        WriteFile(folder / "F0000001/UNLOCK.STS", "");
        fs::create_directories(folder / "F0000002");
    }
    fs::create_directories(root / "BOX/DATABASE");
}

bool AnyLeftover(const fs::path &root) {
    for (const auto &e : fs::recursive_directory_iterator(root)) {
        std::string name = e.path().filename().string();
        if (name.size() > 4 && (name.substr(name.size() - 4) == ".vtb" || name == "DATA.zip")) return true;
        if (name.rfind(".vtbox-", 0) == 0) return true;
    }
    return false;
}

// While it lives, this thread is held to the folders' permissions even as
// root: the capabilities that let root read any folder are taken out of its
// effective set (and put back from the permitted one afterwards).
class NoFolderOverride {
public:
    NoFolderOverride() {
        if (geteuid() != 0) return;
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        if (syscall(SYS_capget, &header, saved_) != 0) return;
        __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
        lowered[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        lowered_ = syscall(SYS_capset, &header, lowered) == 0;
    }
    ~NoFolderOverride() {
        if (!lowered_) return;
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        syscall(SYS_capset, &header, saved_);
    }

private:
    __user_cap_data_struct saved_[2] = {};
    bool lowered_ = false;
};

TEST(WholeStore, FourBoxesPackWithTheirProgressAndUnpackByteForByte) {
    KeepCwd keep;
    TempDir dir;
    const fs::path root = dir / "store";
    MakeStore(root, 4);
    // Hidden names are the store's too: packing removes them with their folder.
    WriteFile(root / "BOX/DATA/B0000002/P0000001/.note", "hidden file");
    WriteFile(root / "BOX/DATA/B0000003/.cache/PAGE0001.JPG", PageBytes(700, 3));
    WriteFile(root / "BOX/DATABASE/.B0000001.XML", "hidden record");
    const auto before = Snapshot(root / "BOX");
    const std::string archive = (root / "store.zip").string();

    {
        ProgressRecorder progress;
        ASSERT_EQ(vtBoxZipAllVaultraData(archive.c_str(), root.c_str(), nullptr, progress.event(), progress.word()),
                  0u);
        EXPECT_EQ(progress.values(), (Values{85, 87, 89, 91, 96, 97, 99}));
        EXPECT_TRUE(progress.signalled());
        EXPECT_EQ(GetLastError(), 0u);
    }
    EXPECT_EQ(Snapshot(root).size(), 1u);  // only the archive is left
    EXPECT_EQ(EntryNames(archive), (Names{"BOX\\", "BOX\\DATA.zip", "BOX\\DATABASE.vtb"}));

    {
        ProgressRecorder progress;
        ASSERT_EQ(vtBoxUnzipAllVaultraData(archive.c_str(), root.c_str(), nullptr, progress.event(), progress.word()),
                  0u);
        EXPECT_EQ(progress.values(), (Values{1, 3, 5, 7, 9, 11, 13}));
    }
    EXPECT_EQ(Snapshot(root / "BOX"), before);
    EXPECT_FALSE(AnyLeftover(root));
    EXPECT_TRUE(fs::exists(archive));
}

TEST(WholeStore, AnEmptyDataFolderStillGivesDataZipAndDatabase) {
    KeepCwd keep;
    TempDir dir;
    const fs::path root = dir / "store";
    fs::create_directories(root / "BOX/DATA");
    WriteFile(root / "BOX/DATABASE/B0000001.XML", "record");
    const std::string archive = (dir / "whole.zip");

    ProgressRecorder progress;
    ASSERT_EQ(vtBoxZipAllVaultraData(archive.c_str(), root.c_str(), nullptr, progress.event(), progress.word()), 0u);
    EXPECT_EQ(progress.values(), (Values{96, 97, 99}));
    EXPECT_TRUE(fs::is_empty(root));

    ASSERT_EQ(vtbox::UnzipArchive(archive, dir / "look"), 0u);
    EXPECT_EQ(EntryNames(dir / "look/BOX/DATA.zip"), Names{"DATA\\"});
    ASSERT_EQ(vtbox::ChangeLast32Bytes(dir / "look/BOX/DATABASE.vtb"), 0u);
    EXPECT_EQ(EntryNames(dir / "look/BOX/DATABASE.vtb"), (Names{"DATABASE\\", "DATABASE\\B0000001.XML"}));
}

TEST(WholeStore, AStepThatFailsStopsAndLeavesItsFolder) {
    KeepCwd keep;
    TempDir dir;
    const fs::path root = dir / "store";
    MakeStore(root, 3);
    WriteFile(root / "BOX/DATA/B0000002.vtb", "someone else's file");
    const std::string archive = (root / "store.zip").string();
    ProgressRecorder progress;
    EXPECT_EQ(vtBoxZipAllVaultraData(archive.c_str(), root.c_str(), nullptr, progress.event(), progress.word()), 183u);
    EXPECT_EQ(GetLastError(), 183u);
    EXPECT_EQ(progress.values(), Values{85});
    EXPECT_TRUE(fs::exists(root / "BOX/DATA/B0000001.vtb"));
    EXPECT_FALSE(fs::exists(root / "BOX/DATA/B0000001"));
    EXPECT_TRUE(fs::exists(root / "BOX/DATA/B0000002/P0000001/D0000001.XML"));
    EXPECT_EQ(ReadFile(root / "BOX/DATA/B0000002.vtb"), "someone else's file");
    EXPECT_FALSE(fs::exists(archive));
}

// Packing consumes the store: a file that cannot go into its archive (a
// name no entry can carry, a FIFO) or a folder that cannot be listed fails
// the step and its folder stays, with everything in it.
TEST(WholeStore, AnItemThatCannotBePackedFailsAndNothingIsRemoved) {
    KeepCwd keep;
    for (const char *kind : {"name", "fifo", "unlisted"}) {
        SCOPED_TRACE(kind);
        TempDir dir;
        const fs::path root = dir / "store";
        MakeStore(root, 2);
        const std::string k = kind;
        const fs::path odd =
            root / "BOX/DATA/B0000002/P0000001/D0000001" / (k == "name" ? "PAGE\\2.JPG" : "PAGE0002.JPG");
        if (k == "fifo") {
            ASSERT_EQ(mkfifo(odd.c_str(), 0600), 0);
        } else {
            WriteFile(odd, "the only copy");
        }
        const fs::path locked = odd.parent_path();
        if (k == "unlisted") {
            ASSERT_EQ(chmod(locked.c_str(), 0), 0);
        }
        uint32_t rc;
        const std::string archive = (root / "store.zip").string();
        {
            NoFolderOverride asUser;  // root reads any folder otherwise
            ProgressRecorder progress;
            rc = vtBoxZipAllVaultraData(archive.c_str(), root.c_str(), nullptr, progress.event(), progress.word());
        }
        chmod(locked.c_str(), 0755);
        EXPECT_NE(rc, 0u);
        EXPECT_NE(std::string(vtBoxGetLastErrorText()).find("cannot be packed"), std::string::npos)
            << vtBoxGetLastErrorText();
        EXPECT_TRUE(fs::exists(fs::symlink_status(odd)));
        EXPECT_TRUE(fs::exists(root / "BOX/DATA/B0000002/P0000001/D0000001.XML"));
        EXPECT_FALSE(fs::exists(root / "BOX/DATA/B0000002.vtb"));
        EXPECT_FALSE(fs::exists(archive));
    }
}

TEST(WholeStore, AnOlderArchiveIsReplacedOnlyByACompleteOne) {
    KeepCwd keep;
    TempDir dir;
    const fs::path root = dir / "store";
    MakeStore(root, 1);
    const std::string archive = (dir / "whole.zip");
    WriteFile(archive, "older archive");
    ASSERT_EQ(vtBoxZipAllVaultraData(archive.c_str(), root.c_str(), nullptr, nullptr, nullptr), 0u);
    EXPECT_EQ(EntryNames(archive), (Names{"BOX\\", "BOX\\DATA.zip", "BOX\\DATABASE.vtb"}));
}

TEST(WholeStore, AnOuterArchiveThatIsNoZipEndsAfterProgressOne) {
    KeepCwd keep;
    TempDir dir;
    WriteFile(dir / "store.zip", PageBytes(1000, 9));
    const std::string archive = dir / "store.zip";
    const std::string root = dir / "store";
    ProgressRecorder progress;
    uint32_t rc = vtBoxUnzipAllVaultraData(archive.c_str(), root.c_str(), nullptr, progress.event(), progress.word());
    EXPECT_NE(rc, 0u);
    EXPECT_EQ(GetLastError(), rc);
    EXPECT_EQ(progress.values(), Values{1});
    EXPECT_FALSE(fs::exists(dir / "store/BOX"));
}

TEST(WholeStore, MissingPathsAreInvalidArguments) {
    EXPECT_EQ(vtBoxZipAllVaultraData(nullptr, "/tmp", nullptr, nullptr, nullptr), 87u);
    EXPECT_EQ(vtBoxUnzipAllVaultraData("/tmp/x.zip", nullptr, nullptr, nullptr, nullptr), 87u);
    EXPECT_EQ(vtBoxUnzipAllVaultraData("", "/tmp", nullptr, nullptr, nullptr), 87u);
}

}  // namespace
