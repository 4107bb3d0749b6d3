// Element maps: the line rules, the table marking and ".0" instances, the
// refusals with their diagnostics (numbers given twice, files that are no
// regular file or too large, too many entries), and the five maps we ship.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "map_reader.hpp"
#include "temp_dir.hpp"

namespace kx9 {
namespace {

std::string Entry(const std::string &name, const std::string &id, const std::string &oid, const std::string &syntax,
                  const std::string &access, const std::string &kind, const std::string &indexes = "") {
    std::string line =
        name + "\t" + id + "\t" + oid + "\t\tdescription\t0\t0\t" + syntax + "\t" + access + "\t\t" + kind;
    if (!indexes.empty()) line += "\t" + indexes;
    return line + "\n";
}

struct Loaded {
    Schema schema;
    std::string error;
    bool ok;
};

Loaded Read(const std::string &text) {
    Loaded l;
    l.ok = ReadMapText("Test.txt", text, &l.schema, &l.error);
    return l;
}

TEST(MapLines, CommentOnlyWhenDashesComeBeforeTheFirstTab) {
    Loaded l = Read(
        "-- a comment\n"
        "x--y\tnot an entry either\n" +
        Entry("root", "1", "1.3.6.1.2.1.25", "", "not-accessible", "root-OID") +
        "named\t5\t1.3.6.1.2.1.25.9\t\t-- a description with dashes\t0\t0\tinteger\tread-only\t\tstatic\n"
        "\n   \t \r\n");
    ASSERT_TRUE(l.ok) << l.error;
    ASSERT_EQ(l.schema.size(), 2u);
    EXPECT_EQ(l.schema.at(1).name, "named");
    EXPECT_EQ(l.schema.at(1).description, u"-- a description with dashes");
}

TEST(MapLines, AccessibleScalarOutsideTablesIsAddressedAsInstanceZero) {
    Loaded l = Read(Entry("system", "1", "1.3.6.1.2.1.1", "", "not-accessible", "root-OID") +
                    Entry("sysUpTime", "4", "1.3.6.1.2.1.1.3", "timeticks", "read-only", "dynamic") +
                    Entry("sysContact", "5", "1.3.6.1.2.1.1.4", "string", "Read-Write", "static") +
                    Entry("group", "6", "1.3.6.1.2.1.1.9", "", "not-accessible", "group"));
    ASSERT_TRUE(l.ok) << l.error;
    EXPECT_EQ(OidText(l.schema.FindByElementId(4)->oid), "1.3.6.1.2.1.1.3.0");
    EXPECT_EQ(OidText(l.schema.FindByElementId(5)->oid), "1.3.6.1.2.1.1.4.0");
    EXPECT_EQ(OidText(l.schema.FindByElementId(6)->oid), "1.3.6.1.2.1.1.9");  // not accessible: unchanged
    EXPECT_FALSE(l.schema.FindByElementId(4)->inTable);
}

TEST(MapLines, ColumnsUnderTheirTableKeepTheirIdentifiers) {
    Loaded l = Read(Entry("host", "20", "1.3.6.1.2.1.25", "", "not-accessible", "root-OID") +
                    Entry("hrStorageTable", "32", "1.3.6.1.2.1.25.2.3", "", "not-accessible", "table") +
                    Entry("hrStorageEntry", "33", "1.3.6.1.2.1.25.2.3.1", "", "not-accessible", "row") +
                    Entry("hrStorageDescr", "36", "1.3.6.1.2.1.25.2.3.1.3", "string", "read-only", "static", "34") +
                    // After the table, but not under it: a scalar again.
                    Entry("hrSWOSIndex", "111", "1.3.6.1.2.1.25.4.1", "integer", "read-only", "fixed"));
    ASSERT_TRUE(l.ok) << l.error;
    const MapEntry *column = l.schema.FindByElementId(36);
    EXPECT_EQ(OidText(column->oid), "1.3.6.1.2.1.25.2.3.1.3");
    EXPECT_TRUE(column->inTable);
    EXPECT_EQ(l.schema.at(column->table).elementId, 32);
    EXPECT_TRUE(l.schema.FindByElementId(32)->inTable);  // a table lies under itself
    EXPECT_FALSE(l.schema.FindByElementId(111)->inTable);
    EXPECT_EQ(OidText(l.schema.FindByElementId(111)->oid), "1.3.6.1.2.1.25.4.1.0");
    EXPECT_EQ(l.schema.Children(1), (std::vector<int>{2, 3}));
    EXPECT_EQ(l.schema.FirstRoot(), 0u);
}

TEST(MapLines, WordsIgnoreCaseAndUnknownWordsTakeTheDefaults) {
    Loaded l = Read(Entry("a", "1", "1.3", "Counter", "READ-ONLY", "Dynamic") +
                    Entry("b", "2", "1.4", "dateandtime", "read-create", "FIXED") +
                    Entry("c", "3", "1.5", "float", "write-only", "leaf") +
                    Entry("d", "4", "1.6", "unsigned32", "", "root-oid"));
    ASSERT_TRUE(l.ok) << l.error;
    const MapEntry &a = *l.schema.FindByElementId(1), &b = *l.schema.FindByElementId(2),
                   &c = *l.schema.FindByElementId(3), &d = *l.schema.FindByElementId(4);
    EXPECT_EQ(a.syntax, kSyntaxCounter32);
    EXPECT_EQ(a.access, kAccessReadOnly);
    EXPECT_EQ(a.kind, kKindDynamic);
    EXPECT_EQ(b.syntax, kSyntaxDateAndTime);
    EXPECT_EQ(b.access, kAccessReadCreate);
    EXPECT_EQ(b.kind, kKindFixed);
    EXPECT_EQ(c.syntax, kSyntaxUnset);
    EXPECT_EQ(c.access, kAccessNotAccessible);
    EXPECT_EQ(c.kind, kKindRow);
    EXPECT_EQ(ElementTypeOfKind(c.kind), 1);
    EXPECT_EQ(d.syntax, kSyntaxUnsigned32);
    EXPECT_EQ(d.kind, kKindRoot);
}

TEST(MapLines, IndexSlotsInUseStopAtTheFirstNone) {
    Loaded l = Read(Entry("t", "1", "1.3.6", "", "not-accessible", "table") +
                    Entry("col", "2", "1.3.6.1.2", "integer", "read-write", "dynamic", "5\t0\t7") +
                    Entry("two", "3", "1.3.6.1.3", "integer", "read-write", "dynamic", "5\t6") +
                    Entry("none", "4", "1.3.6.1.4", "integer", "read-write", "dynamic"));
    ASSERT_TRUE(l.ok) << l.error;
    const MapEntry &col = *l.schema.FindByElementId(2);
    EXPECT_EQ(col.IndexSlotsInUse(), 1);
    EXPECT_EQ(col.index[0], 5);
    EXPECT_EQ(col.index[1], kIndexNone);
    EXPECT_EQ(col.index[2], 7);
    EXPECT_EQ(l.schema.FindByElementId(3)->IndexSlotsInUse(), 2);
    EXPECT_EQ(l.schema.FindByElementId(4)->IndexSlotsInUse(), 0);
}

TEST(MapLines, StringValuesLoseTheirLastCharacterNumbersKeepNothing) {
    Loaded l = Read(
        "s\t1\t1.3\t\td\t0\t0\tstring\tread-write\tpublic;\tstatic\n"
        "n\t2\t1.4\t\td\t0\t0\tinteger\tread-write\t42\tstatic\n"
        "e\t3\t1.5\t\td\t0\t0\tstring\tread-write\t\tstatic\n");
    ASSERT_TRUE(l.ok) << l.error;
    EXPECT_EQ(l.schema.FindByElementId(1)->value, "public");
    EXPECT_EQ(l.schema.FindByElementId(2)->value, "");
    EXPECT_EQ(l.schema.FindByElementId(3)->value, "");
}

// A number given twice would list the first element twice in the schema.
TEST(MapLines, ANumberGivenAgainFailsTheLoadNamingTheFirstLine) {
    Loaded l = Read(Entry("z", "9", "1.9", "integer", "read-only", "static") +
                    Entry("first", "3", "1.3", "integer", "read-only", "static") +
                    Entry("second", "3", "1.4", "integer", "read-only", "static") +
                    Entry("after", "7", "1.7", "integer", "read-only", "static"));
    EXPECT_FALSE(l.ok);
    EXPECT_EQ(l.error, "Test.txt line 3: element number 3 is already defined by Test.txt line 2 (\"first\")");
    EXPECT_EQ(l.schema.size(), 2u);
    EXPECT_EQ(l.schema.FindByElementId(3)->name, "first");
    EXPECT_EQ(l.schema.FindByElementId(7), nullptr);
    EXPECT_EQ(l.schema.FindByElementId(-3), nullptr);
}

// Entries cost the same whatever the schema holds (a map of scalars once
// took seconds), up to the bound on their number.
TEST(MapLines, AsManyEntriesAsTheBoundLoadAndOneMoreFails) {
    std::string text = Entry("root", "1", "1.3.6.1.4.1.9", "", "not-accessible", "root-OID");
    for (size_t n = 2; n <= kMaxSchemaEntries + 1; ++n)
        text += "e\t" + std::to_string(n) + "\t1.3.6.1.4.1.9." + std::to_string(n) +
                "\t\t\t\t\tinteger\tread-only\t\tstatic\n";
    const size_t lastLine = text.rfind("\ne\t") + 1;
    Loaded full = Read(text.substr(0, lastLine));
    ASSERT_TRUE(full.ok) << full.error;
    EXPECT_EQ(full.schema.size(), kMaxSchemaEntries);
    EXPECT_EQ(OidText(full.schema.FindByElementId(static_cast<int32_t>(kMaxSchemaEntries))->oid),
              "1.3.6.1.4.1.9." + std::to_string(kMaxSchemaEntries) + ".0");
    Loaded over = Read(text);
    EXPECT_FALSE(over.ok);
    EXPECT_EQ(over.error, "Test.txt line " + std::to_string(kMaxSchemaEntries + 1) + ": the maps define more than " +
                              std::to_string(kMaxSchemaEntries) + " elements");
}

// Every refusal names the map and the line, and says what is wrong.
TEST(MapLines, BadLinesFailTheLoadWithADiagnostic) {
    struct Case {
        std::string line;
        std::string says;
    };
    const std::string longName(250, 'n');
    const Case cases[] = {
        {"short\t1\t1.3\t\tdescription\t0\t0\tinteger\tread-only\n", "9 fields where an entry needs at least 11"},
        {"lonely line\n", "1 field where"},
        {Entry("zero", "0", "1.3", "integer", "read-only", "static"), "element number 0"},
        {Entry("word", "abc", "1.3", "integer", "read-only", "static"), "element number \"abc\" is not a decimal"},
        {Entry("huge", "99999999999", "1.3", "integer", "read-only", "static"), "not a decimal"},
        {Entry("empty", "1", "", "integer", "read-only", "static"), "object identifier is empty"},
        {Entry("dots", "1", "1..3", "integer", "read-only", "static"), "\"1..3\" is malformed"},
        {Entry("lead", "1", ".1.3", "integer", "read-only", "static"), "malformed"},
        {Entry("trail", "1", "1.3.", "integer", "read-only", "static"), "malformed"},
        {Entry("letters", "1", "1.3.x", "integer", "read-only", "static"), "malformed"},
        {Entry("big", "1", "1.4294967296", "integer", "read-only", "static"), "malformed"},
        {"second\t1\t1.3\t1.x\td\t0\t0\tinteger\tread-only\t\tstatic\n", "second object identifier \"1.x\""},
        {Entry(longName, "1", "1.3", "integer", "read-only", "static"), "at most 256"},
    };
    for (const Case &c : cases) {
        Loaded l = Read("-- first line\n" + c.line + Entry("after", "7", "1.7", "integer", "read-only", "static"));
        EXPECT_FALSE(l.ok) << c.line;
        EXPECT_NE(l.error.find("Test.txt line 2: "), std::string::npos) << l.error;
        EXPECT_NE(l.error.find(c.says), std::string::npos) << l.error;
        EXPECT_EQ(l.schema.FindByElementId(7), nullptr) << "no line is read after a failure";
    }
}

TEST(MapLines, IdentifierLimits) {
    std::string longest = "1", tooLong = "1";
    for (size_t i = 1; i < kMaxOidParts; ++i) longest += ".4294967295";
    tooLong = longest + ".1";
    OidParts parts;
    EXPECT_TRUE(ParseOid(longest, &parts));
    EXPECT_EQ(parts.size(), kMaxOidParts);
    EXPECT_EQ(parts.back(), 4294967295u);
    EXPECT_FALSE(ParseOid(tooLong, &parts));
    EXPECT_FALSE(ParseOid("1.-3", &parts));
}

TEST(MapFiles, AllFiveLoadInOrderAndAMissingOneFailsTheLoad) {
    vttest::TempDir dir;
    for (int i = 0; i < 5; ++i)
        std::ofstream(dir / kMapFileNames[i]) << Entry(std::string("root_") + kMapFileNames[i], std::to_string(100 + i),
                                                       "1.3.6", "", "not-accessible", "root-OID");
    Schema schema;
    std::string error;
    ASSERT_TRUE(LoadMaps(dir.path(), &schema, &error)) << error;
    ASSERT_EQ(schema.size(), 5u);
    EXPECT_EQ(schema.at(0).name, "root_HRMap.txt");
    EXPECT_EQ(schema.at(4).name, "root_TabsNMap.txt");

    std::remove((dir / "TabsJMap.txt").c_str());
    Schema partial;
    EXPECT_FALSE(LoadMaps(dir.path(), &partial, &error));
    EXPECT_NE(error.find("TabsJMap.txt: cannot be opened"), std::string::npos) << error;
}

// Later maps may not give a number again either.
TEST(MapFiles, ANumberOfAnEarlierMapFailsTheLoad) {
    vttest::TempDir dir;
    for (int i = 0; i < 5; ++i)
        std::ofstream(dir / kMapFileNames[i]) << Entry(std::string("e") + std::to_string(i), std::to_string(100 + i),
                                                       "1.3.6", "", "not-accessible", "root-OID");
    std::ofstream(dir / kMapFileNames[3], std::ios::app) << "-- again\n" << Entry("again", "101", "1.3.7", "", "", "");
    Schema schema;
    std::string error;
    EXPECT_FALSE(LoadMaps(dir.path(), &schema, &error));
    EXPECT_EQ(error, "TabsJMap.txt line 3: element number 101 is already defined by PrintMap.txt line 1 (\"e1\")");
}

// Only a regular file is read, and only one within the bound: a device or a
// FIFO in a map's place would be read without end (or wait for a writer).
TEST(MapFiles, AMapThatIsNoRegularFileOrTooLargeIsRefusedUnread) {
    vttest::TempDir dir;
    Schema schema;
    std::string error;
    auto refusal = [&](const std::string &path) {
        Schema s;
        std::string e;
        EXPECT_FALSE(LoadMapFile(path, &s, &e)) << path;
        EXPECT_EQ(s.size(), 0u);
        return e;
    };
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(refusal(dir / "fifo"), dir / "fifo: a FIFO, not a regular file");
    EXPECT_EQ(refusal(dir.path()), dir.path() + ": a folder, not a regular file");

    // Links are followed to what they name.
    for (int i = 0; i < 5; ++i) std::ofstream(dir / kMapFileNames[i]);
    ASSERT_TRUE(LoadMaps(dir.path(), &schema, &error)) << error;
    std::remove((dir / kMapFileNames[2]).c_str());
    ASSERT_EQ(symlink("/dev/zero", (dir / kMapFileNames[2]).c_str()), 0);
    EXPECT_FALSE(LoadMaps(dir.path(), &schema, &error));
    EXPECT_EQ(error, dir / "TabsMap.txt: a character device, not a regular file");

    // At the bound the file is read (and its one long line refused); a byte
    // more and it is refused by its size. Both files are sparse.
    const std::string big = dir / "big.txt";
    std::ofstream(big).close();
    ASSERT_EQ(truncate(big.c_str(), static_cast<off_t>(kMaxMapBytes)), 0);
    EXPECT_NE(refusal(big).find("big.txt line 1: the line has " + std::to_string(kMaxMapBytes) + " characters"),
              std::string::npos);
    ASSERT_EQ(truncate(big.c_str(), static_cast<off_t>(kMaxMapBytes + 1)), 0);
    EXPECT_EQ(refusal(big), big + ": " + std::to_string(kMaxMapBytes + 1) + " bytes; a map has at most " +
                                std::to_string(kMaxMapBytes) + " bytes (16 MiB)");
}

// The maps we ship: they load (so numbers are unique), the device element holds
// its five connection children, and every column lies in its table.
TEST(MapFiles, ShippedMapsAreConsistent) {
    Schema schema;
    std::string error;
    ASSERT_TRUE(LoadMaps(KX9_MAP_DIR, &schema, &error)) << error;
    for (size_t i = 0; i < schema.size(); ++i) {
        const MapEntry &e = schema.at(i);
        bool column = e.access != kAccessNotAccessible && ElementTypeOfKind(e.kind) == 0 && e.IndexSlotsInUse() > 0;
        if (column) {
            EXPECT_TRUE(e.inTable) << e.name;
        }
        if (e.inTable && ElementTypeOfKind(e.kind) == 0) {
            EXPECT_GT(e.IndexSlotsInUse(), 0) << e.name;
        }
    }
    int device = schema.Find(990);
    ASSERT_GE(device, 0);
    EXPECT_EQ(static_cast<size_t>(device), schema.FirstRoot());
    std::vector<int32_t> children;
    for (int c : schema.Children(device)) children.push_back(schema.at(c).elementId);
    EXPECT_EQ(children, (std::vector<int32_t>{995, 996, 997, 998, 999}));
    EXPECT_EQ(OidText(schema.FindByElementId(2)->oid), "1.3.6.1.2.1.1.1.0");          // sysDescr
    EXPECT_EQ(OidText(schema.FindByElementId(276)->oid), "1.3.6.1.2.1.43.10.2.1.4");  // prtMarkerLifeCount
    EXPECT_EQ(schema.at(schema.FindByElementId(505)->table).name, "ifTable");         // ifDescr
}

}  // namespace
}  // namespace kx9
