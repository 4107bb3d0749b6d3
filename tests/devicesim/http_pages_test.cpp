// The box web service driven by curl's command line (HTTP/1.0), replies read
// by Python's XML parser.
#include <ctime>

#include "sim_support.hpp"

namespace simtest {
namespace {

using devicesim::SeededBoxName;
using devicesim::SeededDocumentName;
using devicesim::SeededFolderName;

class HttpPages : public DeviceTest {};

TEST_F(HttpPages, WholeSessionPageSequence) {
    devicesim::DeviceOptions o;
    o.mac = "02:00:00:AB:CD:EF";
    o.capacityKb = 500000;
    StartDevice(o);

    const std::string sid = Connect();
    ASSERT_EQ(sid.size(), 8u);
    EXPECT_EQ(Page(Url("/VaultraBox/boxnwConnect"), {"Header/Version"}).at(0), "Korvo-B V1.3.0.0");
    const std::string auth = "SID=" + sid + "&PWD=admin";

    auto version = Page(Admin("boxnwGetEngineVersion", auth),
                        {"Message/Result", "Message/VersionInfo/EngineVersion", "Message/MACAddress"});
    EXPECT_EQ(version, (std::vector<std::string>{"0", "Korvo-B V1.3.0.0", "02:00:00:AB:CD:EF"}));

    auto list = Page(Admin("boxnwGetBoxList", "SID=" + sid),
                     {"Message/Result", "Message/Boxes@NumOfBoxes", "count:Message/Boxes/BoxProp",
                      "Message/Boxes/BoxProp[3]@BoxNo", "Message/Boxes/BoxProp[3]/BoxName",
                      "Message/Boxes/BoxProp[3]/Protected", "Message/Boxes/BoxProp[1]/LastUpdateDate"});
    ASSERT_EQ(list.size(), 7u);
    EXPECT_EQ(list[0], "0");
    EXPECT_EQ(list[1], "3");
    EXPECT_EQ(list[2], "3");
    EXPECT_EQ(list[3], "3");
    EXPECT_EQ(list[4], SeededBoxName(3));  // & < > " and non-ASCII survive the trip
    EXPECT_EQ(list[5], "1");
    EXPECT_GT(std::stoll(list[6]), 1600000000);

    auto prop = Page(Admin("boxnwGetBoxProperty", auth + "&BNO=002"),
                     {"Message/Result", "Message/BoxProp@BoxNo", "Message/BoxProp/BoxName", "Message/BoxProp/NumOfDocs",
                      "Message/BoxProp/NumOfFolders", "Message/BoxProp/BoxUsedDisk",
                      "Message/BoxProp/PreservationPeriodFlag", "Message/BoxProp/PreservationPeriod",
                      "Message/BoxProp/BoxOwner", "Message/BoxProp/WarningNotice", "Message/BoxProp/CreateDate"});
    ASSERT_EQ(prop.size(), 11u);
    EXPECT_EQ(prop[0], "0");
    EXPECT_EQ(prop[1], "2");
    EXPECT_EQ(prop[2], SeededBoxName(2));
    EXPECT_EQ(prop[3], "9");  // 3 at the top level + 2 folders x 3
    EXPECT_EQ(prop[4], "2");
    // 9 documents x (2 pages of 8 KB + thumbnail + record) + folder records + box record
    EXPECT_GE(std::stoul(prop[5]), 9u * 16u);
    EXPECT_EQ(prop[6], "1");
    EXPECT_EQ(prop[7], "60");
    EXPECT_NE(prop[8].find("J\xC3\xBCrgen & Co"), std::string::npos);
    EXPECT_NE(prop[9].find("<2>"), std::string::npos);

    auto top = Page(Admin("boxnwGetFolderDocList", auth + "&BNO=001&FID="),
                    {"Message/Result", "Message/Folders@NumOfFolders", "Message/Documents@NumOfDocs",
                     "Message/Folders/FolderProp[2]@FolderID", "Message/Folders/FolderProp[2]/FolderName",
                     "Message/Folders/FolderProp[2]/NumOfDocs", "Message/Documents/DocProp[1]@DocID",
                     "Message/Documents/DocProp[1]/DocName", "Message/Documents/DocProp[1]/NumOfPages",
                     "Message/Documents/DocProp[1]/DocSize", "Message/Documents/DocProp[1]/ThumbnailPath",
                     "Message/Documents/DocProp[1]/MResolution", "Message/Documents/DocProp[3]/DocStatus"});
    ASSERT_EQ(top.size(), 13u);
    EXPECT_EQ(top[0], "0");
    EXPECT_EQ(top[1], "2");
    EXPECT_EQ(top[2], "3");
    EXPECT_EQ(top[3], "F0000002");
    EXPECT_EQ(top[4], SeededFolderName(1, 2));
    EXPECT_EQ(top[5], "3");
    EXPECT_EQ(top[6], "D0000001");
    EXPECT_EQ(top[7], SeededDocumentName(1, 0, 1));
    EXPECT_EQ(top[8], "2");
    EXPECT_EQ(top[9], "17");  // 2 x 8 KB pages + 512-byte thumbnail, rounded up
    EXPECT_EQ(top[10], "/SHR/BOX/DATA/B0000001/P0000001/D0000001/THUMB.BIN");
    EXPECT_EQ(top[11], "600");
    EXPECT_EQ(top[12], "1");  // seeding gives document 3 of a level status 1

    auto inFolder = Page(Admin("boxnwGetFolderDocList", auth + "&BNO=001&FID=F0000001"),
                         {"Message/Result", "Message/Folders@NumOfFolders", "Message/Documents@NumOfDocs",
                          "Message/Documents/DocProp[2]/DocName"});
    EXPECT_EQ(inFolder, (std::vector<std::string>{"0", "0", "3", SeededDocumentName(1, 1, 2)}));

    const long long before = std::time(nullptr);
    auto in = Page(Admin("boxnwBoxExModeIn", auth + "&MOD=0"), {"Message/Result", "Message/CurrentTime"});
    ASSERT_EQ(in.size(), 2u);
    EXPECT_EQ(in[0], "0");
    EXPECT_GE(std::stoll(in[1]), before);
    EXPECT_LE(std::stoll(in[1]), static_cast<long long>(std::time(nullptr)));

    EXPECT_FALSE(CreateAccount(sid).empty());
    auto disk = Page(Admin("boxnwGetBoxDiskSpace", auth),
                     {"Message/Result", "Message/DiskCapacity", "Message/DiskAvailability"});
    ASSERT_EQ(disk.size(), 3u);
    EXPECT_EQ(disk[1], "500000");
    uint64_t bytes = 0;
    for (auto &e : fs::recursive_directory_iterator(Store() / "SHR" / "BOX"))
        if (e.is_regular_file()) bytes += e.file_size();
    EXPECT_EQ(std::stoull(disk[2]), 500000 - (bytes + 1023) / 1024);

    EXPECT_EQ(Page(Admin("boxnwDeleteFTPAccount", auth), {"Message/Result"}).at(0), "0");
    EXPECT_EQ(Page(Admin("boxnwDeleteFTPAccount", auth), {"Message/Result"}).at(0), "501");
    EXPECT_EQ(Page(Admin("boxnwBoxExModeOut", auth + "&MOD=0"), {"Message/Result"}).at(0), "0");
    EXPECT_EQ(Page(Url("/VaultraBox/boxnwDisconnect?SID=" + sid), {"Message/Result"}).at(0), "0");
    // The session is gone.
    EXPECT_EQ(Page(Admin("boxnwGetBoxList", "SID=" + sid), {"Message/Result"}).at(0), "202");
    EXPECT_EQ(Page(Url("/VaultraBox/boxnwDisconnect?SID=" + sid), {"Message/Result"}).at(0), "202");

    const auto records = device->Records();
    ASSERT_GE(records.httpRequests.size(), 3u);
    EXPECT_EQ(records.httpRequests[0], "/VaultraBox/boxnwConnect");
    EXPECT_EQ(records.httpRequests[2], "/VaultraBox/Admin/boxnwGetEngineVersion?SID=" + sid + "&PWD=****");
}

TEST_F(HttpPages, PasswordsWithAnyCharacterOnceEscapedAndNeverRecorded) {
    devicesim::DeviceOptions o;
    o.password = "p&%+= #\xC3\xA9";
    StartDevice(o);
    const std::string sid = Connect();
    const std::string escaped = "p%26%25%2B%3D%20%23%C3%A9";
    EXPECT_EQ(Page(Admin("boxnwGetEngineVersion", "SID=" + sid + "&PWD=" + escaped), {"Message/Result"}).at(0), "0");
    // "+" is a plus sign, not a blank; lower-case escapes are as good.
    EXPECT_EQ(
        Page(Admin("boxnwGetEngineVersion", "SID=" + sid + "&PWD=p%26%25+%3d%20%23%c3%a9"), {"Message/Result"}).at(0),
        "0");
    EXPECT_EQ(
        Page(Admin("boxnwGetEngineVersion", "SID=" + sid + "&PWD=p%26%25%20%3D%20%23%C3%A9"), {"Message/Result"}).at(0),
        "2");
    EXPECT_EQ(Status(Admin("boxnwGetEngineVersion", "SID=" + sid + "&PWD=p%2")), 400);
    EXPECT_EQ(Status(Admin("boxnwGetEngineVersion", "SID=" + sid + "&PWD=p%G6")), 400);
    // Sent unescaped by an older client: wrong, and masked all the same.
    EXPECT_EQ(Page(Admin("boxnwGetEngineVersion", "SID=" + sid + "&PWD=p&%2B=%20#"), {"Message/Result"}).at(0), "2");

    std::string seen;
    for (const auto &t : device->Records().httpRequests) seen += t + "\n";
    const std::string page = Shell("curl -s -0 --max-time 20 " + Quote(Url("/devicesim/records"))).out;
    for (const std::string &text : {seen, page}) {
        for (const char *secret : {"p%26", "p&", "%C3%A9", "%c3%a9", "\xC3\xA9", "%3D%20%23"})
            EXPECT_EQ(text.find(secret), std::string::npos) << secret << " in\n" << text;
        EXPECT_NE(text.find("boxnwGetEngineVersion?SID=" + sid + "&PWD=****\n"), std::string::npos) << text;
    }
}

TEST_F(HttpPages, ServesAsAnyEngineVersion) {
    bool seeded = false;
    for (const std::string version :
         {"Korvo-A V1.2.0.0", "Korvo-C V1.3.0.0", "Korvo-D V1.0.0.0", "Korvo-B/E V1.4.0.0 <&>"}) {
        devicesim::DeviceOptions o;
        o.engineVersion = version;
        if (device) device->Stop();
        StartDevice(o, !seeded);
        seeded = true;
        const std::string sid = Connect();
        EXPECT_EQ(Page(Admin("boxnwGetEngineVersion", "SID=" + sid + "&PWD=admin"),
                       {"Header/Version", "Message/VersionInfo/EngineVersion"}),
                  (std::vector<std::string>{version, version}));
        EXPECT_EQ(device->ShellDialect(), version == devicesim::kShellDialectVersion) << version;
    }
}

TEST_F(HttpPages, WrongPasswordGetsResult2) {
    StartDevice();
    const std::string sid = Connect();
    for (const std::string pwd : {"wrong", "", "admin2", "ADMIN"}) {
        EXPECT_EQ(Page(Admin("boxnwGetEngineVersion", "SID=" + sid + "&PWD=" + pwd), {"Message/Result"}).at(0), "2")
            << pwd;
    }
    EXPECT_EQ(Page(Admin("boxnwGetEngineVersion", "SID=" + sid), {"Message/Result"}).at(0), "2");
    EXPECT_EQ(Page(Admin("boxnwGetBoxProperty", "SID=" + sid + "&BNO=001&PWD=x"), {"Message/Result"}).at(0), "2");
    EXPECT_EQ(Page(Admin("boxnwCreateFTPAccount", "SID=" + sid + "&PWD=x"), {"Message/Result"}).at(0), "2");
    EXPECT_EQ(Page(Admin("boxnwDeleteAllBox", "SID=" + sid + "&PWD=x"), {"Message/Result"}).at(0), "2");
    // A refused deletion of all boxes deleted nothing.
    EXPECT_EQ(Page(Admin("boxnwGetBoxList", "SID=" + sid), {"Message/Boxes@NumOfBoxes"}).at(0), "3");
}

TEST_F(HttpPages, UnknownSessionBoxFolderAndPage) {
    StartDevice();
    const std::string sid = Connect();
    const std::string auth = "SID=" + sid + "&PWD=admin";
    EXPECT_EQ(Page(Admin("boxnwGetBoxList", "SID=99999999"), {"Message/Result"}).at(0), "202");
    EXPECT_EQ(Page(Admin("boxnwGetBoxList", "SID=abc"), {"Message/Result"}).at(0), "202");
    EXPECT_EQ(Page(Admin("boxnwGetBoxProperty", auth + "&BNO=042"), {"Message/Result"}).at(0), "101");
    EXPECT_EQ(Page(Admin("boxnwGetFolderDocList", auth + "&BNO=042&FID="), {"Message/Result"}).at(0), "101");
    EXPECT_EQ(Page(Admin("boxnwGetFolderDocList", auth + "&BNO=001&FID=F0000099"), {"Message/Result"}).at(0), "204");
    EXPECT_EQ(Page(Admin("boxnwDeleteDoc", auth + "&BNO=001&FID=&DID=D0000099"), {"Message/Result"}).at(0), "204");
    EXPECT_EQ(Status(Admin("boxnwGetFolderDocList", auth + "&BNO=1x&FID=")), 400);
    EXPECT_EQ(Status(Admin("boxnwGetFolderDocList", auth + "&BNO=001&FID=X0000001")), 400);
    EXPECT_EQ(Status(Url("/VaultraBox/Admin/boxnwNoSuchPage?SID=" + sid)), 404);
    EXPECT_EQ(Status(Url("/elsewhere")), 404);
    EXPECT_EQ(Status(Url("/VaultraBox/vtb.asp?")), 200);
    // Other methods than GET are refused.
    EXPECT_EQ(Shell("curl -s -0 -X POST -o /dev/null -w '%{http_code}' " + Quote(Url("/VaultraBox/boxnwConnect"))).out,
              "405");
    // HTTP/1.1 is answered in kind.
    auto v11 = Shell("curl -s --http1.1 -i " + Quote(Url("/VaultraBox/boxnwConnect")));
    EXPECT_EQ(v11.out.rfind("HTTP/1.1 200", 0), 0u) << v11.out;
}

TEST_F(HttpPages, GarbageRequestsAreRefusedAndTheServiceGoesOn) {
    StartDevice();
    const std::string port = std::to_string(device->HttpPort());
    const std::string script =
        "import socket,sys\n"
        "def send(b):\n"
        "  s=socket.create_connection(('127.0.0.1'," +
        port +
        "),timeout=10)\n"
        "  s.sendall(b); s.shutdown(socket.SHUT_WR)\n"
        "  d=b''\n"
        "  while True:\n"
        "    c=s.recv(4096)\n"
        "    if not c: break\n"
        "    d+=c\n"
        "  s.close(); print(d.split(b'\\r\\n')[0].decode('latin-1'))\n"
        "send(b'GARBAGE\\r\\n\\r\\n')\n"
        "send(b'GET /VaultraBox/boxnwConnect HTTP/9.9\\r\\n\\r\\n')\n"
        "send(b'GET /x HTTP/1.0\\r\\n' + b'X-Long: ' + b'a'*100000 + b'\\r\\n\\r\\n')\n"
        "send(b'GET /VaultraBox/boxnwConnect HTTP/1.0\\r\\n' + b'H: v\\r\\n'*200 + b'\\r\\n')\n"
        "send(b'\\x00\\xff\\xfe\\n\\n')\n";
    auto lines = Lines(Shell("python3 -c " + Quote(script) + " 2>&1").out);
    ASSERT_EQ(lines.size(), 5u);
    for (const auto &l : lines) EXPECT_EQ(l, "HTTP/1.0 400 Bad Request");
    EXPECT_EQ(Connect().size(), 8u);
}

TEST_F(HttpPages, ExclusiveModeIsSeenByASecondSession) {
    StartDevice();
    const std::string a = Connect(), b = Connect();
    ASSERT_NE(a, b);
    const std::string authA = "SID=" + a + "&PWD=admin", authB = "SID=" + b + "&PWD=admin";
    ASSERT_EQ(Page(Admin("boxnwBoxExModeIn", authA + "&MOD=0"), {"Message/Result"}).at(0), "0");
    EXPECT_EQ(Page(Admin("boxnwGetBoxList", "SID=" + b), {"Message/Result"}).at(0), "211");
    EXPECT_EQ(Page(Admin("boxnwBoxExModeIn", authB + "&MOD=0"), {"Message/Result"}).at(0), "211");
    EXPECT_EQ(Page(Admin("boxnwBoxExModeOut", authB + "&MOD=0"), {"Message/Result"}).at(0), "211");
    EXPECT_EQ(Page(Admin("boxnwCreateFTPAccount", authB), {"Message/Result"}).at(0), "211");
    // The holder goes on working; a second entry in another mode is refused.
    EXPECT_EQ(Page(Admin("boxnwGetBoxList", "SID=" + a), {"Message/Result"}).at(0), "0");
    EXPECT_EQ(Page(Admin("boxnwBoxExModeIn", authA + "&MOD=1"), {"Message/Result"}).at(0), "105");
    EXPECT_EQ(Page(Admin("boxnwBoxExModeOut", authA + "&MOD=1"), {"Message/Result"}).at(0), "105");
    ASSERT_EQ(Page(Admin("boxnwBoxExModeOut", authA + "&MOD=0"), {"Message/Result"}).at(0), "0");
    EXPECT_EQ(Page(Admin("boxnwGetBoxList", "SID=" + b), {"Message/Result"}).at(0), "0");

    // Restore mode answers 212; a holder that disconnects releases the mode.
    ASSERT_EQ(Page(Admin("boxnwBoxExModeIn", authA + "&MOD=1"), {"Message/Result"}).at(0), "0");
    EXPECT_EQ(Page(Admin("boxnwGetBoxList", "SID=" + b), {"Message/Result"}).at(0), "212");
    EXPECT_EQ(Page(Url("/VaultraBox/boxnwDisconnect?SID=" + a), {"Message/Result"}).at(0), "0");
    EXPECT_EQ(Page(Admin("boxnwBoxExModeIn", authB + "&MOD=1"), {"Message/Result"}).at(0), "0");
}

TEST_F(HttpPages, ExclusiveModeRefusalAsHttp503) {
    devicesim::DeviceOptions o;
    o.busyAsHttp503 = true;
    StartDevice(o);
    const std::string a = Connect(), b = Connect();
    ASSERT_EQ(Page(Admin("boxnwBoxExModeIn", "SID=" + a + "&PWD=admin&MOD=0"), {"Message/Result"}).at(0), "0");
    EXPECT_EQ(Status(Admin("boxnwGetBoxList", "SID=" + b)), 503);
    EXPECT_EQ(Status(Admin("boxnwBoxExModeIn", "SID=" + b + "&PWD=admin&MOD=0")), 503);
    EXPECT_EQ(Status(Admin("boxnwGetBoxList", "SID=" + a)), 200);
}

TEST_F(HttpPages, DeletingDocumentsAndAllBoxesChangesTheStore) {
    StartDevice();
    const std::string sid = Connect();
    const std::string auth = "SID=" + sid + "&PWD=admin";
    const fs::path inner = Store() / "SHR/BOX/DATA/B0000001/P0000001";
    EXPECT_EQ(Page(Admin("boxnwDeleteDoc", auth + "&BNO=001&FID=&DID=D0000002"), {"Message/Result"}).at(0), "0");
    EXPECT_FALSE(fs::exists(inner / "D0000002.XML"));
    EXPECT_FALSE(fs::exists(inner / "D0000002"));
    EXPECT_EQ(Page(Admin("boxnwDeleteDoc", auth + "&BNO=001&FID=F0000002&DID=D0000003"), {"Message/Result"}).at(0),
              "0");
    EXPECT_FALSE(fs::exists(inner / "F0000002/D0000003.XML"));
    auto list = Page(Admin("boxnwGetFolderDocList", auth + "&BNO=001&FID="),
                     {"Message/Documents@NumOfDocs", "Message/Documents/DocProp[2]@DocID",
                      "Message/Folders/FolderProp[2]/NumOfDocs"});
    EXPECT_EQ(list, (std::vector<std::string>{"2", "D0000003", "2"}));
    EXPECT_EQ(Page(Admin("boxnwGetBoxProperty", auth + "&BNO=001"), {"Message/BoxProp/NumOfDocs"}).at(0), "7");

    EXPECT_EQ(Page(Admin("boxnwDeleteAllBox", auth), {"Message/Result"}).at(0), "0");
    EXPECT_EQ(Page(Admin("boxnwGetBoxList", "SID=" + sid), {"Message/Boxes@NumOfBoxes", "count:Message/Boxes/BoxProp"}),
              (std::vector<std::string>{"0", "0"}));
    EXPECT_TRUE(fs::is_empty(Store() / "SHR/BOX/DATA"));
    EXPECT_TRUE(fs::is_empty(Store() / "SHR/BOX/DATABASE"));
}

TEST_F(HttpPages, SerialChangesAndKeepAlivesAreRecorded) {
    StartDevice();
    const std::string sid = Connect();
    const std::string auth = "SID=" + sid + "&PWD=admin&BNO=002";
    for (const std::string q : {"&FID=F0000001&DID=D0000004&NOC=0&MOD=0", "&FID=F0000003&DID=&NOC=2&MOD=1",
                                "&FID=&DID=D0000007&NOC=0&MOD=0", "&FID=&DID=&NOC=2&MOD=1"})
        EXPECT_EQ(Page(Admin("boxnwDirSerialClusterChange", auth + q), {"Message/Result"}).at(0), "0") << q;
    // A box without a folder cannot take a change.
    EXPECT_EQ(Page(Admin("boxnwDirSerialClusterChange", "SID=" + sid + "&PWD=admin&BNO=077&FID=&DID=&NOC=2&MOD=1"),
                   {"Message/Result"})
                  .at(0),
              "101");
    EXPECT_EQ(Page(Admin("boxnwGetBoxProperty", "SID=" + sid), {"Message/Result"}).at(0), "0");
    EXPECT_EQ(Page(Admin("boxnwGetBoxProperty", "SID=" + sid), {"Message/Result"}).at(0), "0");

    const auto r = device->Records();
    const uint32_t id = static_cast<uint32_t>(std::stoul(sid));
    using devicesim::SerialChangeCall;
    EXPECT_EQ(r.serialChanges,
              (std::vector<SerialChangeCall>{
                  {id, 2, 1, 4, 0, 0}, {id, 2, 3, 0, 2, 1}, {id, 2, 0, 7, 0, 0}, {id, 2, 0, 0, 2, 1}}));
    EXPECT_EQ(r.keepAlives, 2u);
}

}  // namespace
}  // namespace simtest
