#include <gtest/gtest.h>

#include "conversion_report.hpp"
#include "options.hpp"
#include "text_output.hpp"

namespace {

bool Parse(std::vector<std::string> args, vtcli::Options *o, std::string *error) {
    std::vector<char *> argv{const_cast<char *>("vtbox")};
    for (auto &a : args) argv.push_back(a.data());
    return vtcli::ParseOptions(static_cast<int>(argv.size()), argv.data(), o, error);
}

TEST(CliOptions, BackupAndRestoreCommandLines) {
    vtcli::Options o;
    std::string error;
    ASSERT_TRUE(Parse({"--host", "10.0.0.5", "--port", "8081", "--ftp-port", "2121", "backup", "--boxes", "1,2,5,2",
                       "--output", "b.zip"},
                      &o, &error))
        << error;
    EXPECT_EQ(o.host, "10.0.0.5");
    EXPECT_EQ(o.port, 8081u);
    EXPECT_EQ(*o.ftpPort, 2121u);
    EXPECT_EQ(o.boxes, (std::vector<uint32_t>{1, 2, 5}));  // a repeated box once
    EXPECT_EQ(o.output, "b.zip");

    vtcli::Options r;
    ASSERT_TRUE(Parse({"--host", "h", "restore", "--input", "b.zip", "--boxes", "all", "--mode", "replace"}, &r, &error));
    EXPECT_TRUE(r.allBoxes);
    EXPECT_EQ(r.mode, 1u);
    vtcli::Options i;
    ASSERT_TRUE(Parse({"info", "b.zip", "--json"}, &i, &error));
    EXPECT_EQ(i.input, "b.zip");
    EXPECT_TRUE(i.json);
}

TEST(CliOptions, ConvertNeedsNoDevice) {
    vtcli::Options o;
    std::string error;
    ASSERT_TRUE(Parse({"convert", "backup", "a.zip", "b.zip", "--to", "Korvo-C V1.3.0.0"}, &o, &error)) << error;
    EXPECT_EQ(o.convertWhat, "backup");
    EXPECT_EQ(o.source, "a.zip");
    EXPECT_EQ(o.destination, "b.zip");
    EXPECT_EQ(o.fromVersion, "");
    EXPECT_EQ(o.toVersion, "Korvo-C V1.3.0.0");
    vtcli::Options h;
    EXPECT_TRUE(Parse({"convert", "--help"}, &h, &error)) << error;
}

TEST(CliOptions, UsageErrorsSayWhatIsWrong) {
    struct Case {
        std::vector<std::string> args;
        const char *says;
    } cases[] = {
        {{"backup", "--boxes", "1", "--output", "x"}, "--host"},
        {{"--host", "h", "backup", "--output", "x"}, "--boxes"},
        {{"--host", "h", "backup", "--boxes", "0", "--output", "x"}, "1 to 999"},
        {{"--host", "h", "backup", "--boxes", "1,,2", "--output", "x"}, "1 to 999"},
        {{"--host", "h", "backup", "--boxes", "1000", "--output", "x"}, "1 to 999"},
        {{"--host", "h", "--port", "70000", "boxes"}, "--port"},
        {{"--host", "h", "--password", "secret", "boxes"}, "never taken from the command line"},
        {{"--host", "h", "restore", "--input", "b", "--boxes", "1", "--mode", "merge"}, "replace or keep-both"},
        {{"--host", "h", "restore", "--input", "b", "--boxes", "1"}, "--mode"},
        {{"--host", "h", "frobnicate"}, "unknown command"},
        {{"--host", "h", "boxes", "--what"}, "unknown option"},
        {{}, "no command"},
        {{"convert"}, "backup, archive or summary"},
        {{"convert", "restore", "a", "b", "--to", "V"}, "not \"restore\""},
        {{"convert", "backup", "a", "--to", "V"}, "the source file and the destination file"},
        {{"convert", "archive", "a", "b"}, "--to"},
        {{"convert", "summary", "--to", "V"}, "--from and --to"},
        {{"convert", "summary", "x", "--from", "U", "--to", "V"}, "unexpected argument"},
    };
    for (const Case &c : cases) {
        vtcli::Options o;
        std::string error;
        EXPECT_FALSE(Parse(c.args, &o, &error)) << c.says;
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }
}

// The tally reads the engine's box and document lines; names may hold the
// very words the lines are made of.
TEST(CliConversionReport, CountsPerBoxAndFilterWhateverTheNames) {
    vtcli::ConversionReport report;
    OutputDebugStringA("\n Converting Box -->7 Scans bDelete = 1 Flag = 7  \n");
    OutputDebugStringA("Deleting WidePaper Document ");
    OutputDebugStringA("Doc Details---->>> Box = B , Folder = , Document = x bDelete = 1 Flag = 7  bDelete = 1 Flag = 3 ");
    OutputDebugStringA("Doc Details---->>> Box = B , Folder = F, Document = y bDelete = 0 Flag = 0 ");
    OutputDebugStringA("\n Converting Box -->12 Other  \n");
    OutputDebugStringA("Doc Details---->>> Box = O , Folder = , Document = z bDelete = 1 Flag = 4 ");
    auto boxes = report.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].box, 7u);
    EXPECT_EQ(boxes[0].name, "Scans bDelete = 1 Flag = 7");
    EXPECT_EQ(boxes[0].kept, 1u);
    EXPECT_EQ(boxes[0].removed, 1u);
    EXPECT_EQ(boxes[0].colour, 1u);
    EXPECT_EQ(boxes[0].widePaper, 1u);
    EXPECT_EQ(boxes[0].copyMix, 0u);
    EXPECT_EQ(boxes[1].box, 12u);
    EXPECT_EQ(boxes[1].copyMix, 1u);
    vtcli::BoxTally total = report.Total();
    EXPECT_EQ(total.kept, 1u);
    EXPECT_EQ(total.removed, 2u);
}

TEST(CliOutput, JsonStringsAreAlwaysValid) {
    EXPECT_EQ(vtcli::JsonString("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\n\\u0001\"");
    EXPECT_EQ(vtcli::JsonString("Z\xc3\xbcrich \xe6\x9b\xb8"), "\"Z\xc3\xbcrich \xe6\x9b\xb8\"");
    EXPECT_EQ(vtcli::JsonString("bad \xff byte \xc3"), "\"bad \xef\xbf\xbd byte \xef\xbf\xbd\"");
}

}  // namespace
