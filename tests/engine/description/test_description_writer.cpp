#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "description/description_writer.hpp"
#include "session/result.hpp"
#include "temp_dir.hpp"

namespace {

std::string ReadAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(DescriptionWriter, WritesTheDesignedLinesExactly) {
    vttest::TempDir dir;
    std::string path = dir / "Backup.XML";
    VTENGVERSION v{};
    std::strcpy(v.EngineVersion, "Korvo-B V1.3.0.0");
    std::strcpy(v.MACAddress, "00:11:22:33:44:55");
    SYSTEMTIME local{2026, 12, 2, 8, 5, 7, 9, 0};
    VTBOXEX a{}, b{};
    a.BoxNo = 1;
    std::strcpy(a.BoxName, "R&D <\"Scans\"> \xc3\xa9");
    a.Protected = 1;
    a.NumOfFolders = 2;
    a.NumOfDocs = 30;
    a.BoxUsedDisk = 4096;
    b.BoxNo = 12;
    std::strcpy(b.BoxName, "Faxes");
    {
        vtbox::DescriptionWriter w(path);
        w.WriteHeader();
        w.WriteDevice(v, local, -330);
        w.BeginBoxes(2);
        w.WriteBox(a);
        w.WriteBox(b);
        w.Finish();
    }
    EXPECT_EQ(ReadAll(path),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
              "<BackupInfo>\r\n"
              "<EngineVersion>Korvo-B V1.3.0.0                        </EngineVersion>\r\n"
              "<MACAddress>00:11:22:33:44:55</MACAddress>\r\n"
              "<BackupDate>2026/12/08 05:07:09</BackupDate>\r\n"
              "<Timezone>GMT-05:30</Timezone>\r\n"
              "<Boxes NumOfBoxes=\"2\">\r\n"
              "<BoxProp>\r\n"
              "<BoxName>R&amp;D &lt;&quot;Scans&quot;&gt; \xc3\xa9</BoxName>\r\n"
              "<BoxNo>1</BoxNo>\r\n"
              "<Protected>yes</Protected>\r\n"
              "<NumOfFolders>2</NumOfFolders>\r\n"
              "<NumOfDocs>30</NumOfDocs>\r\n"
              "<BoxUsedDisk>4096</BoxUsedDisk>\r\n"
              "</BoxProp>\r\n"
              "<BoxProp>\r\n"
              "<BoxName>Faxes</BoxName>\r\n"
              "<BoxNo>12</BoxNo>\r\n"
              "<Protected>no</Protected>\r\n"
              "<NumOfFolders>0</NumOfFolders>\r\n"
              "<NumOfDocs>0</NumOfDocs>\r\n"
              "<BoxUsedDisk>0</BoxUsedDisk>\r\n"
              "</BoxProp>\r\n"
              "</Boxes>\r\n"
              "</BackupInfo>");
}

TEST(DescriptionWriter, TimeZonesAndLongVersions) {
    EXPECT_EQ(vtbox::TimeZoneText(540), "GMT+09:00");
    EXPECT_EQ(vtbox::TimeZoneText(0), "GMT+00:00");
    EXPECT_EQ(vtbox::TimeZoneText(-300), "GMT-05:00");
    EXPECT_EQ(vtbox::TimeZoneText(330), "GMT+05:30");
    EXPECT_EQ(vtbox::TimeZoneText(-120), "GMT-02:00");

    vttest::TempDir dir;
    VTENGVERSION v{};
    std::string longVersion(45, 'v');
    std::strcpy(v.EngineVersion, longVersion.c_str());
    {
        vtbox::DescriptionWriter w(dir / "Backup.XML");
        w.WriteDevice(v, SYSTEMTIME{}, 0);
        w.Finish();
    }
    EXPECT_NE(ReadAll(dir / "Backup.XML").find("<EngineVersion>" + longVersion + "</EngineVersion>"),
              std::string::npos);
}

TEST(DescriptionWriter, AFolderThatCannotBeWrittenRaisesItsError) {
    try {
        vtbox::DescriptionWriter w("/nonexistent-folder/Backup.XML");
        FAIL();
    } catch (const vtbox::BoxError &e) {
        EXPECT_EQ(e.code(), 2u);  // the folder is missing
    }
}

}  // namespace
