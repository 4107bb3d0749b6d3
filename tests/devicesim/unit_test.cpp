// Record files, seeding, path confinement and parsers of the simulated device.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "box_pages.hpp"
#include "control_page.hpp"
#include "device_state.hpp"
#include "devicesim/record_file.hpp"
#include "devicesim/seeding.hpp"
#include "devicesim/text.hpp"
#include "ftp_server.hpp"
#include "http_server.hpp"
#include "lan.hpp"
#include "store.hpp"
#include "xml_out.hpp"

namespace devicesim {
namespace {

namespace fs = std::filesystem;

TEST(EntryRecordFile, FieldsSitAtTheirOffsets) {
    EntryRecord r;
    r.ownName = "D0000012";
    r.displayName = u"Ab\u00E9";
    r.updateTime = 0x11223344;
    r.mixFlags = 0x06;
    r.paperFlags = 0x00008000;
    r.colourFlags = 0x0200;
    r.sizeTermA = 0x0102;
    r.sizeTermB = 0xA0B0C0D0;
    r.createTime = 0x01020304;
    r.mResolution = 600;
    r.thumbnail = "THUMB.BIN";
    const auto b = EncodeEntryRecord(r);
    ASSERT_GE(b.size(), 500u);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 8), "D0000012");
    EXPECT_EQ(b[8], 0);
    EXPECT_EQ((std::vector<uint8_t>(b.begin() + 9, b.begin() + 17)),
              (std::vector<uint8_t>{'A', 0, 'b', 0, 0xE9, 0, 0, 0}));
    EXPECT_EQ((std::vector<uint8_t>(b.begin() + 148, b.begin() + 152)), (std::vector<uint8_t>{0x11, 0x22, 0x33, 0x44}));
    EXPECT_EQ(b[157], 0x06);
    EXPECT_EQ(b[162], 0x80);  // paper flags big-endian: bit 15 in the byte at 162
    EXPECT_EQ(b[166], 0x00);
    EXPECT_EQ(b[167], 0x02);  // colour flags little-endian: bit 9 in the byte at 167
    EXPECT_EQ(b[169], 0x02);
    EXPECT_EQ(b[170], 0x01);
    EXPECT_EQ((std::vector<uint8_t>(b.begin() + 172, b.begin() + 176)), (std::vector<uint8_t>{0xA0, 0xB0, 0xC0, 0xD0}));
    EXPECT_EQ(b[176], 0x04);  // own fields are little-endian
    EXPECT_EQ(b[188] | (b[189] << 8), 600);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(&b[196])), "THUMB.BIN");
    EXPECT_EQ(DecodeEntryRecord(b), r);
}

TEST(EntryRecordFile, NamesAreCutToTheirField) {
    EntryRecord r;
    r.ownName = "D00000123456";  // only eight bytes are kept
    r.displayName = std::u16string(64, u'x');
    auto b = EncodeEntryRecord(r);
    EXPECT_EQ(b[8], 0);
    EXPECT_EQ(DecodeEntryRecord(b).ownName, "D0000012");
    EXPECT_EQ(DecodeEntryRecord(b).displayName, std::u16string(64, u'x'));  // 64 units: no terminator
    EXPECT_EQ(b[137], 0);                                                   // nothing spills past the name field

    r.displayName.assign(63, u'y');
    r.displayName.append(u"\U0001F600");  // surrogate pair at units 63 and 64
    EXPECT_EQ(DecodeEntryRecord(EncodeEntryRecord(r)).displayName, std::u16string(63, u'y'));
}

TEST(EntryRecordFile, ShortOrForeignRecordsDecodeWithoutHarm) {
    const std::vector<uint8_t> shortRecord = {'D', '0', '0', '0', '0', '0', '0', '1', 0, 'Q', 0};
    EntryRecord r = DecodeEntryRecord(shortRecord);
    EXPECT_EQ(r.ownName, "D0000001");
    EXPECT_EQ(r.displayName, u"Q");
    EXPECT_EQ(r.updateTime, 0u);
    EXPECT_EQ(DecodeEntryRecord({}).ownName, "");
    std::vector<uint8_t> noise(600, 0xFF);  // no terminators anywhere
    r = DecodeEntryRecord(noise);
    EXPECT_EQ(r.ownName.size(), 8u);
    EXPECT_EQ(r.displayName.size(), kEntryNameUnits);
    EXPECT_EQ(r.thumbnail.size(), kThumbnailNameMax);
}

TEST(BoxRecordFile, RoundTrip) {
    BoxRecord r;
    r.ownName = "B0000007";
    r.createTime = 5;
    r.updateTime = 6;
    r.protectedFlag = 1;
    r.preservationFlag = 1;
    r.preservationDays = 90;
    r.name = u"N\u00E4me & <x>";
    r.owner = u"Owner";
    r.warningNotice = u"Warn";
    auto b = EncodeBoxRecord(r);
    EXPECT_EQ(b.size(), kBoxRecordSize);
    EXPECT_EQ(b[box_offset::kName + 2], 0xE4);
    EXPECT_EQ(DecodeBoxRecord(b), r);
}

TEST(Text, ConversionsNeverFailOnBadInput) {
    EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16("caf\xC3\xA9 \xE6\x96\x87 \xF0\x9F\x98\x80")),
              "caf\xC3\xA9 \xE6\x96\x87 \xF0\x9F\x98\x80");
    EXPECT_EQ(Utf8ToUtf16("a\xFF"
                          "b"),
              u"a\uFFFDb");
    EXPECT_EQ(Utf8ToUtf16("\xE6\x96"), u"\uFFFD");                                // cut sequence
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD");                                // overlong
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");  // lone surrogate
}

class TempStore : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "devicesim-unit-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
    }
    void TearDown() override { fs::remove_all(root_); }
    static std::map<std::string, std::string> Tree(const fs::path &root) {
        std::map<std::string, std::string> out;
        for (auto &e : fs::recursive_directory_iterator(root)) {
            std::string rel = e.path().lexically_relative(root).generic_string();
            if (e.is_directory()) {
                out[rel] = "<dir>";
            } else {
                std::ifstream in(e.path(), std::ios::binary);
                out[rel] = std::string(std::istreambuf_iterator<char>(in), {});
            }
        }
        return out;
    }
    fs::path root_;
};

using Seeding = TempStore;

TEST_F(Seeding, IsDeterministicAndFillsOnlyAnEmptyStore) {
    SeedOptions o;
    o.boxes = 2;
    o.folders = 1;
    o.docs = 2;
    o.pages = 2;
    o.pageKb = 4;
    std::string error;
    ASSERT_TRUE(SeedStore(root_ / "a", o, error)) << error;
    ASSERT_TRUE(SeedStore(root_ / "b", o, error)) << error;
    const auto a = Tree(root_ / "a");
    EXPECT_EQ(a, Tree(root_ / "b"));
    EXPECT_TRUE(a.count("SHR/BOX/DATABASE/B0000002.XML"));
    EXPECT_TRUE(a.count("SHR/BOX/DATA/B0000002/P0000001/F0000001/D0000002/PAGE0002.DAT"));
    EXPECT_TRUE(a.count("SHR/BOX/DATA/B0000001/UNLOCK.STS"));
    EXPECT_EQ(a.at("SHR/BOX/DATA/B0000001/P0000001/D0000001/PAGE0001.DAT").size(), 4096u);

    // Names carry markup characters and non-ASCII text.
    const std::string name = SeededDocumentName(1, 0, 1);
    for (const char *part : {"&", "<", ">", "\"", "\xC3\xA9"}) EXPECT_NE(name.find(part), std::string::npos) << part;
    EntryRecord rec =
        DecodeEntryRecord(std::vector<uint8_t>(a.at("SHR/BOX/DATA/B0000001/P0000001/D0000001.XML").begin(),
                                               a.at("SHR/BOX/DATA/B0000001/P0000001/D0000001.XML").end()));
    EXPECT_EQ(Utf16ToUtf8(rec.displayName), name);

    // Page data: partly long runs (compressible), partly noise.
    const std::string &page = a.at("SHR/BOX/DATA/B0000001/P0000001/D0000001/PAGE0002.DAT");
    size_t inRuns = 0;
    for (size_t i = 0, run = 1; i < page.size(); ++i) {
        run = (i > 0 && page[i] == page[i - 1]) ? run + 1 : 1;
        if (run == 16)
            inRuns += 16;
        else if (run > 16)
            ++inRuns;
    }
    EXPECT_GT(inRuns, page.size() / 4);
    EXPECT_LT(inRuns, page.size() * 9 / 10);

    // A store with boxes is left as it is.
    EXPECT_FALSE(SeedStore(root_ / "a", SeedOptions{}, error));
    EXPECT_EQ(Tree(root_ / "a"), a);
}

// The filters of a conversion read these bytes of a document record.
TEST_F(Seeding, FlagOptionsChangeOnlyTheFlagBytesOfTheSelectedDocuments) {
    SeedOptions o;
    o.boxes = 2;
    o.folders = 1;
    o.docs = 2;
    o.pages = 1;
    o.pageKb = 1;
    std::string error;
    ASSERT_TRUE(SeedStore(root_ / "plain", o, error)) << error;
    o.colourDocs = DocumentSelection::Parse("1.0.1,2.1.2=0x0800", kColourFlag, 0xFFFF, error);
    o.wideDocs = DocumentSelection::Parse("1.0.1=0x8000,1.1.*", kWidePaperFlag, 0xFFFFFFFF, error);
    o.mixDocs = DocumentSelection::Parse("2.0.2,2.1.1=0x02", kCopyMixFlag, 0xFF, error);
    ASSERT_TRUE(o.colourDocs && o.wideDocs && o.mixDocs);
    ASSERT_TRUE(SeedStore(root_ / "flagged", o, error)) << error;
    const auto plain = Tree(root_ / "plain"), flagged = Tree(root_ / "flagged");
    ASSERT_EQ(plain.size(), flagged.size());

    // document -> bytes at 157, 162, 167
    const std::map<std::string, std::array<uint8_t, 3>> expected = {
        {"SHR/BOX/DATA/B0000001/P0000001/D0000001.XML", {0, 0x80, 0x02}},  // colour + wide
        {"SHR/BOX/DATA/B0000001/P0000001/D0000002.XML", {0, 0, 0}},
        {"SHR/BOX/DATA/B0000001/P0000001/F0000001/D0000001.XML", {0, 0x40, 0}},
        {"SHR/BOX/DATA/B0000001/P0000001/F0000001/D0000002.XML", {0, 0x40, 0}},
        {"SHR/BOX/DATA/B0000002/P0000001/D0000001.XML", {0, 0, 0}},
        {"SHR/BOX/DATA/B0000002/P0000001/D0000002.XML", {0x06, 0, 0}},
        {"SHR/BOX/DATA/B0000002/P0000001/F0000001/D0000001.XML", {0x02, 0, 0}},
        {"SHR/BOX/DATA/B0000002/P0000001/F0000001/D0000002.XML", {0, 0, 0x08}},  // kept by a colour filter
    };
    for (const auto &[path, bytes] : flagged) {
        std::string other = plain.at(path);
        auto want = expected.find(path);
        if (want == expected.end()) {
            EXPECT_EQ(bytes, other) << path;  // pages, folders, box records: untouched
            continue;
        }
        ASSERT_EQ(bytes.size(), kEntryRecordSize) << path;
        EXPECT_EQ(static_cast<uint8_t>(bytes[157]), want->second[0]) << path;
        EXPECT_EQ(static_cast<uint8_t>(bytes[162]), want->second[1]) << path;
        EXPECT_EQ(static_cast<uint8_t>(bytes[167]), want->second[2]) << path;
        for (size_t at : {157, 160, 161, 162, 163, 166, 167}) other[at] = bytes[at];
        EXPECT_EQ(bytes, other) << path << ": a byte other than the flags changed";
    }
}

TEST(StorePaths, NormaliseInsideTheRootOnly) {
    EXPECT_EQ(Store::NormalizeVirtual("/", "/SHR/BOX"), "/SHR/BOX");
    EXPECT_EQ(Store::NormalizeVirtual("/SHR", "BOX//DATA/./"), "/SHR/BOX/DATA");
    EXPECT_EQ(Store::NormalizeVirtual("/SHR/BOX", ".."), "/SHR");
    EXPECT_EQ(Store::NormalizeVirtual("/SHR/BOX", "../../"), "/");
    EXPECT_EQ(Store::NormalizeVirtual("/SHR/BOX", ""), "/SHR/BOX");
    EXPECT_EQ(Store::NormalizeVirtual("/", "/a/b/../../c"), "/c");
    EXPECT_EQ(Store::NormalizeVirtual("/", ".."), std::nullopt);
    EXPECT_EQ(Store::NormalizeVirtual("/SHR", "../.."), std::nullopt);
    EXPECT_EQ(Store::NormalizeVirtual("/", "/SHR/../../etc"), std::nullopt);
    EXPECT_EQ(Store::NormalizeVirtual("/", std::string("a\0b", 3)), std::nullopt);
    EXPECT_EQ(Store::NormalizeVirtual("/", "a\nb"), std::nullopt);
    EXPECT_EQ(Store::NormalizeVirtual("/", std::string(2000, 'a')), std::nullopt);
    // A backslash is a plain name character here, not a separator.
    EXPECT_EQ(Store::NormalizeVirtual("/", "..\\x"), "/..\\x");
}

TEST(EntryNames, OnlyTheLetterAndSevenDigits) {
    EXPECT_EQ(ParseEntryName("D0000012.XML", 'D', ".XML"), 12u);
    EXPECT_EQ(ParseEntryName("F0000001", 'F', ""), 1u);
    EXPECT_EQ(ParseEntryName("D000001.XML", 'D', ".XML"), std::nullopt);
    EXPECT_EQ(ParseEntryName("D00000X1.XML", 'D', ".XML"), std::nullopt);
    EXPECT_EQ(ParseEntryName("D0000001.xml", 'D', ".XML"), std::nullopt);
    EXPECT_EQ(ParseEntryName("F0000001.XML", 'D', ".XML"), std::nullopt);
    EXPECT_EQ(EntryName('B', 7), "B0000007");
    EXPECT_EQ(ParseLetterNumber("", 'F'), 0u);
    EXPECT_EQ(ParseLetterNumber("F0000012", 'F'), 12u);
    EXPECT_EQ(ParseLetterNumber("F", 'F'), std::nullopt);
    EXPECT_EQ(ParseLetterNumber("D0000012", 'F'), std::nullopt);
    EXPECT_EQ(ParseDecimal("1234567890"), std::nullopt);
    EXPECT_EQ(ParseDecimal("-1"), std::nullopt);
}

TEST(FtpWire, PortArgumentsAndListingLines) {
    sockaddr_storage a{};
    EXPECT_TRUE(ParsePortArgument("127,0,0,1,4,1", a));
    EXPECT_EQ(ntohs(reinterpret_cast<sockaddr_in *>(&a)->sin_port), 1025);
    EXPECT_FALSE(ParsePortArgument("127,0,0,1,4", a));
    EXPECT_FALSE(ParsePortArgument("127,0,0,1,4,1,9", a));
    EXPECT_FALSE(ParsePortArgument("127,0,0,256,4,1", a));
    EXPECT_FALSE(ParsePortArgument("127,0,0,1,0,0", a));
    EXPECT_TRUE(ParseEprtArgument("|1|127.0.0.1|5282|", a));
    EXPECT_TRUE(ParseEprtArgument("|2|::1|5282|", a));
    EXPECT_FALSE(ParseEprtArgument("|1|127.0.0.1|70000|", a));
    EXPECT_FALSE(ParseEprtArgument("|1|localhost|21|", a));
    EXPECT_FALSE(ParseEprtArgument("|1|127.0.0.1|21", a));

    EXPECT_EQ(ListingLine("D0000001.XML", false, 512, 0),
              "-rw-r--r--   1 vtbox    vtbox             512 Jan  1  1970 D0000001.XML");
    EXPECT_EQ(ListingLine("D0000001", true, 4096, 0).substr(0, 10), "drwxr-xr-x");
}

TEST(HttpWire, RequestLinesAndQueries) {
    HttpRequest r;
    ASSERT_TRUE(ParseRequestLine(
        "GET /VaultraBox/Admin/boxnwDeleteDoc?SID=00000001&BNO=001&PWD=a=b&FID=&DID=D0000002 HTTP/1.0", r));
    EXPECT_EQ(r.path, "/VaultraBox/Admin/boxnwDeleteDoc");
    EXPECT_EQ(r.Param("PWD"), "a=b");  // only the first "=" separates
    EXPECT_EQ(r.Param("FID"), "");
    EXPECT_EQ(r.Param("DID"), "D0000002");
    EXPECT_EQ(r.Param("MOD"), std::nullopt);
    EXPECT_TRUE(ParseRequestLine("GET http://h:8080/VaultraBox/vtb.asp? HTTP/1.1", r));
    EXPECT_EQ(r.path, "/VaultraBox/vtb.asp");
    for (const char *bad :
         {"", "GET", "GET /x", "GET /x HTTP/2.0", "GET x HTTP/1.0", "GET  /x HTTP/1.0", "GET /x HTTP/1.0 extra"})
        EXPECT_FALSE(ParseRequestLine(bad, r)) << bad;
}

TEST(HttpWire, QueryValuesArePercentDecoded) {
    HttpRequest r;
    // Every escape decodes, in either case; "+" stays a plus sign.
    ASSERT_TRUE(ParseRequestLine("GET /p?P%57D=a%26b%25c+%3d%20%23%C3%a9&SID=1 HTTP/1.0", r));
    EXPECT_EQ(r.Param("PWD"), "a&b%c+= #\xC3\xA9");
    EXPECT_EQ(r.Param("SID"), "1");
    for (const char *bad :
         {"GET /p?PWD=%zz HTTP/1.0", "GET /p?PWD=ab%4 HTTP/1.0", "GET /p?PWD=% HTTP/1.0", "GET /p?P%G0D=a HTTP/1.0"})
        EXPECT_FALSE(ParseRequestLine(bad, r)) << bad;
}

TEST(HttpWire, RecordsMaskThePasswordHoweverItIsEscaped) {
    EXPECT_EQ(MaskedTarget("/p?SID=1&PWD=secret&BNO=001"), "/p?SID=1&PWD=****&BNO=001");
    EXPECT_EQ(MaskedTarget("/p?SID=1&PWD=%73%65cret"), "/p?SID=1&PWD=****");
    EXPECT_EQ(MaskedTarget("/p?P%57D=secret&MOD=0"), "/p?P%57D=****&MOD=0");
    // A raw "&" inside the password: the pieces before the next page key are folded in.
    EXPECT_EQ(MaskedTarget("/p?SID=1&PWD=a&b=c&d&FID="), "/p?SID=1&PWD=****&FID=");
    EXPECT_EQ(MaskedTarget("/p?PWD="), "/p?PWD=****");
    EXPECT_EQ(MaskedTarget("/VaultraBox/vtb.asp?"), "/VaultraBox/vtb.asp?");
    EXPECT_EQ(MaskedTarget("/p?a&&SID=1"), "/p?a&&SID=1");
}

TEST(SeedSelection, ItemsRangesAndValues) {
    std::string error;
    auto s = DocumentSelection::Parse("1.0.2,2.*.1-2=0x0400,all=7,3.1.*", 0x0200, 0xFFFF, error);
    ASSERT_TRUE(s) << error;
    EXPECT_EQ(s->ValueFor(1, 0, 2), 7u);  // the last item that selects a document gives its value
    EXPECT_EQ(s->ValueFor(3, 1, 9), 0x0200u);
    EXPECT_EQ(s->ValueFor(3, 2, 9), 7u);
    s = DocumentSelection::Parse("1.0.2,2.*.1-2=0x0400", 0x0200, 0xFFFF, error);
    ASSERT_TRUE(s) << error;
    EXPECT_EQ(s->ValueFor(1, 0, 2), 0x0200u);
    EXPECT_EQ(s->ValueFor(1, 1, 2), std::nullopt);
    EXPECT_EQ(s->ValueFor(2, 5, 2), 0x0400u);
    EXPECT_EQ(s->ValueFor(2, 0, 3), std::nullopt);
    EXPECT_EQ(DocumentSelection::Parse("none", 1, 1, error)->ValueFor(1, 0, 1), std::nullopt);
    for (const char *bad : {"", "1.2", "1.2.3.4", "1.x.3", "2-1.0.1", "1.0.1=", "1.0.1=0x100", "1.0.1=256", "*.*"}) {
        EXPECT_FALSE(DocumentSelection::Parse(bad, 1, 0xFF, error)) << bad;
        EXPECT_FALSE(error.empty());
    }
}

TEST(ControlPageAccess, OnlyLoopbackClients) {
    Faults faults;
    Recorder recorder;
    LanState lan({});
    ControlPage page(faults, recorder, lan);
    HttpRequest r;
    ASSERT_TRUE(ParseRequestLine("GET /devicesim/fault?kind=low-disk&value=1 HTTP/1.0", r));
    r.loopbackPeer = false;
    EXPECT_EQ(page.Handle(r).status, 403);
    EXPECT_EQ(faults.LowDisk(), std::nullopt);
    r.loopbackPeer = true;
    EXPECT_EQ(page.Handle(r).status, 200);
    EXPECT_EQ(faults.LowDisk(), 1u);
}

TEST(ControlPageAccess, FaultsAfterAPageWaitForThatPage) {
    Faults faults;
    Recorder recorder;
    LanState lan({});
    ControlPage page(faults, recorder, lan);
    for (const char *line : {"GET /devicesim/fault?kind=freeze&scope=web&after=boxnwDeleteDoc HTTP/1.0",
                             "GET /devicesim/fault?kind=ftp-drop&after=boxnwDeleteDoc&nth=2&bytes=7 HTTP/1.0"}) {
        HttpRequest r;
        ASSERT_TRUE(ParseRequestLine(line, r));
        r.loopbackPeer = true;
        EXPECT_EQ(page.Handle(r).status, 200) << line;
    }
    faults.PageAnswered("boxnwGetBoxList");
    EXPECT_FALSE(faults.Frozen(true));
    EXPECT_EQ(faults.TakeDataDrop(100), std::nullopt);
    faults.PageAnswered("boxnwDeleteDoc");
    EXPECT_TRUE(faults.Frozen(true));
    EXPECT_FALSE(faults.Frozen(false));
    EXPECT_EQ(faults.TakeDataDrop(100), std::nullopt);
    EXPECT_EQ(faults.TakeDataDrop(100), 7u);
}

HttpReply Control(ControlPage &page, const std::string &target) {
    HttpRequest r;
    EXPECT_TRUE(ParseRequestLine("GET /devicesim/" + target + " HTTP/1.0", r)) << target;
    r.loopbackPeer = true;
    return page.Handle(r);
}

TEST(ControlPageAccess, LanModelAndCountsStayWithinTheirBounds) {
    Faults faults;
    Recorder recorder;
    LanState lan({});
    ControlPage page(faults, recorder, lan);
    EXPECT_EQ(Control(page, "lan?latency-ms=10000&rate-kbps=10000000&max-data-connections=64").status, 200);
    EXPECT_EQ(lan.Get(), (LanModel{kMaxLatencyMs, kMaxRateKbps, kMaxDataConnectionsLimit}));
    for (const char *bad : {"lan?latency-ms=10001", "lan?rate-kbps=10000001", "lan?max-data-connections=65",
                            "lan?latency-ms=-1", "lan"}) {
        EXPECT_EQ(Control(page, bad).status, 400) << bad;
    }
    EXPECT_EQ(lan.Get().latencyMs, kMaxLatencyMs);  // a refused request changes nothing
    // One data connection allowed: the second waits for the first to end.
    EXPECT_EQ(Control(page, "lan?max-data-connections=1").status, 200);
    EXPECT_TRUE(lan.OpenData());
    EXPECT_FALSE(lan.OpenData());
    lan.CloseData();
    EXPECT_TRUE(lan.OpenData());

    // Verbs of either dialect count upper-cased; beyond kMaxCountedNames
    // names, and for a name that is not a plain word, the count goes on under
    // one name.
    recorder.Ftp("ls /SHR");
    recorder.Ftp("LS");
    for (size_t i = 1; i < kMaxCountedNames; ++i) recorder.Ftp("V" + std::to_string(i) + " x");
    recorder.Ftp("ONEMORE");
    recorder.Ftp(std::string(kMaxCountedNameLength + 1, 'A'));
    recorder.Ftp("X\x01");
    recorder.Http("/VaultraBox/Admin/boxnwGetBoxList?SID=1");
    recorder.Http("/VaultraBox/Admin/boxnwGetBoxList");
    recorder.Http("/" + std::string(kMaxCountedNameLength, 'p'));
    const std::string text = Control(page, "counts").body;
    for (const std::string &line : std::vector<std::string>{
             "ftp-commands 68\n", "ftp-command LS 2\n", "ftp-command V63 1\n", "ftp-command (other) 3\n",
             "box-requests 3\n", "box-request boxnwGetBoxList 2\n",
             "box-request " + std::string(kMaxCountedNameLength, 'p') + " 1\n", "max-data-connections 1\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
    EXPECT_EQ(recorder.Snapshot().ftpCommandCounts.size(), kMaxCountedNames + 1);
    EXPECT_EQ(Control(page, "clear-records").status, 200);
    EXPECT_NE(Control(page, "counts").body.find("ftp-commands 0\nbox-requests 0\n"), std::string::npos);
}

TEST(WebSessions, IdleSessionsEndWithWhatTheyHold) {
    auto now = DeviceState::Clock::time_point{};
    DeviceState state(2, 900, [&now] { return now; });
    const uint32_t a = state.OpenSession(), b = state.OpenSession();
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_EQ(state.OpenSession(), 0u);  // full
    ASSERT_EQ(state.EnterExclusive(a, 1), 0);
    ASSERT_TRUE(state.CreateFtpAccount(a).has_value());
    EXPECT_EQ(state.EnterExclusive(b, 0), 212);

    now += std::chrono::seconds(600);
    EXPECT_TRUE(state.HasSession(b));  // b stays active, a does not
    now += std::chrono::seconds(600);
    EXPECT_FALSE(state.HasSession(a));
    EXPECT_TRUE(state.HasSession(b));
    EXPECT_EQ(state.EnterExclusive(b, 0), 0);
    EXPECT_FALSE(state.FtpLoginAllowed("vtbkup0001"));
    EXPECT_NE(state.OpenSession(), 0u);  // a's place is free again

    DeviceState forever(1, 0, [&now] { return now; });
    const uint32_t c = forever.OpenSession();
    now += std::chrono::hours(1000);
    EXPECT_TRUE(forever.HasSession(c));
}

TEST(XmlOutput, EscapesMarkupAndDropsForbiddenControls) {
    EXPECT_EQ(XmlEscape("a&b<c>d\"e'f\x01g"), "a&amp;b&lt;c&gt;d&quot;e&apos;fg");
    XmlOut x = ReplyFrame("V <1>", 0);
    x.Open("L", {{"N", "\"q\""}});
    const std::string doc = x.Finish();
    EXPECT_NE(doc.find("<Version>V &lt;1&gt;</Version>"), std::string::npos);
    EXPECT_NE(doc.find("<L N=\"&quot;q&quot;\">"), std::string::npos);
    EXPECT_NE(doc.find("</BoxNwLib>"), std::string::npos);
}

}  // namespace
}  // namespace devicesim
