#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "debug_capture.hpp"
#include "packaging/folder_archive.hpp"
#include "temp_dir.hpp"
#include "vtBoxBRD.h"

namespace {

namespace fs = std::filesystem;

using vttest::KeepCwd;

std::string BackupXml(const std::string &version, const std::string &boxes, int count) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<BackupInfo>\r\n<EngineVersion>" + version +
           "</EngineVersion>\r\n<MACAddress>AA:BB</MACAddress>\r\n<BackupDate>2025/03/04 05:06:07</BackupDate>\r\n"
           "<Timezone>GMT+01:00</Timezone>\r\n<Boxes NumOfBoxes=\"" +
           std::to_string(count) + "\">\r\n" + boxes + "</Boxes>\r\n</BackupInfo>";
}

std::string Box(int no, const std::string &name, const std::string &prot) {
    return "<BoxProp>\r\n<BoxName>" + name + "</BoxName>\r\n<BoxNo>" + std::to_string(no) + "</BoxNo>\r\n<Protected>" +
           prot +
           "</Protected>\r\n<NumOfFolders>3</NumOfFolders>\r\n<NumOfDocs>40</NumOfDocs>\r\n"
           "<BoxUsedDisk>900</BoxUsedDisk>\r\n</BoxProp>\r\n";
}

class DescriptionReader : public ::testing::Test {
protected:
    // Packs files into dir/<name>.zip as BOX\<file>.
    std::string Pack(const std::string &name, const std::vector<std::pair<std::string, std::string>> &files) {
        fs::path src = fs::path(dir.path()) / ("src-" + name) / "BOX";
        fs::create_directories(src);
        for (const auto &[file, text] : files) std::ofstream(src / file, std::ios::binary) << text;
        std::string archive = dir / (name + ".zip");
        EXPECT_EQ(vtbox::ZipFolder(archive, src.string()), 0u);
        return archive;
    }
    uint32_t Read(const std::string &archive) {
        if (handle) GlobalFree(handle);
        handle = nullptr;
        boxes = nullptr;
        return vtBoxGetXMLInfo(archive.c_str(), work.c_str(), &info, &count, &boxes, &handle);
    }
    void TearDown() override {
        if (handle) GlobalFree(handle);
    }
    KeepCwd keep;
    vttest::TempDir dir;
    std::string work = [this] {
        fs::create_directories(dir / "work");
        return dir / "work";
    }();
    VTBACKUPINFO info{};
    uint32_t count = 0;
    VTBOXBK *boxes = nullptr;
    void *handle = nullptr;
};

TEST_F(DescriptionReader, ABackupDescription) {
    std::string a = Pack("a", {{"Backup.XML", BackupXml("Korvo-B V1.3.0.0" + std::string(24, ' '),
                                                        Box(4, "A &amp; B", "yes") + Box(9, " Padded ", "Yes"), 2)}});
    ASSERT_EQ(Read(a), 0u);
    EXPECT_EQ(info.Kind, 1u);
    EXPECT_STREQ(info.EngineVersion, "Korvo-B V1.3.0.0");
    EXPECT_STREQ(info.MACAddress, "AA:BB");
    EXPECT_EQ(info.Date.wYear, 2025);
    EXPECT_EQ(info.Date.wMonth, 3);
    EXPECT_EQ(info.Date.wDay, 4);
    EXPECT_EQ(info.Date.wHour, 5);
    EXPECT_EQ(info.Date.wMinute, 6);
    EXPECT_EQ(info.Date.wSecond, 7);
    EXPECT_EQ(info.Date.wDayOfWeek + info.Date.wMilliseconds, 0);
    ASSERT_EQ(count, 2u);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(static_cast<void *>(boxes), handle);
    EXPECT_EQ(boxes[0].BoxNo, 4u);
    EXPECT_STREQ(boxes[0].BoxName, "A & B");
    EXPECT_EQ(boxes[0].Protected, 1u);
    EXPECT_EQ(boxes[1].Protected, 0u);  // "Yes" is not "yes"
    EXPECT_STREQ(boxes[1].BoxName, "Padded");
    EXPECT_EQ(boxes[1].NumOfFolders, 3u);
    EXPECT_EQ(boxes[1].NumOfDocs, 40u);
    EXPECT_EQ(boxes[1].BoxUsedDisk, 900u);
    EXPECT_TRUE(fs::is_empty(work));
}

TEST_F(DescriptionReader, AnArchiveDescriptionAndAFileWithBoth) {
    std::string archive =
        Pack("arch", {{"Archive.XML",
                       "<ArchiveInfo><Version>Korvo-C V1.3.0.0</Version><MACAddress>M</MACAddress>"
                       "<NumOfDocs>17</NumOfDocs><ArchiveDate>2024/1/2</ArchiveDate></ArchiveInfo>"}});
    ASSERT_EQ(Read(archive), 0u);
    EXPECT_EQ(info.Kind, 2u);
    EXPECT_EQ(count, 17u);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(info.Date.wYear, 2024);
    EXPECT_EQ(info.Date.wDay, 2);
    EXPECT_EQ(info.Date.wHour, 0);  // missing parts stay 0

    std::string both =
        Pack("both", {{"Archive.XML", "<ArchiveInfo/>"}, {"Backup.XML", BackupXml("Korvo-B V1.3.0.0", "", 0)}});
    ASSERT_EQ(Read(both), 0u);
    EXPECT_EQ(info.Kind, 1u);
    EXPECT_EQ(count, 0u);
    EXPECT_NE(handle, nullptr);
}

TEST_F(DescriptionReader, VersionsThatAreRefused) {
    vttest::DebugCapture cap;
    EXPECT_EQ(Read(Pack("old", {{"Backup.XML", BackupXml("Korvo-B V1.1.0.0", "", 0)}})), 50u);
    EXPECT_NE(cap.text().find("Vaultra Version \"Korvo-B V1.1.0.0\" is Old and Unsupported \n"), std::string::npos);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(boxes, nullptr);
    EXPECT_EQ(Read(Pack("new", {{"Backup.XML", BackupXml("Korvo-B V2.0.0.0", Box(1, "x", "no"), 1)}})), 1605u);
    EXPECT_EQ(handle, nullptr);
    EXPECT_TRUE(fs::is_empty(work));
}

TEST_F(DescriptionReader, FilesThatAreNotDescriptions) {
    std::ofstream(dir / "plain.zip") << "not a zip at all";
    EXPECT_EQ(Read(dir / "plain.zip"), 1392u);
    EXPECT_EQ(Read(Pack("other", {{"readme.txt", "hello"}})), 1392u);
    EXPECT_EQ(Read(Pack("broken", {{"Backup.XML", "<BackupInfo><Boxes NumOfBoxes=\"1\">"}})), 13u);
    EXPECT_EQ(Read(Pack("short", {{"Backup.XML", BackupXml("Korvo-B V1.3.0.0", Box(1, "x", "no"), 2)}})), 11u);
    EXPECT_EQ(handle, nullptr);
    // A box number is read as written, never wrapped into the device's range.
    for (const std::string no : {"-4294967295", "0", "1000", "4294967297", "1e2"}) {
        std::string box = Box(1, "x", "no");
        box.replace(box.find("<BoxNo>1<") + 7, 1, no);
        EXPECT_EQ(Read(Pack("number" + std::to_string(no.size()) + no.substr(0, 1),
                            {{"Backup.XML", BackupXml("Korvo-B V1.3.0.0", box, 1)}})),
                  11u)
            << no;
        EXPECT_EQ(handle, nullptr) << no;
    }
    EXPECT_EQ(Read(Pack("nomac",
                        {{"Backup.XML", "<BackupInfo><EngineVersion>Korvo-B V1.3.0.0</EngineVersion></BackupInfo>"}})),
              11u);
    EXPECT_TRUE(fs::is_empty(work));
}

TEST_F(DescriptionReader, ADescriptionThatDeclaresADocumentTypeIsRefused) {
    std::string xml = BackupXml("Korvo-B V1.3.0.0", Box(1, "&n;", "no"), 1);
    xml.insert(xml.find("<BackupInfo>"), "<!DOCTYPE BackupInfo [<!ENTITY n \"name\">]>");
    EXPECT_EQ(Read(Pack("dtd", {{"Backup.XML", xml}})), 13u);
    EXPECT_NE(std::string(vtBoxGetLastErrorText()).find("DOCTYPE"), std::string::npos) << vtBoxGetLastErrorText();
    EXPECT_EQ(handle, nullptr);
    EXPECT_TRUE(fs::is_empty(work));
}

// A description that unpacks to far more than any description holds (a few
// KB packed, 64 MB unpacked) is refused before it is unpacked or read.
TEST_F(DescriptionReader, AHugeDescriptionIsRefusedUnread) {
    std::string xml = BackupXml("Korvo-B V1.3.0.0", Box(1, "x", "no"), 1);
    xml.insert(xml.find("<BackupInfo>") + 12, std::string(64u << 20, ' '));
    std::string archive = Pack("huge", {{"Backup.XML", xml}});
    fs::remove_all(dir / "src-huge");
    EXPECT_LT(fs::file_size(archive), 1u << 20);
    EXPECT_EQ(Read(archive), 1392u);
    EXPECT_NE(std::string(vtBoxGetLastErrorText()).find("a description holds at most"), std::string::npos)
        << vtBoxGetLastErrorText();
    EXPECT_TRUE(fs::is_empty(work));
}

TEST_F(DescriptionReader, AFileOfTheCallersInTheWorkFolderIsLeftAlone) {
    std::ofstream(fs::path(work) / "Backup.XML") << "mine";
    ASSERT_EQ(Read(Pack("a", {{"Backup.XML", BackupXml("Korvo-B V1.3.0.0", "", 0)}})), 0u);
    std::ifstream in(fs::path(work) / "Backup.XML");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "mine");
}

}  // namespace

namespace {

// The zone a backup records for its date, both signs; none recorded and a
// zone that cannot be read are told apart from a zone of +00:00.
TEST_F(DescriptionReader, TimeZoneOfTheBackupDate) {
    int n = 0;
    auto zone = [&](const std::string &xml, int32_t *minutes) {
        std::string archive = Pack("zone" + std::to_string(++n), {{"Backup.XML", xml}});
        return vtBoxGetBackupTimeZone(archive.c_str(), work.c_str(), minutes);
    };
    std::string base = BackupXml("Korvo-B V1.3.0.0", "", 0);
    int32_t minutes = 1;
    ASSERT_EQ(zone(base, &minutes), 0u);
    EXPECT_EQ(minutes, 60);
    std::string west = base;
    west.replace(west.find("GMT+01:00"), 9, "GMT-05:30");
    ASSERT_EQ(zone(west, &minutes), 0u);
    EXPECT_EQ(minutes, -330);
    std::string none = base;
    none.erase(none.find("<Timezone>"), std::string("<Timezone>GMT+01:00</Timezone>\r\n").size());
    EXPECT_EQ(zone(none, &minutes), 1168u);
    std::string bad = base;
    bad.replace(bad.find("GMT+01:00"), 9, "GMT+1:00x");
    EXPECT_EQ(zone(bad, &minutes), 13u);
    EXPECT_EQ(fs::directory_iterator(work), fs::directory_iterator()) << "the work folder is left as it was";
}

}  // namespace
