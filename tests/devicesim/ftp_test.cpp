// The FTP server driven by curl's command line and Python's ftplib, both in
// active mode.
#include <sys/stat.h>

#include "sim_support.hpp"

namespace simtest {
namespace {

class FtpServer : public DeviceTest {
protected:
    // A device with an FTP account; returns the login name.
    std::string StartWithAccount(devicesim::DeviceOptions o = {}) {
        StartDevice(o);
        sid = Connect();
        return login = CreateAccount(sid);
    }
    std::string Curl(const std::string &args) {
        return "curl -s --max-time 20 --ftp-port 127.0.0.1 -u " + Quote(login + ":admin") + " " + args;
    }
    std::string sid, login;
};

// A document record written byte by byte as a restoring client sends it.
std::string HandMadeRecord(const std::string &own, const std::string &asciiName, uint32_t stamp) {
    std::string r(512, '\0');
    r.replace(0, 8, own);
    for (size_t i = 0; i < asciiName.size() && i < 63; ++i) r[9 + 2 * i] = asciiName[i];
    for (int i = 0; i < 4; ++i) r[148 + i] = static_cast<char>(stamp >> (24 - 8 * i));
    r[184] = 2;  // status ready
    return r;
}

TEST_F(FtpServer, LoginOnlyWithTheAccountWhileItExists) {
    StartDevice();
    sid = Connect();
    auto before = Ftp({"login:vtbkup0001:admin"});
    EXPECT_TRUE(Contains(before, "ERR 530")) << before.back();

    login = CreateAccount(sid);
    EXPECT_TRUE(Contains(Ftp({"login:" + login + ":admin"}), "230"));
    EXPECT_TRUE(Contains(Ftp({"login:" + login + ":wrong"}), "ERR 530"));
    EXPECT_TRUE(Contains(Ftp({"login:someone:admin"}), "ERR 530"));
    // Commands before a login are refused.
    EXPECT_TRUE(Contains(Ftp({"raw:PWD"}), "ERR 530"));

    ASSERT_EQ(Page(Admin("boxnwDeleteFTPAccount", "SID=" + sid + "&PWD=admin"), {"Message/Result"}).at(0), "0");
    EXPECT_TRUE(Contains(Ftp({"login:" + login + ":admin"}), "ERR 530"));

    // A new account ends with its session too.
    login = CreateAccount(sid);
    EXPECT_TRUE(Contains(Ftp({"login:" + login + ":admin"}), "230"));
    Page(Url("/VaultraBox/boxnwDisconnect?SID=" + sid), {"Message/Result"});
    EXPECT_TRUE(Contains(Ftp({"login:" + login + ":admin"}), "ERR 530"));
}

TEST_F(FtpServer, ListingLinesAreReadByTheClientRule) {
    StartWithAccount();
    const std::string level = "/SHR/BOX/DATA/B0000001/P0000001";
    auto raw = Shell(Curl(Quote(FtpUrl(level + "/"))));
    ASSERT_EQ(raw.exitCode, 0);
    const std::string &text = raw.out;
    EXPECT_EQ(text.find('\r'), std::string::npos);
    const size_t firstLf = text.find('\n');
    ASSERT_NE(firstLf, std::string::npos);
    EXPECT_EQ(text.rfind("total ", 0), 0u);
    ASSERT_EQ(text.back(), '\n');

    // The client drops the head line, its line feed and one more character,
    // takes the name after the last blank, and counts a name with "." fourth
    // from its end as a file.
    std::string rest = text.substr(firstLf + 2);
    std::vector<std::string> files, folders;
    while (!rest.empty()) {
        size_t lf = rest.find('\n');
        std::string line = rest.substr(0, lf);
        rest = lf == std::string::npos ? "" : rest.substr(lf + 1);
        std::string name = line.substr(line.rfind(' ') + 1);
        (name.size() >= 4 && name[name.size() - 4] == '.' ? files : folders).push_back(name);
    }
    EXPECT_EQ(files, (std::vector<std::string>{"D0000001.XML", "D0000002.XML", "D0000003.XML", "F0000001.XML",
                                               "F0000002.XML"}));
    EXPECT_EQ(folders, (std::vector<std::string>{"D0000001", "D0000002", "D0000003", "F0000001", "F0000002"}));

    // Long format: nine columns, the size column is the file size.
    for (const auto &line : Lines(text.substr(firstLf + 1))) {
        std::istringstream in(line);
        std::vector<std::string> cols;
        for (std::string c; in >> c;) cols.push_back(c);
        ASSERT_EQ(cols.size(), 9u) << line;
        if (cols[0][0] == '-') {
            EXPECT_EQ(std::stoull(cols[4]), fs::file_size(Store() / ("SHR/BOX/DATA/B0000001/P0000001/" + cols[8])));
        } else {
            EXPECT_EQ(cols[0][0], 'd');
        }
    }
    // Page files have a three-letter extension, so the rule sees them as files.
    auto pages = Lines(Shell(Curl(Quote(FtpUrl(level + "/D0000001/")))).out);
    ASSERT_EQ(pages.size(), 5u);  // head, 2 pages, thumbnail, UNLOCK.STS
    for (size_t i = 1; i < pages.size(); ++i) EXPECT_EQ(pages[i][pages[i].size() - 4], '.') << pages[i];
}

TEST_F(FtpServer, ListingWithCrLfWhenAsked) {
    devicesim::DeviceOptions o;
    o.listingCrLf = true;
    StartWithAccount(o);
    auto out = Ftp({"login:" + login + ":admin", "rawlist:LIST /SHR/BOX"});
    ASSERT_GE(out.size(), 3u);
    EXPECT_EQ(out[2].rfind("b'total ", 0), 0u) << out[2];
    EXPECT_NE(out[2].find("\\r\\ndrwxr-xr-x"), std::string::npos) << out[2];
    EXPECT_NE(out[2].find(" DATABASE\\r\\n'"), std::string::npos) << out[2];
}

TEST_F(FtpServer, UploadedEntriesShowInTheNextFolderListing) {
    StartWithAccount();
    const std::string level = "/SHR/BOX/DATA/B0000002/P0000001";
    const std::string auth = "SID=" + sid + "&PWD=admin";
    WriteFile(dir.Path() / "rec", HandMadeRecord("D0000007", "Restored & <new>", 0x66000000));
    WriteFile(dir.Path() / "page", std::string(3000, 'x'));
    WriteFile(dir.Path() / "empty", "");

    // The order a restore uses: folder, CREATE.STS, serial change, record, pages, UNLOCK.STS.
    auto out = Ftp({"login:" + login + ":admin", "raw:MKD " + level + "/D0000007",
                    "put:" + level + "/D0000007/CREATE.STS:" + (dir.Path() / "empty").string()});
    EXPECT_TRUE(Contains(out, "257")) << out.back();
    EXPECT_EQ(
        Page(Admin("boxnwDirSerialClusterChange", auth + "&BNO=002&FID=&DID=D0000007&NOC=0&MOD=0"), {"Message/Result"})
            .at(0),
        "0");
    out = Ftp({"login:" + login + ":admin", "put:" + level + "/D0000007.XML:" + (dir.Path() / "rec").string(),
               "put:" + level + "/D0000007/PAGE0001.DAT:" + (dir.Path() / "page").string()});
    EXPECT_FALSE(Contains(out, "ERR")) << out.back();

    const std::string list = Admin("boxnwGetFolderDocList", auth + "&BNO=002&FID=");
    const std::vector<std::string> paths = {"Message/Documents@NumOfDocs",
                                            "Message/Documents/DocProp[4]@DocID",
                                            "Message/Documents/DocProp[4]/DocName",
                                            "Message/Documents/DocProp[4]/DocStatus",
                                            "Message/Documents/DocProp[4]/LastUpdateDate",
                                            "Message/Documents/DocProp[4]/NumOfPages",
                                            "Message/Documents/DocProp[4]/DocSize"};
    EXPECT_EQ(Page(list, paths), (std::vector<std::string>{"4", "D0000007", "Restored & <new>", "3",
                                                           std::to_string(0x66000000), "1", "3"}));

    // Marked complete: the record's own status shows.
    out = Ftp({"login:" + login + ":admin", "put:" + level + "/D0000007/UNLOCK.STS:" + (dir.Path() / "empty").string(),
               "raw:DELE " + level + "/D0000007/CREATE.STS"});
    EXPECT_FALSE(Contains(out, "ERR")) << out.back();
    EXPECT_EQ(Page(list, {"Message/Documents/DocProp[4]/DocStatus"}).at(0), "2");
    auto prop = Page(Admin("boxnwGetBoxProperty", auth + "&BNO=002"),
                     {"Message/BoxProp/NumOfDocs", "Message/BoxProp/LastUpdateDate"});
    EXPECT_EQ(prop, (std::vector<std::string>{"10", std::to_string(0x66000000)}));
}

TEST_F(FtpServer, NewBoxMadeOverFtpJoinsTheBoxList) {
    StartWithAccount();
    const std::string auth = "SID=" + sid + "&PWD=admin";
    std::string box(1024, '\0');
    box.replace(0, 8, "B0000009");
    const std::string name = "Neu";
    for (size_t i = 0; i < name.size(); ++i) box[64 + 2 * i] = name[i];
    WriteFile(dir.Path() / "box", box);
    auto out =
        Ftp({"login:" + login + ":admin", "raw:MKD /SHR/BOX/DATA/B0000009", "raw:MKD /SHR/BOX/DATA/B0000009/P0000001",
             "put:/SHR/BOX/DATABASE/B0000009.XML:" + (dir.Path() / "box").string()});
    EXPECT_FALSE(Contains(out, "ERR")) << out.back();
    auto list =
        Page(Admin("boxnwGetBoxList", "SID=" + sid),
             {"Message/Boxes@NumOfBoxes", "Message/Boxes/BoxProp[4]@BoxNo", "Message/Boxes/BoxProp[4]/BoxName"});
    EXPECT_EQ(list, (std::vector<std::string>{"4", "9", "Neu"}));
    EXPECT_EQ(Page(Admin("boxnwGetFolderDocList", auth + "&BNO=009&FID="),
                   {"Message/Result", "Message/Folders@NumOfFolders", "Message/Documents@NumOfDocs"}),
              (std::vector<std::string>{"0", "0", "0"}));
}

TEST_F(FtpServer, ListDialectTakesListWordsOnly) {
    StartWithAccount();
    auto out = Ftp({"login:" + login + ":admin", "list:ls /SHR/BOX", "raw:mkdir /SHR/BOX/X", "raw:cd /SHR",
                    "raw:delete /SHR/BOX/DATABASE/B0000001.XML", "raw:rmdir /SHR/BOX/DATA", "list:LIST /SHR/BOX",
                    "raw:MKD /SHR/BOX/X", "raw:CWD /SHR/BOX/X", "raw:PWD", "raw:CDUP", "raw:RMD /SHR/BOX/X"});
    ASSERT_EQ(out.size(), 16u);  // welcome, login, 5 refusals, head + 2 entries + 226, 5 replies
    for (int i = 2; i <= 6; ++i) EXPECT_EQ(out[i].rfind("ERR 500", 0), 0u) << out[i];
    EXPECT_EQ(out[7].rfind("| total ", 0), 0u) << out[7];
    EXPECT_EQ(out[8].rfind("| drwxr-xr-x", 0), 0u) << out[8];
    EXPECT_EQ(out[8].substr(out[8].size() - 5), " DATA") << out[8];
    EXPECT_TRUE(Contains(out, "257 \"/SHR/BOX/X\" created."));
    EXPECT_TRUE(Contains(out, "257 \"/SHR/BOX/X\" is the current directory."));
    EXPECT_EQ(out.back(), "250 Remove directory operation successful.");
    EXPECT_TRUE(fs::exists(Store() / "SHR/BOX/DATABASE/B0000001.XML"));

    // curl's own listing and raw commands (-Q) against the same words.
    auto q = Shell(Curl("-Q 'MKD /SHR/BOX/Q1' -Q 'RMD /SHR/BOX/Q1' " + Quote(FtpUrl("/SHR/BOX/"))));
    EXPECT_EQ(q.exitCode, 0);
    EXPECT_NE(q.out.find(" DATABASE\n"), std::string::npos);
    EXPECT_EQ(Shell(Curl("-Q 'mkdir /SHR/BOX/Q2' " + Quote(FtpUrl("/SHR/BOX/")))).exitCode, 21);  // quote failed
    EXPECT_FALSE(fs::exists(Store() / "SHR/BOX/Q2"));
}

TEST_F(FtpServer, ShellDialectTakesShellWordsOnly) {
    devicesim::DeviceOptions o;
    o.engineVersion = devicesim::kShellDialectVersion;
    StartWithAccount(o);
    ASSERT_TRUE(device->ShellDialect());
    auto out = Ftp({"login:" + login + ":admin", "list:LIST /SHR/BOX", "raw:MKD /SHR/BOX/X", "raw:CWD /SHR",
                    "raw:DELE /SHR/BOX/DATABASE/B0000001.XML", "raw:RMD /SHR/BOX/DATA", "list:ls /SHR/BOX",
                    "raw:mkdir /SHR/BOX/X", "raw:cd /SHR/BOX/X", "raw:rmdir /SHR/BOX/X",
                    "raw:delete /SHR/BOX/DATABASE/B0000003.XML"});
    ASSERT_EQ(out.size(), 15u);
    for (int i = 2; i <= 6; ++i) EXPECT_EQ(out[i].rfind("ERR 500", 0), 0u) << out[i];
    EXPECT_TRUE(Contains(out, "| drwxr-xr-x"));
    EXPECT_TRUE(Contains(out, "257 \"/SHR/BOX/X\" created."));
    EXPECT_EQ(out.back(), "250 Delete operation successful.");
    EXPECT_TRUE(fs::exists(Store() / "SHR/BOX/DATABASE/B0000001.XML"));
    EXPECT_FALSE(fs::exists(Store() / "SHR/BOX/DATABASE/B0000003.XML"));

    // curl with a custom list word, as the engine sends it.
    auto ls = Shell(Curl("-X 'ls /SHR/BOX/DATA' " + Quote(FtpUrl("/"))));
    EXPECT_EQ(ls.exitCode, 0);
    EXPECT_NE(ls.out.find(" B0000002\n"), std::string::npos) << ls.out;
}

TEST_F(FtpServer, PathsNeverLeaveTheStore) {
    StartWithAccount();
    WriteFile(dir.Path() / "outside.txt", "secret");
    fs::create_symlink(dir.Path() / "outside.txt", Store() / "SHR/BOX/link.txt");
    fs::create_directory_symlink(dir.Path(), Store() / "SHR/BOX/linkdir");
    WriteFile(dir.Path() / "up", "payload");
    auto out =
        Ftp({"login:" + login + ":admin", "get:../outside.txt", "get:/../outside.txt", "get:/SHR/../../outside.txt",
             "get:/SHR/BOX/link.txt", "get:/SHR/BOX/linkdir/outside.txt", "list:LIST /..", "list:LIST /SHR/BOX/linkdir",
             "raw:CWD ..", "raw:MKD ../made", "put:../../escape.txt:" + (dir.Path() / "up").string(),
             "put:/SHR/BOX/linkdir/escape.txt:" + (dir.Path() / "up").string(), "raw:DELE /SHR/BOX/link.txt/..",
             "raw:CWD /SHR/BOX/..", "raw:PWD", "get:/etc/passwd"});
    std::string all;
    for (const auto &l : out) all += l + "\n";
    EXPECT_EQ(all.find("secret"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir.Path() / "escape.txt"));
    EXPECT_FALSE(fs::exists(dir.Path().parent_path() / "escape.txt"));
    EXPECT_FALSE(fs::exists(dir.Path() / "made"));
    EXPECT_TRUE(fs::exists(dir.Path() / "outside.txt"));
    EXPECT_TRUE(Contains(out, "257 \"/SHR\" is the current directory."));  // ".." inside the store is fine
    int refused = 0;
    for (const auto &l : out) refused += l.rfind("ERR 5", 0) == 0;
    EXPECT_EQ(refused, 13) << all;
}

TEST_F(FtpServer, TransfersStayRawBytesUnderTypeA) {
    StartWithAccount();
    std::string bytes;
    for (int i = 0; i < 4096; ++i) bytes += static_cast<char>(i * 7 % 256);
    bytes += "line\nother\r\nlast\r";
    WriteFile(dir.Path() / "bin", bytes);
    // ftplib with TYPE A on the wire and no conversion on its side.
    auto out = Ftp({"login:" + login + ":admin", "putascii:/SHR/BOX/raw.bin:" + (dir.Path() / "bin").string(),
                    "getascii:/SHR/BOX/raw.bin:" + (dir.Path() / "back").string()});
    EXPECT_FALSE(Contains(out, "ERR")) << out.back();
    EXPECT_TRUE(ReadFile(Store() / "SHR/BOX/raw.bin") == bytes);
    EXPECT_TRUE(ReadFile(dir.Path() / "back") == bytes);
    const auto commands = device->Records().ftpCommands;
    EXPECT_TRUE(Contains(commands, "TYPE A"));
    EXPECT_TRUE(Contains(commands, "PASS ****"));
    EXPECT_FALSE(Contains(commands, "PASS admin"));
}

TEST_F(FtpServer, DataConnectionsGoBackToTheClientOnly) {
    StartWithAccount();
    auto out = Ftp({"login:" + login + ":admin", "raw:PORT 10,1,2,3,4,5", "raw:EPRT |1|10.1.2.3|1029|",
                    "raw:PORT 127,0,0,1,300,1", "raw:EPRT |9|x|1|", "raw:PORT 127,0,0,1,4,5", "raw:PASV"});
    ASSERT_EQ(out.size(), 8u);
    EXPECT_EQ(out[2].rfind("ERR 500", 0), 0u);
    EXPECT_EQ(out[3].rfind("ERR 500", 0), 0u);
    EXPECT_EQ(out[4].rfind("ERR 501", 0), 0u);
    EXPECT_EQ(out[5].rfind("ERR 501", 0), 0u);
    EXPECT_EQ(out[6], "200 PORT command successful.");
    EXPECT_EQ(out[7].rfind("ERR 502", 0), 0u);
}

}  // namespace
}  // namespace simtest
