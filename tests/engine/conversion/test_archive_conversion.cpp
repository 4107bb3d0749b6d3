// vtBoxConvertArchiveData on document archives made by Python's zipfile from
// a seeded store.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "conversion_support.hpp"
#include "debug_capture.hpp"

namespace {

namespace fs = std::filesystem;
using vtconv::ConversionRun;
using vtconv::Convert;

// Box 1's top level: D0000001 colour and wide, D0000002 wide, D0000003 plain,
// D0000004 with a colour byte the filter ignores (0x08 at 167).
class ArchiveConversion : public testing::Test {
protected:
    void SetUp() override {
        devicesim::SeedOptions seed;
        seed.boxes = 1;
        seed.folders = 0;
        seed.docs = 4;
        seed.pages = 1;
        seed.pageKb = 2;
        std::string error;
        seed.colourDocs =
            devicesim::DocumentSelection::Parse("1.0.1,1.0.4=0x0800", devicesim::kColourFlag, 0xFFFF, error);
        seed.wideDocs = devicesim::DocumentSelection::Parse("1.0.1-2", devicesim::kWidePaperFlag, 0xFFFFFFFF, error);
        seed.mixDocs = devicesim::DocumentSelection::Parse("none", devicesim::kCopyMixFlag, 0xFF, error);
        ASSERT_TRUE(devicesim::SeedStore(dir / "store", seed, error)) << error;
        level = dir / "store/SHR/BOX/DATA/B0000001/P0000001";
        source = dir / "source.zip";
        vtconv::MakeArchive(level, source, "Korvo-B V1.3.0.0");
        fs::create_directories(dir / "temp");
        vtconv::WriteSettings(dir / "settings", "Test-A V1.0.0.0",
                              "[Test-B V1.0.0.0]\nColorCheck=0\n"
                              "[Test-C V1.0.0.0]\nColorCheck=1\nWidePaperCheck=1\n"
                              "[Test-D V1.0.0.0]\nWidePaperCheck=1\nColorCheck=1\n");
    }

    ConversionRun Run(const std::string &to, bool watch = false, const std::string &src = "") {
        return Convert(vtBoxConvertArchiveData, src.empty() ? source : src, result, dir / "temp", "Test-A V1.0.0.0", to,
                       watch);
    }
    bool TempIsEmpty() { return fs::is_empty(dir / "temp"); }

    vttest::TempDir dir;
    vttest::KeepCwd keepCwd;
    vttest::ScopedEnv settings{"VTBOX_CONVERSION_PATH", dir / "settings"};
    std::string level, source, result = dir / "result.zip";
};

TEST_F(ArchiveConversion, AllChecksOffKeepsEveryDocumentUnderTheNewVersion) {
    std::string before = vttest::ReadFile(source);
    ConversionRun run = Run("Test-B V1.0.0.0");
    ASSERT_EQ(run.rc, 0u) << run.detail;
    EXPECT_EQ(vtconv::ZipNames(result), "Archive.XML\nD0000001.zip\nD0000002.zip\nD0000003.zip\nD0000004.zip\n");
    for (const char *doc : {"D0000001.zip", "D0000003.zip"})
        EXPECT_EQ(vtconv::ZipMember(result, doc), vtconv::ZipMember(source, doc)) << doc;
    std::string description = vtconv::ZipMember(result, "Archive.XML");
    EXPECT_NE(description.find("<Version>Test-B V1.0.0.0</Version>\n"), std::string::npos) << description;
    EXPECT_NE(description.find("<NumOfDocs>4</NumOfDocs>\n"), std::string::npos) << description;
    EXPECT_NE(description.find("<MACAddress>02:00:5E:10:20:30</MACAddress>\n"), std::string::npos) << description;
    EXPECT_EQ(run.progress.Percent, 100);
    EXPECT_EQ(run.progress.Phase, 0);
    EXPECT_EQ(vttest::ReadFile(source), before);
    EXPECT_TRUE(TempIsEmpty());

    // The engine's own reader takes the result for what it says.
    VTBACKUPINFO info{};
    uint32_t count = 0;
    VTBOXBK *boxes = nullptr;
    void *handle = nullptr;
    ASSERT_EQ(vtBoxGetXMLInfo(result.c_str(), (dir / "temp").c_str(), &info, &count, &boxes, &handle), 0u);
    EXPECT_EQ(info.Kind, 2u);
    EXPECT_STREQ(info.EngineVersion, "Test-B V1.0.0.0");
    EXPECT_EQ(count, 4u);
}

TEST_F(ArchiveConversion, ADocumentMatchedTwiceCountsOnceAndCarriesBothBits) {
    vttest::DebugCapture log;
    ConversionRun run = Run("Test-C V1.0.0.0", true);
    ASSERT_EQ(run.rc, 0u) << run.detail;
    EXPECT_EQ(vtconv::ZipNames(result), "Archive.XML\nD0000003.zip\nD0000004.zip\n");
    EXPECT_NE(vtconv::ZipMember(result, "Archive.XML").find("<NumOfDocs>2</NumOfDocs>"), std::string::npos);
    std::string text = log.text();
    EXPECT_NE(text.find("Deleting Color DocumentDeleting WidePaper Document"), std::string::npos);
    const std::string name1 = devicesim::SeededDocumentName(1, 0, 1);
    EXPECT_NE(text.find("Document = " + name1 + " bDelete = 1 Flag = 3 "), std::string::npos) << text;
    EXPECT_NE(text.find("bDelete = 1 Flag = 2 "), std::string::npos);
    EXPECT_NE(text.find("Document = " + devicesim::SeededDocumentName(1, 0, 4) + " bDelete = 0 Flag = 0 "),
              std::string::npos);
    // The watcher saw the first document removed with both bits, and the
    // percent of the documents before each one.
    bool sawBoth = false;
    std::vector<int> percents;
    for (const auto &p : run.seen) {
        sawBoth = sawBoth || (p.bDelete == 1 && p.Flag == 3 && name1 == p.DocName);
        if (percents.empty() || percents.back() != p.Percent) percents.push_back(p.Percent);
        EXPECT_EQ(p.Phase, 0);
        EXPECT_STREQ(p.BoxName, "");
    }
    EXPECT_TRUE(sawBoth);
    // The percent shown with each document is that of the documents before
    // it (a watcher woken late may miss one, never see another value).
    const std::set<int> allowed{0, 5, 22, 45, 67, 100};
    for (int p : percents) EXPECT_TRUE(allowed.count(p)) << p;
    EXPECT_TRUE(std::is_sorted(percents.begin() + (percents.front() == 5), percents.end()));
    EXPECT_GE(percents.size(), 2u);
    EXPECT_EQ(run.progress.Percent, 100);
    EXPECT_TRUE(TempIsEmpty());
}

TEST_F(ArchiveConversion, FailuresLeaveNoResultAndNoWorkFolder) {
    // Every document removed.
    vtconv::Python(
        "import sys,zipfile\n"
        "src=zipfile.ZipFile(sys.argv[1]); out=zipfile.ZipFile(sys.argv[2],\"w\")\n"
        "[out.writestr(n, src.read(n).replace(b\"<NumOfDocs>4<\", b\"<NumOfDocs>2<\")) for n in src.namelist() "
        "if n in (\"Archive.XML\",\"D0000001.zip\",\"D0000002.zip\")]\n"
        "out.close()",
        {source, dir / "flagged.zip"});
    vttest::DebugCapture log;
    ConversionRun run = Run("Test-D V1.0.0.0", false, dir / "flagged.zip");
    EXPECT_EQ(run.rc, 259u);
    EXPECT_NE(log.text().find("\n All the DOcument in Archive File are inconsistence..!! \n "), std::string::npos);
    EXPECT_FALSE(fs::exists(result));
    EXPECT_TRUE(TempIsEmpty());

    // A backup file is no document archive.
    std::string backup = dir / "backup.zip";
    vtconv::Python(
        "import sys,zipfile\nz=zipfile.ZipFile(sys.argv[1],\"w\"); "
        "z.writestr(\"BOX\\\\Backup.XML\",\"<BackupInfo/>\"); z.close()",
        {backup});
    EXPECT_EQ(Run("Test-B V1.0.0.0", false, backup).rc, 13u);
    EXPECT_EQ(
        Convert(vtBoxConvertArchiveData, source, source, dir / "temp", "Test-A V1.0.0.0", "Test-B V1.0.0.0", false).rc,
        87u);
    EXPECT_EQ(Run("Test-A V1.0.0.0").rc, 87u);
    EXPECT_EQ(
        Convert(vtBoxConvertArchiveData, source, result, dir / "temp", "Test-Z V1.0.0.0", "Test-B V1.0.0.0", false).rc,
        50u);
    // A damaged document archive.
    vtconv::Python(
        "import sys,zipfile\n"
        "src=zipfile.ZipFile(sys.argv[1]); out=zipfile.ZipFile(sys.argv[2],\"w\")\n"
        "[out.writestr(n, src.read(n) if n != \"D0000002.zip\" else b\"not a zip\") for n in src.namelist()]\n"
        "out.close()",
        {source, dir / "damaged.zip"});
    log.clear();
    EXPECT_EQ(Run("Test-B V1.0.0.0", false, dir / "damaged.zip").rc, 13u);
    EXPECT_NE(log.text().find("\n UnZip 1 Failed  \n "), std::string::npos);
    EXPECT_FALSE(fs::exists(result));
    EXPECT_TRUE(TempIsEmpty());

    // An existing destination is never replaced.
    std::ofstream(result) << "keep me";
    EXPECT_EQ(Run("Test-B V1.0.0.0").rc, 183u);
    EXPECT_EQ(vttest::ReadFile(result), "keep me");
    EXPECT_TRUE(TempIsEmpty());
}

// A file whose description does not count what it holds, or that holds
// anything but its description and its documents (beside them, or inside a
// document archive), is damaged: refused before anything is converted.
TEST_F(ArchiveConversion, WhatTheFileDoesNotAccountForIsRefused) {
    const std::string edit =
        "import sys,io,zipfile\n"
        "src=zipfile.ZipFile(sys.argv[1]); out=zipfile.ZipFile(sys.argv[2],\"w\"); kind=sys.argv[3]\n"
        "for n in src.namelist():\n"
        "  data=src.read(n)\n"
        "  if kind==\"count\" and n==\"Archive.XML\": data=data.replace(b\"<NumOfDocs>4<\", b\"<NumOfDocs>99<\")\n"
        "  if kind==\"inner\" and n==\"D0000003.zip\":\n"
        "    b=io.BytesIO(); d=zipfile.ZipFile(b,\"w\"); i=zipfile.ZipFile(io.BytesIO(data))\n"
        "    [d.writestr(m, i.read(m)) for m in i.namelist()]\n"
        "    d.writestr(\"D0000004.zip\",\"evil\"); d.close(); data=b.getvalue()\n"
        "  out.writestr(n, data)\n"
        "if kind==\"outer\": out.writestr(\"notes.txt\",\"beside the documents\")\n"
        "out.close()";
    for (const char *kind : {"count", "inner", "outer"}) {
        SCOPED_TRACE(kind);
        const std::string crafted = dir / (std::string(kind) + ".zip");
        vtconv::Python(edit, {source, crafted, kind});
        ConversionRun run = Run("Test-B V1.0.0.0", false, crafted);
        EXPECT_EQ(run.rc, 1392u) << run.detail;
        EXPECT_NE(run.detail.find(std::string(kind) == "count" ? "counts 99 documents (NumOfDocs) but it holds 4"
                                                               : "is no part of"),
                  std::string::npos)
            << run.detail;
        EXPECT_FALSE(fs::exists(result));
        EXPECT_TRUE(TempIsEmpty());
    }
}

}  // namespace
