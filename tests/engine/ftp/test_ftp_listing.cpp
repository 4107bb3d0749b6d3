// The listing parser: what a listing text turns into.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ftp/ftp_listing.hpp"

namespace {

using vtbox::FindList;
using vtbox::ParseListing;

std::vector<std::string> Names(const FindList &list) {
    std::vector<std::string> out;
    for (const auto &e : list) out.emplace_back(e.cFileName);
    return out;
}

using Strings = std::vector<std::string>;

const char *kHead = "total 8\n";
std::string Line(const std::string &name, const char *end = "\n") {
    return "-rw-r--r--   1 vtbox    vtbox          1234 Dec  8 05:40 " + name + end;
}

TEST(FtpListing, AnEmptyListingGivesTwoEmptyLists) {
    FindList folders{vt::FindData{}}, files{vt::FindData{}};
    EXPECT_EQ(ParseListing("", &folders, &files).code, 0u);
    EXPECT_TRUE(folders.empty());
    EXPECT_TRUE(files.empty());
    EXPECT_EQ(ParseListing("total 0\n", &folders, &files).code, 0u);
    EXPECT_TRUE(folders.empty() && files.empty());
}

TEST(FtpListing, AShortExtensionMakesAFile) {
    FindList folders, files;
    ASSERT_EQ(ParseListing(kHead + Line("D0000001.XML"), &folders, &files).code, 0u);
    EXPECT_EQ(Names(files), Strings{"D0000001.XML"});
    EXPECT_TRUE(folders.empty());

    ASSERT_EQ(ParseListing(kHead + Line("D0000001"), &folders, &files).code, 0u);
    EXPECT_EQ(Names(folders), Strings{"D0000001"});
    EXPECT_TRUE(files.empty());

    ASSERT_EQ(ParseListing(kHead + Line("A.B") + Line("AB") + Line("X.") + Line(".XYZ") + Line("F0000001.ABCD"),
                           &folders, &files)
                  .code,
              0u);
    EXPECT_EQ(Names(files), (Strings{"A.B", ".XYZ"}));
    EXPECT_EQ(Names(folders), (Strings{"AB", "X.", "F0000001.ABCD"}));

    // Only the record's name is filled.
    EXPECT_EQ(files[0].dwFileAttributes, 0u);
    EXPECT_EQ(files[0].nFileSizeLow, 0u);
}

TEST(FtpListing, LineEndsOfEitherKindAndAMissingLastOne) {
    FindList folders, files;
    std::string text = "total 8\r\n" + Line("F0000001", "\r\n") + Line("D0000001.XML", "\r\n") + Line("CREATE.STS", "");
    ASSERT_EQ(ParseListing(text, &folders, &files).code, 0u);
    EXPECT_EQ(Names(folders), Strings{"F0000001"});
    EXPECT_EQ(Names(files), (Strings{"D0000001.XML", "CREATE.STS"}));
}

TEST(FtpListing, EmptyLinesAndTheHeadCarryNoEntry) {
    FindList folders, files;
    std::string text = "D0000009.XML\n\n" + Line("F0000001") + "\r\n   \n" + Line("P0000001.JPG");
    ASSERT_EQ(ParseListing(text, &folders, &files).code, 0u);
    EXPECT_EQ(Names(folders), Strings{"F0000001"});
    EXPECT_EQ(Names(files), Strings{"P0000001.JPG"});
    // Without a head, the first entry line is not taken for one.
    ASSERT_EQ(ParseListing(Line("CREATE.STS") + Line("F0000002"), &folders, &files).code, 0u);
    EXPECT_EQ(Names(folders), Strings{"F0000002"});
    EXPECT_EQ(Names(files), Strings{"CREATE.STS"});
    ASSERT_EQ(ParseListing("drwxr-xr-x 2 a b 0 Dec  8 05:40 F0000003\r\n", &folders, &files).code, 0u);
    EXPECT_EQ(Names(folders), Strings{"F0000003"});
    // A short-form line right after the head keeps its whole name.
    ASSERT_EQ(ParseListing("total 1\nB0000001\n", &folders, &files).code, 0u);
    EXPECT_EQ(Names(folders), Strings{"B0000001"});
}

TEST(FtpListing, ListsThatAreNotGivenAreSkipped) {
    FindList files;
    ASSERT_EQ(ParseListing(kHead + Line("F0000001") + Line("D0000001.XML"), nullptr, &files).code, 0u);
    EXPECT_EQ(Names(files), Strings{"D0000001.XML"});
}

TEST(FtpListing, NamesThatWouldLeaveTheFolderAreRefused) {
    const std::string unsafe[] = {".", "..", "../x", "a/b", "a\\b", std::string("a\0b", 3),
                                  "x "};  // the last one: a line that ends in a blank
    for (const auto &name : unsafe) {
        FindList folders, files;
        auto outcome = ParseListing(kHead + Line("F0000001") + Line(name), &folders, &files);
        EXPECT_EQ(outcome.code, 123u) << name;
        EXPECT_TRUE(folders.empty() && files.empty()) << name;
    }
    EXPECT_EQ(ParseListing(kHead + Line(".."), nullptr, nullptr).refusedName, "..");
}

TEST(FtpListing, NamesLongerThanTheRecordFieldAreRefusedNotCut) {
    FindList folders, files;
    std::string longest(259, 'n');
    ASSERT_EQ(ParseListing(kHead + Line(longest), &folders, &files).code, 0u);
    EXPECT_EQ(Names(folders), Strings{longest});
    auto outcome = ParseListing(kHead + Line(longest + "n.XML"), &folders, &files);
    EXPECT_EQ(outcome.code, 206u);
    EXPECT_TRUE(files.empty());
}

}  // namespace
