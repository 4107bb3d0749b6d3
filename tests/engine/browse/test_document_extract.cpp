// vtBoxExtractDocuments: documents of a backup written into a local folder,
// whatever their names hold, never anywhere else; and the names it makes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "browse/local_names.hpp"
#include "temp_dir.hpp"
#include "vtBoxBRD.h"
#include "vthandles.hpp"

namespace {

namespace fs = std::filesystem;

struct Extracted {
    uint32_t rc = 0;
    std::string detail;
    std::vector<VTEXTRACTED> documents;
};

Extracted Extract(const std::string &file, const std::string &target, const std::vector<VTBACKUPITEM> &items,
                  HANDLE cancel = nullptr) {
    vttest::TempDir work;
    Extracted x;
    uint32_t count = 0;
    VTEXTRACTED *written = nullptr;
    vt::GlobalBlock block(vtBoxExtractDocuments(file.c_str(), work.path().c_str(), target.c_str(),
                                                static_cast<uint32_t>(items.size()), items.data(), cancel, &count,
                                                &written));
    x.rc = block ? 0 : GetLastError();
    x.detail = vtBoxGetLastErrorText();
    if (block) x.documents.assign(written, written + count);
    EXPECT_TRUE(fs::is_empty(work.path())) << "the work folder is left as it was";
    return x;
}

std::string Corpus(const char *name) { return std::string(BACKUP_CORPUS_DIR) + "/" + name + ".zip"; }

std::string Bytes(const fs::path &file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// "D0000010.XML" for "10".
std::string RecordName(const std::string &number) {
    char name[32];
    std::snprintf(name, sizeof name, "D%07d.XML", std::stoi(number));
    return name;
}

// Every path under root, links not followed.
std::set<std::string> Tree(const fs::path &root) {
    std::set<std::string> out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
        out.insert(it->path().lexically_relative(root).string());
    return out;
}

// Names that are paths, controls, hidden, empty or taken: every document
// lands in a folder of its own right inside the target, and nothing of the
// backup reaches anywhere else, a link in the target included.
TEST(ExtractDocuments, HostileNamesStayInsideTheTarget) {
    vttest::TempDir outer;
    const fs::path target = fs::path(outer.path()) / "target", elsewhere = fs::path(outer.path()) / "elsewhere";
    fs::create_directories(target / "Report");
    std::ofstream(target / "Report" / "mine.txt") << "mine";
    fs::create_directories(elsewhere);
    fs::create_directory_symlink(elsewhere, target / "CON");

    Extracted x = Extract(Corpus("whole-hostile-names"), target, {{1, 0, 0}});
    ASSERT_EQ(x.rc, 0u) << x.detail;
    std::string smileys;
    for (int i = 0; i < 32; ++i) smileys += "\xF0\x9F\x98\x80";
    std::map<std::string, std::string> folders;  // folder made -> the document's number and name
    for (const auto &d : x.documents)
        folders[d.Folder] = std::to_string(d.FolderNo) + "/" + std::to_string(d.DocNo) + " " + d.Name;
    EXPECT_EQ(folders, (std::map<std::string, std::string>{
                           {"_..", "0/1 .."},
                           {"_.._.._etc_passwd", "0/2 ../../etc/passwd"},
                           {"a_b_c", "0/3 a/b\\c"},
                           {"_]0;owned___", "0/4 \x1b]0;owned\x07\r\n"},
                           {smileys, "0/5 " + smileys},
                           {"Report (2)", "0/6 Report"},
                           {"Report (3)", "0/7 Report"},
                           {"_.hidden", "0/8 .hidden"},
                           {"D0000009", "0/9 "},
                           {"CON (2)", "0/10 CON"},
                           {"_.. (2)", "1/1 .."},
                       }));
    EXPECT_TRUE(fs::is_empty(elsewhere)) << "nothing is written through a link";
    EXPECT_EQ(Tree(outer.path()).count("elsewhere"), 1u);
    std::set<std::string> expected = {"Report", "Report/mine.txt", "CON"};
    for (const auto &[folder, what] : folders) {
        expected.insert(folder);
        const std::string number = what.substr(what.find('/') + 1, what.find(' ') - what.find('/') - 1);
        expected.insert(folder + "/" + RecordName(number));
        expected.insert(folder + "/PAGE0001.DAT");
    }
    EXPECT_EQ(Tree(target), expected);
    EXPECT_EQ(Bytes(target / "Report" / "mine.txt"), "mine");
    struct stat st {};
    ASSERT_EQ(stat((target / "a_b_c" / "PAGE0001.DAT").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_size, 600);
    EXPECT_EQ(x.documents[0].NumOfFiles, 2u);
    EXPECT_EQ(x.documents[0].Size, 512u + 600u);
}

// A chosen part the file lacks, a damaged file or a cancel: nothing is
// written.
TEST(ExtractDocuments, NothingIsWrittenForAMissingPartADamagedFileOrACancel) {
    vttest::TempDir target;
    Extracted missing = Extract(Corpus("whole-plain"), target.path(), {{1, 0, 1}, {1, 1, 7}});
    EXPECT_EQ(missing.rc, static_cast<uint32_t>(VTBOX_E_NOT_FOUND));
    EXPECT_NE(missing.detail.find("box 001, folder 001, document 007"), std::string::npos) << missing.detail;
    Extracted damaged = Extract(Corpus("damaged-page-crc"), target.path(), {{1, 0, 1}});
    EXPECT_EQ(damaged.rc, static_cast<uint32_t>(VTBOX_E_DAMAGED_FILE));
    vt::OwnedHandle cancel = vt::NewEvent(true);
    SetEvent(cancel.get());
    Extracted cancelled = Extract(Corpus("whole-plain"), target.path(), {{1, 0, 0}}, cancel.get());
    EXPECT_EQ(cancelled.rc, static_cast<uint32_t>(VTBOX_E_CANCELLED));
    EXPECT_TRUE(fs::is_empty(target.path()));
}

// A document in a folder, chosen alone, comes out alone.
TEST(ExtractDocuments, OnlyTheChosenDocument) {
    vttest::TempDir target;
    Extracted x = Extract(Corpus("whole-plain"), target.path(), {{1, 1, 2}});
    ASSERT_EQ(x.rc, 0u) << x.detail;
    EXPECT_EQ(Tree(target.path()), (std::set<std::string>{"Invoice", "Invoice/D0000002.XML", "Invoice/PAGE0001.DAT"}));
}

TEST(LocalNames, AreCutAtTheirBoundNeverInsideACharacter) {
    // 66 three-byte characters: 198 bytes fit, the 67th would not.
    std::string name;
    for (int i = 0; i < 70; ++i) name += "\xE2\x82\xAC";
    const std::string cut = vtbox::SafeLocalName(name, "x");
    EXPECT_EQ(cut.size(), 198u);
    EXPECT_EQ(cut, name.substr(0, 198));
    EXPECT_EQ(vtbox::SafeLocalName(std::string(vtbox::kMaxLocalNameBytes, 'a'), "x").size(), vtbox::kMaxLocalNameBytes);
    EXPECT_EQ(vtbox::SafeLocalName(std::string(vtbox::kMaxLocalNameBytes + 1, 'a'), "x").size(),
              vtbox::kMaxLocalNameBytes);
    // Bytes that are no UTF-8, and a C1 control, become "_".
    EXPECT_EQ(vtbox::SafeLocalName("a\xFF\xC2\x85z\xC3", "x"), "a__z_");
    // A bidirectional control would show the name in another order.
    EXPECT_EQ(vtbox::SafeLocalName("a\xE2\x80\xAE"
                                   "exe.gpj\xE2\x81\xA6\xD8\x9C",
                                   "x"),
              "a_exe.gpj__");
}

}  // namespace
