// Central directories with zip64 records, as archives over 4 GiB have them,
// built byte by byte so that the test stays small and fast.
#include <gtest/gtest.h>
#include <zlib.h>

#include "archive_helpers.hpp"
#include "packaging/folder_archive.hpp"
#include "packaging/zip_reader.hpp"
#include "temp_dir.hpp"

namespace {

using namespace pkgtest;
using vttest::TempDir;

void Put16(std::string &out, uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string &out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}
void Put64(std::string &out, uint64_t v) {
    Put32(out, static_cast<uint32_t>(v));
    Put32(out, static_cast<uint32_t>(v >> 32));
}

struct Entry {
    std::string name, data;
    bool deflate, zip64;
};

// An archive whose zip64 entries keep sizes and offset in the zip64 extra
// field only (the 32-bit fields hold 0xFFFFFFFF), ended by zip64 records.
std::string BuildArchive(const std::vector<Entry> &entries) {
    std::string file, central;
    for (const auto &e : entries) {
        const std::string stored = e.deflate ? RawDeflate(e.data) : e.data;
        const uint32_t crc = crc32(0, reinterpret_cast<const Bytef *>(e.data.data()), static_cast<uInt>(e.data.size()));
        const uint64_t offset = file.size();
        Put32(file, 0x04034b50);
        Put16(file, 45);
        Put16(file, 0);
        Put16(file, e.deflate ? 8 : 0);
        Put32(file, 0x5A2F6000);  // 2025-01-15 12:00
        Put32(file, crc);
        Put32(file, static_cast<uint32_t>(stored.size()));
        Put32(file, static_cast<uint32_t>(e.data.size()));
        Put16(file, static_cast<uint32_t>(e.name.size()));
        Put16(file, 0);
        file += e.name + stored;

        Put32(central, 0x02014b50);
        Put16(central, 45);
        Put16(central, 45);
        Put16(central, 0);
        Put16(central, e.deflate ? 8 : 0);
        Put32(central, 0x5A2F6000);
        Put32(central, crc);
        Put32(central, e.zip64 ? 0xFFFFFFFFu : static_cast<uint32_t>(stored.size()));
        Put32(central, e.zip64 ? 0xFFFFFFFFu : static_cast<uint32_t>(e.data.size()));
        Put16(central, static_cast<uint32_t>(e.name.size()));
        Put16(central, e.zip64 ? 28 : 0);
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put32(central, 0x20);
        Put32(central, e.zip64 ? 0xFFFFFFFFu : static_cast<uint32_t>(offset));
        central += e.name;
        if (e.zip64) {
            Put16(central, 0x0001);
            Put16(central, 24);
            Put64(central, e.data.size());
            Put64(central, stored.size());
            Put64(central, offset);
        }
    }
    const uint64_t central_at = file.size(), n = entries.size();
    file += central;
    const uint64_t zip64_end_at = file.size();
    Put32(file, 0x06064b50);
    Put64(file, 44);
    Put16(file, 45);
    Put16(file, 45);
    Put32(file, 0);
    Put32(file, 0);
    Put64(file, n);
    Put64(file, n);
    Put64(file, central.size());
    Put64(file, central_at);
    Put32(file, 0x07064b50);
    Put32(file, 0);
    Put64(file, zip64_end_at);
    Put32(file, 1);
    Put32(file, 0x06054b50);
    Put16(file, 0);
    Put16(file, 0);
    Put16(file, static_cast<uint32_t>(n));
    Put16(file, static_cast<uint32_t>(n));
    Put32(file, static_cast<uint32_t>(central.size()));
    Put32(file, 0xFFFFFFFFu);
    Put16(file, 0);
    return file;
}

TEST(Zip64Records, EntriesWithSizesAndOffsetOnlyInZip64FieldsUnpackWhole) {
    KeepCwd keep;
    TempDir dir;
    const std::string page = PageBytes(200000, 7);
    WriteFile(dir / "big.zip", BuildArchive({{"BOX\\plain.txt", "32-bit fields", false, false},
                                             {"BOX\\DATA.zip", page, true, true},
                                             {"BOX/DATABASE.vtb", "stored, zip64", false, true}}));
    vtbox::ZipReader reader;
    ASSERT_TRUE(reader.Open(dir / "big.zip"));
    ASSERT_TRUE(reader.Locate("BOX\\DATA.zip", false));
    vtbox::ZipEntryInfo info;
    ASSERT_TRUE(reader.CurrentInfo(&info));
    EXPECT_EQ(info.uncompressedSize, page.size());
    reader.Close();

    ASSERT_EQ(vtbox::UnzipArchive(dir / "big.zip", dir / "out"), 0u);
    EXPECT_EQ(Snapshot(dir / "out"), (std::map<std::string, std::string>{{"BOX/", ""},
                                                                         {"BOX/plain.txt", "32-bit fields"},
                                                                         {"BOX/DATA.zip", page},
                                                                         {"BOX/DATABASE.vtb", "stored, zip64"}}));
}

TEST(Zip64Records, ADamagedZip64EntryFailsWithoutAFile) {
    KeepCwd keep;
    TempDir dir;
    const std::string page = PageBytes(50000, 8);
    std::string bytes = BuildArchive({{"page.bin", page, true, true}});
    bytes[30 + 8 + 200] ^= 0x21;
    WriteFile(dir / "bad.zip", bytes);
    EXPECT_NE(vtbox::UnzipArchive(dir / "bad.zip", dir / "out"), 0u);
    EXPECT_FALSE(fs::exists(dir / "out/page.bin"));

    // Sizes that claim more than the archive holds are refused too.
    std::string lying = BuildArchive({{"page.bin", page, true, true}});
    size_t extra = lying.find(std::string("\x01\x00\x18\x00", 4));
    ASSERT_NE(extra, std::string::npos);
    lying[extra + 4 + 8 + 5] = 0x7F;  // compressed size far beyond the file
    WriteFile(dir / "lying.zip", lying);
    EXPECT_NE(vtbox::UnzipArchive(dir / "lying.zip", dir / "out2"), 0u);
    EXPECT_FALSE(fs::exists(dir / "out2/page.bin"));
}

}  // namespace
