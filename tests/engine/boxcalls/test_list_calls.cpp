#include <gtest/gtest.h>

#include "canned_device.hpp"
#include "debug_capture.hpp"
#include "vtplatform/text.hpp"

namespace {

using vttest::CannedDevice;
using vttest::DebugCapture;
using vttest::Ok;
using vttest::Reply;

class ListCalls : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(vtBoxOpenConnection(&s), 0u); }
    void TearDown() override { vtBoxCloseConnection(&s); }
    CannedDevice device;
    VTMFPSESSION s = device.Session();
};

std::string BoxProp(const std::string &no, const std::string &name, int protectedFlag = 0) {
    return "<BoxProp BoxNo=\"" + no + "\"><BoxName>" + name +
           "</BoxName><LastUpdateDate>1700000000</LastUpdateDate><Protected>" + std::to_string(protectedFlag) +
           "</Protected></BoxProp>";
}
std::string BoxProp(int no, const std::string &name, int protectedFlag = 0) {
    return BoxProp(std::to_string(no), name, protectedFlag);
}

TEST_F(ListCalls, BoxListInReplyOrder) {
    device.Answer("boxnwGetBoxList", Ok("<Boxes NumOfBoxes=\"2\">" + BoxProp(7, "Scans &amp; more") +
                                        BoxProp(2, "Faxes", 3) + "</Boxes>"));
    uint32_t count = 0;
    VTBOX *boxes = nullptr;
    HGLOBAL h = vtBoxGetBoxList(&s, &count, &boxes);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(static_cast<void *>(boxes), h);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(GlobalSize(h), 2 * sizeof(VTBOX));
    EXPECT_EQ(boxes[0].BoxNo, 7u);
    EXPECT_STREQ(boxes[0].BoxName, "Scans & more");
    EXPECT_EQ(boxes[0].LastUpdateDate.wYear, 2023);
    EXPECT_EQ(boxes[1].BoxNo, 2u);
    EXPECT_EQ(boxes[1].Protected, 3u);
    EXPECT_EQ(boxes[1].Reserved0, 0u);
    GlobalFree(h);
    EXPECT_EQ(device.server->requests().back(), "/VaultraBox/Admin/boxnwGetBoxList?SID=00001234");
}

TEST_F(ListCalls, EmptyListIsAHandleAndShortListsFail) {
    device.Answer("boxnwGetBoxList", Ok("<Boxes NumOfBoxes=\"0\"></Boxes>"));
    uint32_t count = 9;
    VTBOX *boxes = nullptr;
    HGLOBAL h = vtBoxGetBoxList(&s, &count, &boxes);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(count, 0u);
    GlobalFree(h);

    device.Answer("boxnwGetBoxList", Ok("<Boxes NumOfBoxes=\"3\">" + BoxProp(1, "a") + BoxProp(2, "b") + "</Boxes>"));
    boxes = nullptr;
    EXPECT_EQ(vtBoxGetBoxList(&s, &count, &boxes), nullptr);
    EXPECT_EQ(GetLastError(), 11u);
    EXPECT_EQ(boxes, nullptr);

    // Counts that disagree with the entries listed, a wrap to 0 among them:
    // the list is refused, never read as empty.
    for (const char *stated : {"4000000000", "0", "4294967296", "-1", "1"}) {
        std::string listed = std::string(stated) == "4000000000" ? "" : BoxProp(1, "a") + BoxProp(2, "b");
        device.Answer("boxnwGetBoxList",
                      Ok("<Boxes NumOfBoxes=\"" + std::string(stated) + "\">" + listed + "</Boxes>"));
        EXPECT_EQ(vtBoxGetBoxList(&s, &count, &boxes), nullptr) << stated;
        EXPECT_EQ(GetLastError(), 11u) << stated;
    }

    device.Answer("boxnwGetBoxList", Ok("<Boxes></Boxes>"));
    EXPECT_EQ(vtBoxGetBoxList(&s, &count, &boxes), nullptr);
    EXPECT_EQ(GetLastError(), 11u);
    device.Answer("boxnwGetBoxList", Reply("<Result>0</Result><Boxes NumOfBoxes=\"1\">").substr(0, 60));
    EXPECT_EQ(vtBoxGetBoxList(&s, &count, &boxes), nullptr);
    EXPECT_EQ(GetLastError(), 13u);
}

// The device numbers its boxes 1 to 999, each once: a list with another
// number, or one number twice, is a bad reply, never a box to back up.
TEST_F(ListCalls, BoxNumbersOutOfRangeOrRepeatedAreBadReplies) {
    uint32_t count = 0;
    VTBOX *boxes = nullptr;
    for (const char *no : {"1000", "-5", "0", "4294967297", "7x", "", " ", "+3", "1.5"}) {
        device.Answer("boxnwGetBoxList",
                      Ok("<Boxes NumOfBoxes=\"2\">" + BoxProp(1, "a") + BoxProp(no, "b") + "</Boxes>"));
        EXPECT_EQ(vtBoxGetBoxList(&s, &count, &boxes), nullptr) << no;
        EXPECT_EQ(GetLastError(), 11u) << no;
        EXPECT_NE(std::string(vtBoxGetLastErrorText()).find("box numbers run from 1 to 999"), std::string::npos)
            << vtBoxGetLastErrorText();
    }
    device.Answer("boxnwGetBoxList", Ok("<Boxes NumOfBoxes=\"3\">" + BoxProp(4, "a") + BoxProp(9, "b") +
                                        BoxProp("004", "c") + "</Boxes>"));
    EXPECT_EQ(vtBoxGetBoxList(&s, &count, &boxes), nullptr);
    EXPECT_EQ(GetLastError(), 11u);
    EXPECT_NE(std::string(vtBoxGetLastErrorText()).find("names box 004 twice"), std::string::npos)
        << vtBoxGetLastErrorText();

    device.Answer("boxnwGetBoxList",
                  Ok("<Boxes NumOfBoxes=\"2\">" + BoxProp(" 007 ", "a") + BoxProp(999, "b") + "</Boxes>"));
    HGLOBAL h = vtBoxGetBoxList(&s, &count, &boxes);
    ASSERT_NE(h, nullptr) << vtBoxGetLastErrorText();
    EXPECT_EQ(boxes[0].BoxNo, 7u);
    EXPECT_EQ(boxes[1].BoxNo, 999u);
    GlobalFree(h);
}

TEST_F(ListCalls, RepliesOverOneMegabyteAreReadWhole) {
    std::string items;
    const std::string longName(1200, 'n');
    for (int i = 1; i <= 999; ++i) items += BoxProp(i, longName + std::to_string(i));
    device.Answer("boxnwGetBoxList", Ok("<Boxes NumOfBoxes=\"999\">" + items + "</Boxes>"));
    uint32_t count = 0;
    VTBOX *boxes = nullptr;
    HGLOBAL h = vtBoxGetBoxList(&s, &count, &boxes);
    ASSERT_NE(h, nullptr) << GetLastError();
    ASSERT_EQ(count, 999u);
    EXPECT_EQ(boxes[998].BoxNo, 999u);
    EXPECT_EQ(std::string(boxes[998].BoxName), std::string(255, 'n'));  // cut to the field
    GlobalFree(h);
}

std::string PropertyReply(const std::string &name, int flag, int period) {
    return Ok("<BoxProp BoxNo=\"3\"><BoxName>" + name +
              "</BoxName><BoxOwner>Kim</BoxOwner>"
              "<CreateDate>0</CreateDate><Protected>1</Protected><NumOfDocs>12</NumOfDocs>"
              "<NumOfFolders>2</NumOfFolders><LastUpdateDate>86400</LastUpdateDate><BoxUsedDisk>5120</BoxUsedDisk>"
              "<PreservationPeriodFlag>" +
              std::to_string(flag) +
              "</PreservationPeriodFlag>"
              "<PreservationPeriod>" +
              std::to_string(period) +
              "</PreservationPeriod>"
              "<WarningNotice>Keep &lt;out&gt;</WarningNotice></BoxProp>");
}

TEST_F(ListCalls, BoxPropertyFillsTheRecordAndTheRawName) {
    device.Answer("boxnwGetBoxProperty", PropertyReply("R&amp;D \xe2\x82\xac", 1, 30));
    VTBOXEX box{};
    char raw[256] = "untouched";
    ASSERT_EQ(vtBoxGetBoxProperty(&s, 3, "admin", &box, raw), 0u);
    EXPECT_EQ(device.server->requests().back(), "/VaultraBox/Admin/boxnwGetBoxProperty?SID=00001234&BNO=003&PWD=admin");
    EXPECT_EQ(box.BoxNo, 3u);
    EXPECT_STREQ(box.BoxName, "R&D \xe2\x82\xac");
    EXPECT_STREQ(raw, "R&amp;D \xe2\x82\xac");  // as the reply carried it
    EXPECT_STREQ(box.BoxOwner, "Kim");
    EXPECT_EQ(box.CreateDate.wYear, 1970);
    EXPECT_EQ(box.Protected, 1u);
    EXPECT_EQ(box.NumOfDocs, 12u);
    EXPECT_EQ(box.NumOfFolders, 2u);
    EXPECT_EQ(box.LastUpdateDate.wDay, 2);
    EXPECT_EQ(box.BoxUsedDisk, 5120u);
    EXPECT_EQ(box.PreservationPeriod, 30u);
    EXPECT_STREQ(box.WarningNotice, "Keep <out>");

    device.Answer("boxnwGetBoxProperty", PropertyReply("B", 0, 30));
    VTBOXEX second{};
    ASSERT_EQ(vtBoxGetBoxProperty(&s, 3, "admin", &second, nullptr), 0u);
    EXPECT_EQ(second.PreservationPeriod, 0u);

    device.Answer("boxnwGetBoxProperty", Reply("<Result>2</Result>"));
    EXPECT_EQ(vtBoxGetBoxProperty(&s, 3, "bad", &second, nullptr), 1216u);
    device.Answer("boxnwGetBoxProperty", Ok("<BoxProp BoxNo=\"3\"><BoxName>x</BoxName></BoxProp>"));
    EXPECT_EQ(vtBoxGetBoxProperty(&s, 3, "admin", &second, nullptr), 11u);
}

TEST_F(ListCalls, DiskSpace) {
    device.Answer("boxnwGetBoxDiskSpace",
                  Ok("<DiskCapacity>1000000</DiskCapacity><DiskAvailability>250000</DiskAvailability>"));
    uint32_t cap = 0, avail = 0;
    DebugCapture lines;
    ASSERT_EQ(vtBoxGetBoxDiskSpace(&s, "admin", &cap, &avail), 0u);
    EXPECT_EQ(cap, 1000000u);
    EXPECT_EQ(avail, 250000u);
    EXPECT_NE(lines.text().find(" DiskCapacity = 1000000 DiskAvailability = 250000 \n"), std::string::npos);
}

std::string Doc(const std::string &id, const std::string &name, int status, int size, int source, int mix, int rotation,
                int m, int sres, int duplex) {
    return "<DocProp DocID=\"" + id + "\"><DocName>" + name +
           "</DocName><CreateDate>10</CreateDate>"
           "<LastUpdateDate>20</LastUpdateDate><DocStatus>" +
           std::to_string(status) +
           "</DocStatus>"
           "<LastAccessDate>30</LastAccessDate><NumOfPages>4</NumOfPages><DocSize>" +
           std::to_string(size) + "</DocSize><SourceType>" + std::to_string(source) + "</SourceType><ColorMonoMix>" +
           std::to_string(mix) + "</ColorMonoMix><ThumbnailPath>/thumb/" + id +
           ".jpg</ThumbnailPath><ThumbnailRotation>" + std::to_string(rotation) + "</ThumbnailRotation><MResolution>" +
           std::to_string(m) + "</MResolution><SResolution>" + std::to_string(sres) + "</SResolution><ScanDuplex>" +
           std::to_string(duplex) + "</ScanDuplex></DocProp>";
}

std::string Folder(const std::string &id, const std::string &name, int docs) {
    return "<FolderProp FolderID=\"" + id + "\"><FolderName>" + name +
           "</FolderName><CreateDate>1</CreateDate>"
           "<LastUpdateDate>2</LastUpdateDate><NumOfDocs>" +
           std::to_string(docs) + "</NumOfDocs></FolderProp>";
}

TEST_F(ListCalls, CollectionPutsFoldersFirstAndMapsValues) {
    // Documents come before folders in the reply; the array has folders first.
    device.Answer(
        "boxnwGetFolderDocList",
        Ok("<Documents NumOfDocs=\"2\">" + Doc("D0000005", "Report \xf0\x9f\x98\x80", 2, 3, 16, 8, 1, 600, 300, 3) +
           Doc("D0000009", "Other", 1, 1, 4, 1, 0, 600, 300, 2) + "</Documents><Folders NumOfFolders=\"1\">" +
           Folder("F0000012", "Invoices", 7) + "</Folders>"));
    uint32_t count = 0;
    VTBOXELEMENT *e = nullptr;
    HGLOBAL h = vtBoxGetCollection(&s, 4, "admin", 0, &count, &e);
    ASSERT_NE(h, nullptr) << GetLastError();
    EXPECT_EQ(device.server->requests().back(),
              "/VaultraBox/Admin/boxnwGetFolderDocList?SID=00001234&BNO=004&PWD=admin&FID=");
    ASSERT_EQ(count, 3u);
    EXPECT_EQ(e[0].Kind, 0u);
    EXPECT_EQ(e[0].Id, 12u);
    EXPECT_EQ(vt::Utf16ToUtf8(vt::Utf16View(reinterpret_cast<char16_t *>(e[0].Name), 128)), "Invoices");
    EXPECT_EQ(e[0].NumOfDocs, 7u);
    EXPECT_EQ(e[0].LastAccessDate.wYear, 0);

    const VTBOXELEMENT &d = e[1];
    EXPECT_EQ(d.Kind, 1u);
    EXPECT_EQ(d.Id, 5u);
    EXPECT_EQ(vt::Utf16View(reinterpret_cast<const char16_t *>(d.Name), 128), u"Report \U0001F600");
    EXPECT_EQ(d.StatusFlag, 0u);     // DocStatus 2
    EXPECT_EQ(d.DocSize, 3072u);     // kilobytes to bytes
    EXPECT_EQ(d.SourceType, 10u);    // 16 -> 10
    EXPECT_EQ(d.ColorMode, 1u);      // 8 -> 1
    EXPECT_EQ(d.XResolution, 300u);  // rotation 1 swaps
    EXPECT_EQ(d.YResolution, 600u);
    EXPECT_EQ(d.Duplex, 2u);  // 3 -> 2
    EXPECT_EQ(d.NumOfPages, 4u);
    EXPECT_EQ(d.LastAccessDate.wSecond, 30);
    EXPECT_STREQ(d.ThumbnailPath, "/thumb/D0000005.jpg");

    EXPECT_EQ(e[2].StatusFlag, 1u);
    EXPECT_EQ(e[2].SourceType, 3u);  // 4 -> 3
    EXPECT_EQ(e[2].ColorMode, 2u);   // 1 -> 2
    EXPECT_EQ(e[2].XResolution, 600u);
    EXPECT_EQ(e[2].YResolution, 300u);
    EXPECT_EQ(e[2].Duplex, 1u);  // 2 -> 1
    GlobalFree(h);
}

TEST_F(ListCalls, CollectionEdgeCases) {
    device.Answer("boxnwGetFolderDocList", Ok("<Folders NumOfFolders=\"0\"/><Documents NumOfDocs=\"0\"/>"));
    uint32_t count = 5;
    VTBOXELEMENT *e = nullptr;
    HGLOBAL h = vtBoxGetCollection(&s, 1, "admin", 3, &count, &e);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(GlobalSize(h), 4u);
    GlobalFree(h);
    EXPECT_EQ(device.server->requests().back(),
              "/VaultraBox/Admin/boxnwGetFolderDocList?SID=00001234&BNO=001&PWD=admin&FID=F0000003");

    // A name longer than the field is cut, never between a surrogate pair.
    std::string longName;
    for (int i = 0; i < 70; ++i) longName += "\xf0\x9f\x98\x80";
    device.Answer("boxnwGetFolderDocList", Ok("<Folders NumOfFolders=\"1\">" + Folder("F0000001", longName, 0) +
                                              "</Folders><Documents NumOfDocs=\"0\"/>"));
    h = vtBoxGetCollection(&s, 1, "admin", 0, &count, &e);
    ASSERT_NE(h, nullptr);
    auto name = vt::Utf16View(reinterpret_cast<const char16_t *>(e[0].Name), 128);
    EXPECT_EQ(name.size(), 126u);
    EXPECT_EQ(e[0].Name[126], 0);
    GlobalFree(h);

    device.Answer("boxnwGetFolderDocList", Ok("<Folders NumOfFolders=\"2\">" + Folder("F0000001", "a", 0) +
                                              "</Folders><Documents NumOfDocs=\"0\"/>"));
    e = nullptr;
    EXPECT_EQ(vtBoxGetCollection(&s, 1, "admin", 0, &count, &e), nullptr);
    EXPECT_EQ(GetLastError(), 11u);
    EXPECT_EQ(e, nullptr);
    device.Answer("boxnwGetFolderDocList", Ok("<Folders NumOfFolders=\"0\"/><Documents NumOfDocs=\"4294967296\">" +
                                              Doc("D0000001", "x", 0, 1, 0, 0, 0, 0, 0, 0) + "</Documents>"));
    EXPECT_EQ(vtBoxGetCollection(&s, 1, "admin", 0, &count, &e),
              nullptr);  // a level read as empty would be overwritten
    EXPECT_EQ(GetLastError(), 11u);
    device.Answer("boxnwGetFolderDocList", Reply("<Result>101</Result>"));
    EXPECT_EQ(vtBoxGetCollection(&s, 99, "admin", 0, &count, &e), nullptr);
    EXPECT_EQ(GetLastError(), 161u);
}

TEST_F(ListCalls, DeleteDocumentAndSerialChangeQueries) {
    device.Answer("boxnwDeleteDoc", Ok());
    device.Answer("boxnwDirSerialClusterChange", Ok());
    DebugCapture cap;
    EXPECT_EQ(vtBoxDeleteDocument(&s, 2, "admin", 0, 0), 87u);
    EXPECT_NE(cap.text().find("vtBoxDeleteDocument Failed With ERROR - 87"), std::string::npos);
    EXPECT_EQ(vtBoxDeleteDocument(&s, 2, "admin", 0, 5), 0u);
    EXPECT_EQ(device.server->requests().back(),
              "/VaultraBox/Admin/boxnwDeleteDoc?SID=00001234&BNO=002&PWD=admin&FID=&DID=D0000005");
    EXPECT_EQ(vtBoxDeleteDocument(&s, 2, "admin", 3, 5), 0u);
    EXPECT_EQ(device.server->requests().back(),
              "/VaultraBox/Admin/boxnwDeleteDoc?SID=00001234&BNO=002&PWD=admin&FID=F0000003&DID=D0000005");

    cap.clear();
    const std::string base = "/VaultraBox/Admin/boxnwDirSerialClusterChange?SID=00001234&BNO=002&PWD=admin";
    EXPECT_EQ(vtBoxDirSerialClusterChange(&s, 2, "admin", 3, 5, 0, 0), 0u);
    EXPECT_EQ(device.server->requests().back(), base + "&FID=F0000003&DID=D0000005&NOC=0&MOD=0");
    EXPECT_EQ(vtBoxDirSerialClusterChange(&s, 2, "admin", 3, 0, 2, 1), 0u);
    EXPECT_EQ(device.server->requests().back(), base + "&FID=F0000003&DID=&NOC=2&MOD=1");
    EXPECT_EQ(vtBoxDirSerialClusterChange(&s, 2, "admin", 0, 5, 0, 0), 0u);
    EXPECT_EQ(device.server->requests().back(), base + "&FID=&DID=D0000005&NOC=0&MOD=0");
    EXPECT_EQ(vtBoxDirSerialClusterChange(&s, 2, "admin", 0, 0, 2, 1), 0u);
    EXPECT_EQ(device.server->requests().back(), base + "&FID=&DID=&NOC=2&MOD=1");
    EXPECT_EQ(cap.text().find("http://"), std::string::npos);  // never logged
}

}  // namespace
