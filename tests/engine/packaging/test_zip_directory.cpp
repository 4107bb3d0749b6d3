// An archive's list of entries is checked whole before anything of it is
// unpacked: entries that share data or lie outside the file, names that
// clash, more entries than can be, and data that inflates to more than its
// entry declares.
#include <gtest/gtest.h>

#include "archive_helpers.hpp"
#include "packaging/folder_archive.hpp"
#include "packaging/zip_reader.hpp"
#include "temp_dir.hpp"
#include "vtplatform.h"

namespace {

using namespace pkgtest;
using vttest::TempDir;

constexpr uint32_t kCorrupt = 1392;

// Opens bytes as an archive: "" when accepted, else why it was refused.
std::string Refusal(const TempDir &dir, const std::string &bytes) {
    WriteFile(dir / "a.zip", bytes);
    vtbox::ZipReader zip;
    if (zip.Open(dir / "a.zip")) return "";
    EXPECT_EQ(GetLastError(), kCorrupt);
    return zip.problem().empty() ? "refused" : zip.problem();
}

bool Has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

// The 92 KB file that inflated to a gigabyte: many records, one stream.
TEST(ZipDirectory, EntriesThatShareDataOrLeaveTheFileAreRefusedBeforeAnythingIsUnpacked) {
    KeepCwd keep;
    TempDir dir;
    const std::string page(64 * 1024, 'p');

    RawArchive shared;
    RawArchive::Record one = shared.Local("B0000001\\PAGE0001.DAT", page);
    for (int i = 1; i <= 5; ++i) {
        RawArchive::Record r = one;
        r.name = "B0000001\\PAGE000" + std::to_string(i) + ".DAT";
        shared.Central(r);
    }
    EXPECT_TRUE(Has(Refusal(dir, shared.Finish()), "overlap"));
    EXPECT_NE(vtbox::UnzipArchive(dir / "a.zip", dir / "out"), 0u);
    EXPECT_FALSE(fs::exists(dir / "out/B0000001"));

    // The second header inside the first entry's data.
    RawArchive inside;
    RawArchive::Record first = inside.Local("a.bin", page, false);
    inside.Central(first);
    RawArchive::Record second = first;
    second.name = "b.bin";
    second.offset = first.offset + 100;
    second.compressed = second.size = 10;
    inside.Central(second);
    EXPECT_FALSE(Refusal(dir, inside.Finish()).empty());

    // Data said to run into the central directory, and a header behind it.
    RawArchive past;
    RawArchive::Record longer = past.Local("a.bin", "short", false);
    longer.compressed = longer.size = 5000;
    past.Central(longer);
    EXPECT_TRUE(Has(Refusal(dir, past.Finish()), "outside the file"));
    RawArchive behind;
    RawArchive::Record far = behind.Local("a.bin", "x", false);
    far.offset = 1u << 20;
    behind.Central(far);
    EXPECT_TRUE(Has(Refusal(dir, behind.Finish()), "outside the file"));

    // Entries one after the other read as ever.
    RawArchive fine;
    fine.Entry("a.bin", page);
    fine.Entry("b.bin", "b", false);
    EXPECT_EQ(Refusal(dir, fine.Finish()), "");
    ASSERT_EQ(vtbox::UnzipArchive(dir / "a.zip", dir / "fine"), 0u);
    EXPECT_EQ(ReadFile(dir / "fine/a.bin"), page);
}

TEST(ZipDirectory, NamesAtAnyLevelThatClashAreRefused) {
    TempDir dir;
    struct Case {
        std::vector<std::string> names;
        const char *why;  // "" when the archive is fine
    };
    const Case cases[] = {
        {{"BOX\\DATA.zip", "BOX\\DATA.zip"}, "two entries are named BOX\\DATA.zip"},
        {{"BOX\\DATA.zip", "BOX/DATA.zip"}, "two entries are named"},
        {{"DATA\\B0000001.vtb", "DATA\\b0000001.VTB"}, "differ only in case"},
        {{"DATA\\", "data\\"}, "differ only in case"},
        {{"B0000001\\P0000001\\D0000001.XML", "B0000001\\p0000001\\D0000002.XML"}, "the folders B0000001\\P0000001"},
        {{"DATA\\", "data\\B0000001.vtb"}, "the folders DATA and data"},
        {{"B0000001\\P0000001", "B0000001\\P0000001\\D0000001.XML"}, "is a file, and"},
        {{"a\\b", "A\\B\\c"}, "differ only in case"},
        {{"DATA\\", "DATA\\B0000001.vtb", "DATA/B0000002.vtb", "DATA\\B0000002.vtbx", "DATAX"}, ""},
    };
    for (const Case &c : cases) {
        std::vector<std::pair<std::string, std::string>> entries;
        for (const auto &name : c.names) entries.emplace_back(name, name.back() == '\\' ? "" : "data");
        ASSERT_TRUE(CraftArchive(dir / "names.zip", entries));
        vtbox::ZipReader zip;
        bool opened = zip.Open(dir / "names.zip");
        SCOPED_TRACE(c.names.front() + " / " + c.names.back());
        if (*c.why == '\0') {
            EXPECT_TRUE(opened) << zip.problem();
        } else {
            EXPECT_FALSE(opened);
            EXPECT_TRUE(Has(zip.problem(), c.why)) << zip.problem();
        }
    }
}

// What the end record says is not trusted with memory: more entries than
// the file has room for, or than any archive of ours holds, are refused
// before one is read.
TEST(ZipDirectory, NoMoreEntriesAreReadThanTheBoundOrTheFileHolds) {
    TempDir dir;
    RawArchive one;
    one.Entry("a.bin", "a", false);
    std::string bytes = one.Finish();
    // Counts of the end record (on this disk, in all) raised to 65,535.
    const size_t end = bytes.size() - 22;
    for (size_t at : {end + 8, end + 10}) bytes[at] = bytes[at + 1] = '\xff';
    EXPECT_TRUE(Has(Refusal(dir, bytes), "more than the file can hold"));

    // A zip64 end record that counts one entry more than the bound (behind
    // a few bytes: minizip takes one at the very start for none).
    std::string file(16, '\0');
    const uint64_t count = vtbox::kMaxArchiveEntries + 1;
    auto put64 = [](std::string &out, uint64_t v) {
        RawArchive::put32(out, static_cast<uint32_t>(v));
        RawArchive::put32(out, static_cast<uint32_t>(v >> 32));
    };
    RawArchive::put32(file, 0x06064b50);
    put64(file, 44);
    RawArchive::put16(file, 45);
    RawArchive::put16(file, 45);
    RawArchive::put32(file, 0);
    RawArchive::put32(file, 0);
    put64(file, count);
    put64(file, count);
    put64(file, 0);
    put64(file, 0);
    RawArchive::put32(file, 0x07064b50);
    RawArchive::put32(file, 0);
    put64(file, 16);
    RawArchive::put32(file, 1);
    RawArchive::put32(file, 0x06054b50);
    for (int i = 0; i < 4; ++i) RawArchive::put16(file, 0xFFFF);
    RawArchive::put32(file, 0xFFFFFFFFu);
    RawArchive::put32(file, 0xFFFFFFFFu);
    RawArchive::put16(file, 0);
    EXPECT_TRUE(Has(Refusal(dir, file), "at most 1048576 are read"));
}

// An entry's sizes bound what it unpacks to: a stream that inflates beyond
// its declared size is damage, even when the bytes up to that size match the
// CRC, and so is one that ends before its compressed size.
TEST(ZipDirectory, DataThatInflatesBeyondItsDeclaredSizeIsDamage) {
    KeepCwd keep;
    TempDir dir;
    const std::string page(100000, 'z');
    RawArchive longer;
    RawArchive::Record r = longer.Local("PAGE0001.DAT", page);
    r.size = 100;
    r.crc = Crc32(page.substr(0, 100));
    longer.Central(r);
    WriteFile(dir / "long.zip", longer.Finish());

    RawArchive trailing;
    RawArchive::Record t = trailing.Local("PAGE0001.DAT", RawDeflate("page") + std::string(64, 'x'), false);
    t.method = 8;
    t.size = 4;
    t.crc = Crc32("page");
    trailing.Central(t);
    WriteFile(dir / "trailing.zip", trailing.Finish());

    for (const char *name : {"long.zip", "trailing.zip"}) {
        SCOPED_TRACE(name);
        vtbox::ZipReader zip;
        ASSERT_TRUE(zip.Open(dir / name));
        ASSERT_TRUE(zip.GotoFirst());
        EXPECT_FALSE(zip.CheckCurrent());
        EXPECT_EQ(GetLastError(), kCorrupt);
        EXPECT_NE(vtbox::UnzipArchive(dir / name, dir / "out"), 0u);
        EXPECT_FALSE(fs::exists(dir / "out/PAGE0001.DAT"));
    }
}

}  // namespace
