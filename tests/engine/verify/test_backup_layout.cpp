// The bounds of what a backup file's levels may unpack to, at their edges,
// and the names each level takes in which case. Only the lists of entries
// count here: the archives declare sizes their data never had.
#include <gtest/gtest.h>

#include "archive_helpers.hpp"
#include "store/layout.hpp"
#include "temp_dir.hpp"
#include "verify/backup_layout.hpp"

namespace {

using namespace pkgtest;
using vttest::TempDir;

struct Declared {
    std::string name;
    uint64_t size;  // as its central record has it
};

// The findings of check over an archive of the named entries.
template <typename Check>
std::vector<vtbox::BackupFinding> Judge(const TempDir &dir, const std::vector<Declared> &entries, Check check) {
    RawArchive raw;
    for (const auto &e : entries) {
        RawArchive::Record r = raw.Local(e.name, e.name.back() == '\\' ? "" : "x", false);
        r.size = e.size;
        raw.Central(r);
    }
    WriteFile(dir / "level.zip", raw.Finish());
    vtbox::ZipReader zip;
    EXPECT_TRUE(zip.Open(dir / "level.zip")) << zip.problem();
    vtbox::BackupFindings findings;
    check(zip, &findings);
    return findings;
}

std::string Texts(const vtbox::BackupFindings &findings) {
    std::string out;
    for (const auto &f : findings) out += vtbox::FindingText(f) + "\n";
    return out;
}

VTBOXBK Box(uint32_t number, uint32_t used_kb, uint32_t docs = 0, uint32_t folders = 0) {
    VTBOXBK b{};
    b.BoxNo = number;
    b.BoxUsedDisk = used_kb;
    b.NumOfDocs = docs;
    b.NumOfFolders = folders;
    return b;
}

// The outer three levels' checks for the described boxes, as Judge takes them.
struct Levels {
    vtbox::DescribedBoxes boxes;
    auto outer() const {
        return [this](const vtbox::ZipReader &z, vtbox::BackupFindings *f) { vtbox::CheckOuterLevel(z, boxes, f); };
    }
    auto records() const {
        return [this](const vtbox::ZipReader &z, vtbox::BackupFindings *f) { vtbox::CheckRecordsLevel(z, boxes, f); };
    }
    auto data() const {
        return [this](const vtbox::ZipReader &z, vtbox::BackupFindings *f) { vtbox::CheckDataLevel(z, boxes, f); };
    }
};

TEST(BackupLayout, EachLevelHoldsNoMoreThanItsBound) {
    TempDir dir;
    const VTBOXBK box = Box(1, 100, 1);
    const uint64_t bound = vtbox::BoxBytesBound(box);
    EXPECT_EQ(bound, 100u * 1024 * vtbox::kDeclaredSizeFactor + vtbox::kDeclaredSizeSlack);
    const Levels levels{{{1, box}}};
    const std::string page = "B0000001\\P0000001\\D0000001\\PAGE0001.DAT";

    // A box archive's entries together, then the archive itself in DATA.zip,
    // a box record, the description.
    for (uint64_t extra : {uint64_t{0}, uint64_t{1}}) {
        SCOPED_TRACE(extra);
        auto findings = Judge(dir, {{"B0000001\\P0000001\\D0000001.XML", 512}, {page, bound - 512 + extra}},
                              [&](const vtbox::ZipReader &z, vtbox::BackupFindings *f) {
                                  EXPECT_EQ(vtbox::CheckBoxLevel(z, box, f), extra == 0);
                              });
        EXPECT_EQ(findings.empty(), extra == 0) << Texts(findings);
        findings = Judge(dir, {{"DATA\\", 0}, {"DATA\\B0000001.vtb", bound + extra}}, levels.data());
        EXPECT_EQ(findings.empty(), extra == 0) << Texts(findings);
        findings = Judge(dir, {{"DATABASE\\B0000001.XML", vtbox::kMaxBoxRecordBytes + extra}}, levels.records());
        EXPECT_EQ(findings.empty(), extra == 0) << Texts(findings);
        findings = Judge(
            dir,
            {{"BOX\\Backup.XML", vtbox::kMaxDescriptionBytes + extra}, {"BOX\\DATABASE.vtb", 1}, {"BOX\\DATA.zip", 1}},
            levels.outer());
        EXPECT_EQ(findings.empty(), extra == 0) << Texts(findings);
    }
    // DATA.zip in the file: what its described boxes may take, with room for headers.
    auto findings = Judge(dir, {{"BOX\\Backup.XML", 1}, {"BOX\\DATABASE.vtb", 1}, {"BOX\\DATA.zip", bound + 10 * 1024}},
                          levels.outer());
    EXPECT_NE(Texts(findings).find("would unpack to"), std::string::npos) << Texts(findings);
}

// The outer names and DATA.zip's may come in another case (a system that
// ignores case wrote them); the records' and the box's are the device's own.
TEST(BackupLayout, WhichNamesMayDifferInCase) {
    TempDir dir;
    const Levels levels{{{1, Box(1, 100)}}};
    auto box = [&](const vtbox::ZipReader &z, vtbox::BackupFindings *f) { vtbox::CheckBoxLevel(z, Box(1, 100, 1), f); };
    EXPECT_TRUE(Judge(dir, {{"box\\", 0}, {"box\\backup.xml", 1}, {"box\\database.VTB", 1}, {"box\\Data.Zip", 1}},
                      levels.outer())
                    .empty());
    EXPECT_TRUE(Judge(dir, {{"data\\b0000001.VTB", 1}}, levels.data()).empty());
    EXPECT_FALSE(Judge(dir, {{"DATABASE\\b0000001.xml", 1}}, levels.records()).empty());
    for (const char *folder : {"b0000001", "B0000001"}) {
        const std::string level = std::string(folder) + "\\P0000001\\";
        auto findings = Judge(dir, {{level + "D0000001.XML", 1}, {level + "D0000001\\PAGE0001.DAT", 1}}, box);
        EXPECT_EQ(findings.empty(), folder[0] == 'B') << Texts(findings);
    }
}

}  // namespace
