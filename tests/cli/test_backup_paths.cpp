// Paths into a backup file as vtbox takes them (by name, by number, as ls
// prints them), and find's name patterns.
#include <gtest/gtest.h>

#include <cstring>

#include "backup_paths.hpp"
#include "name_pattern.hpp"

namespace {

VTBACKUPENTRY Entry(uint32_t kind, uint32_t folder, uint32_t doc, const char *name) {
    VTBACKUPENTRY e{};
    e.Kind = kind;
    e.BoxNo = 3;
    e.FolderNo = folder;
    e.DocNo = doc;
    std::strncpy(e.Name, name, sizeof e.Name - 1);
    return e;
}

vtcli::BackupTree Tree() {
    return vtcli::BackupTree({
        Entry(VTENTRY_BOX, 0, 0, "Box 3"),
        Entry(VTENTRY_FOLDER, 1, 0, "Invoices"),
        Entry(VTENTRY_DOCUMENT, 1, 12, "Scan 12"),
        Entry(VTENTRY_DOCUMENT, 1, 13, "Scan 12"),  // not unique
        Entry(VTENTRY_DOCUMENT, 1, 14, "a/b"),      // a separator in a name
        Entry(VTENTRY_FOLDER, 2, 0, "Report"),
        Entry(VTENTRY_DOCUMENT, 2, 1, "D7"),  // a name that looks like a number
        Entry(VTENTRY_DOCUMENT, 2, 7, "Seven"),
        Entry(VTENTRY_DOCUMENT, 0, 5, "Report"),  // a document named like a folder
        Entry(VTENTRY_DOCUMENT, 0, 6, "Bell\a"),
    });
}

// What a path resolves to: the entry's path by numbers, or "7: ..." / "2: ..."
// (not found, ambiguous) with the problem.
std::string Resolve(const vtcli::BackupTree &tree, const std::string &path) {
    std::string problem;
    bool ambiguous = false;
    const VTBACKUPENTRY *e = tree.Resolve(path, &problem, &ambiguous);
    if (e) return vtcli::BackupTree::NumberPath(*e);
    return (ambiguous ? "2: " : "7: ") + problem;
}

TEST(BackupPaths, ByNameByNumberAndAsLsShowsThem) {
    const auto tree = Tree();
    EXPECT_EQ(Resolve(tree, "3"), "3");
    EXPECT_EQ(Resolve(tree, "003/"), "3");
    EXPECT_EQ(Resolve(tree, "3/Invoices"), "3/F1");
    EXPECT_EQ(Resolve(tree, "3/f001/D14"), "3/F1/D14");
    EXPECT_EQ(Resolve(tree, "3/Report/Seven"), "3/F2/D7") << "more parts follow: only a folder fits";
    EXPECT_EQ(Resolve(tree, "3/D6"), "3/D6");
    EXPECT_EQ(Resolve(tree, "3/Bell\\x07"), "3/D6") << "a control character as ls escapes it";
    EXPECT_EQ(Resolve(tree, "3/Bell\a"), "3/D6");
}

TEST(BackupPaths, AmbiguousOrMissingPartsAreNamed) {
    const auto tree = Tree();
    EXPECT_EQ(Resolve(tree, "3/Invoices/Scan 12"),
              "2: \"3/Invoices/Scan 12\": \"Scan 12\" names more than one entry of 3/F1: 3/F1/D12 3/F1/D13; give the "
              "number instead");
    EXPECT_EQ(Resolve(tree, "3/Report").substr(0, 3), "2: ") << "a folder and a document of one name";
    EXPECT_EQ(Resolve(tree, "3/Report/D7").substr(0, 3), "2: ") << "a name and a number naming two documents";
    EXPECT_EQ(Resolve(tree, "3/Invoices/a/b").substr(0, 3), "7: ") << "a name with a separator: by number only";
    EXPECT_EQ(Resolve(tree, "3/Invoice"),
              "7: \"3/Invoice\" is not in the file: 3 holds no \"Invoice\"; did you mean "
              "\"Invoices\"?");
    EXPECT_EQ(Resolve(tree, "4/Invoices"), "7: box 4 is not in the file");
    EXPECT_EQ(Resolve(tree, "3/D6/x").substr(0, 3), "7: ");
    EXPECT_EQ(Resolve(tree, "3/F1000").substr(0, 3), "7: ");
    EXPECT_EQ(Resolve(tree, "Invoices").substr(0, 3), "7: ");
}

TEST(NamePattern, CaseBlindGlobOverCharacters) {
    EXPECT_TRUE(vtcli::MatchesName("*scan*", "Old SCAN 12"));
    EXPECT_FALSE(vtcli::MatchesName("scan", "Old scan")) << "the whole name, not a part of it";
    EXPECT_TRUE(vtcli::MatchesName("\xC3\x84RGER*",
                                   "\xC3\xA4rger & Gl\xC3\xBC"
                                   "ck"))
        << "Ä and ä";
    EXPECT_TRUE(vtcli::MatchesName("caf?", "caf\xC3\xA9")) << "? is one character, not one byte";
    EXPECT_TRUE(vtcli::MatchesName("Doc [0-9].[!2]*", "doc 1.3.1"));
    EXPECT_FALSE(vtcli::MatchesName("Doc [0-9].[!2]*", "Doc 1.2.1"));
    EXPECT_TRUE(vtcli::MatchesName("100\\*", "100*"));
    EXPECT_FALSE(vtcli::MatchesName("100\\*", "1000"));
    EXPECT_TRUE(vtcli::MatchesName("[]x]", "]"));
    EXPECT_TRUE(vtcli::MatchesName("[]x", "[]x")) << "a set never closed is no set";
    EXPECT_TRUE(vtcli::MatchesName("a*b*c*d*e", "a-b-c-d-e"));
    EXPECT_FALSE(vtcli::MatchesName(std::string(60, '*') + "b", std::string(256, 'a')));
}

}  // namespace
