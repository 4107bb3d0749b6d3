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

// The same through vtBoxExtractDocumentsEach, whose callback ends it after
// stopAfter documents (0: never).
Extracted ExtractEach(const std::string &file, const std::string &target, const std::vector<VTBACKUPITEM> &items,
                      size_t stopAfter = 0) {
    vttest::TempDir work;
    struct Handed {
        std::vector<VTEXTRACTED> documents;
        size_t stopAfter;
    } handed{{}, stopAfter};
    Extracted x;
    x.rc = vtBoxExtractDocumentsEach(
        file.c_str(), work.path().c_str(), target.c_str(), static_cast<uint32_t>(items.size()), items.data(), nullptr,
        [](const VTEXTRACTED *d, void *context) -> uint32_t {
            auto *h = static_cast<Handed *>(context);
            h->documents.push_back(*d);
            return h->documents.size() == h->stopAfter ? 1 : 0;
        },
        &handed);
    EXPECT_EQ(x.rc, x.rc ? GetLastError() : 0u) << "the code is also the last error";
    x.detail = vtBoxGetLastErrorText();
    x.documents = std::move(handed.documents);
    EXPECT_TRUE(fs::is_empty(work.path())) << "the work folder is left as it was";
    return x;
}

// A written document as a line, every field of its record.
std::vector<std::string> Lines(const std::vector<VTEXTRACTED> &documents) {
    std::vector<std::string> out;
    for (const auto &d : documents)
        out.push_back(std::to_string(d.BoxNo) + "/" + std::to_string(d.FolderNo) + "/" + std::to_string(d.DocNo) + " " +
                      d.Name + " -> " + d.Folder + " " + std::to_string(d.NumOfFiles) + " " + std::to_string(d.Size));
    return out;
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
    // Boxes are written one at a time: the second box's parts are looked for
    // before the first box's documents are written.
    Extracted later = ExtractEach(Corpus("whole-two-boxes"), target.path(), {{1, 0, 0}, {2, 1, 7}});
    EXPECT_EQ(later.rc, static_cast<uint32_t>(VTBOX_E_NOT_FOUND));
    EXPECT_NE(later.detail.find("box 002, folder 001, document 007"), std::string::npos) << later.detail;
    EXPECT_TRUE(later.documents.empty());
    Extracted damaged = Extract(Corpus("damaged-page-crc"), target.path(), {{1, 0, 1}});
    EXPECT_EQ(damaged.rc, static_cast<uint32_t>(VTBOX_E_DAMAGED_FILE));
    vt::OwnedHandle cancel = vt::NewEvent(true);
    SetEvent(cancel.get());
    Extracted cancelled = Extract(Corpus("whole-plain"), target.path(), {{1, 0, 0}}, cancel.get());
    EXPECT_EQ(cancelled.rc, static_cast<uint32_t>(VTBOX_E_CANCELLED));
    EXPECT_TRUE(fs::is_empty(target.path()));
}

// Both exports write the same documents under the same names in the same
// order, by number within each box, also where the box archive gives a
// document's last page after the documents that follow it; the callback
// sees each as it is written, and may end the extraction there.
TEST(ExtractDocuments, EachDocumentIsHandedOutAsItIsWritten) {
    for (const char *name : {"whole-hostile-names", "whole-understated-size", "whole-two-boxes"}) {
        SCOPED_TRACE(name);
        vttest::TempDir block, each;
        const std::vector<VTBACKUPITEM> items = {{2, 0, 0}, {1, 0, 0}};
        const bool twoBoxes = std::string(name) == "whole-two-boxes";
        Extracted a = Extract(Corpus(name), block.path(), twoBoxes ? items : std::vector<VTBACKUPITEM>{{1, 0, 0}});
        Extracted b = ExtractEach(Corpus(name), each.path(), twoBoxes ? items : std::vector<VTBACKUPITEM>{{1, 0, 0}});
        ASSERT_EQ(a.rc, 0u) << a.detail;
        ASSERT_EQ(b.rc, 0u) << b.detail;
        EXPECT_EQ(Lines(a.documents), Lines(b.documents));
        EXPECT_EQ(Tree(block.path()), Tree(each.path()));
        if (std::string(name) == "whole-understated-size") {
            EXPECT_EQ(Lines(b.documents), (std::vector<std::string>{"1/0/1 Report -> Report 3 3146840",
                                                                    "1/1/2 Invoice -> Invoice 2 1112"}));
        }
        if (twoBoxes) {
            EXPECT_EQ(b.documents.front().BoxNo, 2u) << "boxes come in the order first named";
        }
    }
    // Ended by the caller after the first document: that one stays, whole,
    // and nothing else is left in the target.
    vttest::TempDir target;
    Extracted stopped = ExtractEach(Corpus("whole-hostile-names"), target.path(), {{1, 0, 0}}, 1);
    EXPECT_EQ(stopped.rc, static_cast<uint32_t>(VTBOX_E_CANCELLED));
    ASSERT_EQ(stopped.documents.size(), 1u);
    EXPECT_EQ(Tree(target.path()), (std::set<std::string>{"_..", "_../D0000001.XML", "_../PAGE0001.DAT"}));
    // A box found damaged keeps the documents of the boxes before it.
    vttest::TempDir partly;
    Extracted damaged = ExtractEach(Corpus("damaged-page-crc-in-second-box"), partly.path(), {{1, 0, 0}, {2, 0, 0}});
    EXPECT_EQ(damaged.rc, static_cast<uint32_t>(VTBOX_E_DAMAGED_FILE));
    EXPECT_EQ(Lines(damaged.documents),
              (std::vector<std::string>{"1/0/1 Report -> Report 2 1112", "1/1/2 Invoice -> Invoice 2 1112"}));
    EXPECT_EQ(Tree(partly.path()).size(), 6u);
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
