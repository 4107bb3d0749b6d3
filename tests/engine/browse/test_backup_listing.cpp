// vtBoxListBackup over crafted backup files: what it shows, and that it
// shows only what verify calls whole.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "temp_dir.hpp"
#include "vtBoxBRD.h"
#include "vthandles.hpp"

namespace {

namespace fs = std::filesystem;

struct Listing {
    uint32_t rc = 0;
    std::string detail;
    std::vector<VTBACKUPENTRY> entries;
};

Listing List(const std::string &file, const std::string &work, std::vector<uint32_t> boxes = {}) {
    Listing l;
    uint32_t count = 0;
    VTBACKUPENTRY *items = nullptr;
    vt::GlobalBlock block(
        vtBoxListBackup(file.c_str(), work.c_str(), static_cast<uint32_t>(boxes.size()), boxes.data(), &count, &items));
    l.rc = block ? 0 : GetLastError();
    l.detail = vtBoxGetLastErrorText();
    if (block) l.entries.assign(items, items + count);
    return l;
}

std::string Corpus(const char *name) { return std::string(BACKUP_CORPUS_DIR) + "/" + name + ".zip"; }

bool Empty(const std::string &folder) { return fs::directory_iterator(folder) == fs::directory_iterator(); }

std::string Line(const VTBACKUPENTRY &e) {
    return std::to_string(e.Kind) + " " + std::to_string(e.BoxNo) + "/" + std::to_string(e.FolderNo) + "/" +
           std::to_string(e.DocNo) + " " + e.Name + " docs " + std::to_string(e.NumOfDocs) + " files " +
           std::to_string(e.NumOfFiles) + " bytes " + std::to_string(e.Size);
}

TEST(BackupListing, ABoxItsFoldersWithTheirDocumentsThenItsTopLevel) {
    vttest::TempDir work;
    Listing l = List(Corpus("whole-plain"), work.path());
    ASSERT_EQ(l.rc, 0u) << l.detail;
    std::vector<std::string> lines;
    for (const auto &e : l.entries) lines.push_back(Line(e));
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "2 1/0/0 Box 1 docs 2 files 0 bytes 1200",
                         "0 1/1/0 Letters docs 1 files 0 bytes 600",
                         "1 1/1/2 Invoice docs 0 files 1 bytes 600",
                         "1 1/0/1 Report docs 0 files 1 bytes 600",
                     }));
    EXPECT_EQ(l.entries[0].NumOfFolders, 1u);
    // The records' time stamp, 1700000000, in UTC.
    const SYSTEMTIME &d = l.entries[3].Date;
    EXPECT_EQ(std::vector<int>({d.wYear, d.wMonth, d.wDay, d.wHour, d.wMinute, d.wSecond}),
              std::vector<int>({2023, 11, 14, 22, 13, 20}));
    EXPECT_TRUE(Empty(work.path())) << "the work folder is left as it was";

    // Entry by entry, the same entries in the same order; a caller that ends
    // the listing gets no more, and the work folder is left as it was.
    struct Seen {
        std::vector<std::string> lines;
        size_t stopAt;
    };
    auto collect = [](const VTBACKUPENTRY *e, void *context) -> uint32_t {
        auto *seen = static_cast<Seen *>(context);
        seen->lines.push_back(Line(*e));
        return seen->lines.size() == seen->stopAt ? 1u : 0u;
    };
    Seen all{{}, 0};
    ASSERT_EQ(vtBoxListBackupEach(Corpus("whole-plain").c_str(), work.path().c_str(), 0, nullptr, collect, &all), 0u)
        << vtBoxGetLastErrorText();
    EXPECT_EQ(all.lines, lines);
    Seen two{{}, 2};
    EXPECT_EQ(vtBoxListBackupEach(Corpus("whole-plain").c_str(), work.path().c_str(), 0, nullptr, collect, &two),
              static_cast<uint32_t>(VTBOX_E_CANCELLED));
    EXPECT_EQ(two.lines.size(), 2u);
    EXPECT_TRUE(Empty(work.path()));
}

TEST(BackupListing, OnlyTheChosenBoxesAndNeverOneTheFileLacks) {
    vttest::TempDir work;
    Listing two = List(Corpus("whole-two-boxes"), work.path(), {2});
    ASSERT_EQ(two.rc, 0u) << two.detail;
    ASSERT_EQ(two.entries.size(), 4u);
    for (const auto &e : two.entries) EXPECT_EQ(e.BoxNo, 2u);

    Listing missing = List(Corpus("whole-two-boxes"), work.path(), {2, 7});
    EXPECT_EQ(missing.rc, static_cast<uint32_t>(VTBOX_E_NOT_FOUND));
    EXPECT_NE(missing.detail.find("box 007"), std::string::npos) << missing.detail;
    EXPECT_TRUE(Empty(work.path()));
}

// Names are the records' own, whatever they hold: nothing is cut but at the
// field's end, nothing is read as a path.
TEST(BackupListing, NamesAreListedAsTheRecordsHoldThem) {
    vttest::TempDir work;
    Listing l = List(Corpus("whole-hostile-names"), work.path());
    ASSERT_EQ(l.rc, 0u) << l.detail;
    std::vector<std::string> names;
    for (const auto &e : l.entries) names.push_back(e.Name);
    std::string smileys;
    for (int i = 0; i < 32; ++i) smileys += "\xF0\x9F\x98\x80";
    EXPECT_EQ(names,
              (std::vector<std::string>{"Box 1", "../..", "..", "..", "../../etc/passwd", "a/b\\c",
                                        "\x1b]0;owned\x07\r\n", smileys, "Report", "Report", ".hidden", "", "CON"}));
}

// The listing reads a file through the checks of verify and the restore: it
// lists exactly the files that verify calls whole, and refuses the others
// as damaged.
TEST(BackupListing, ListsWhatVerifyCallsWholeAndNothingElse) {
    vttest::TempDir work;
    size_t files = 0;
    for (const auto &entry : fs::directory_iterator(BACKUP_CORPUS_DIR)) {
        const std::string file = entry.path().string();
        SCOPED_TRACE(entry.path().filename().string());
        uint32_t count = 0;
        VTCHECKITEM *items = nullptr;
        void *handle = nullptr;
        uint32_t verified = vtBoxCheckBackup(file.c_str(), work.path().c_str(), &count, &items, &handle);
        GlobalFree(handle);
        Listing l = List(file, work.path());
        EXPECT_EQ(l.rc, verified == 0 ? 0u : static_cast<uint32_t>(VTBOX_E_DAMAGED_FILE)) << l.detail;
        EXPECT_EQ(verified == 0, entry.path().filename().string().rfind("whole-", 0) == 0);
        EXPECT_TRUE(Empty(work.path()));
        ++files;
    }
    EXPECT_GE(files, 25u);
}

}  // namespace
