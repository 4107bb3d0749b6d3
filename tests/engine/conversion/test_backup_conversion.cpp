// vtBoxConvertBackupData on backups that vtBoxBackup made of the simulated
// device, read back by Python's zipfile and restored into a device of the
// destination version.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "conversion_support.hpp"
#include "debug_capture.hpp"
#include "vtplatform/diag.hpp"

namespace {

namespace fs = std::filesystem;
using vtconv::ConversionRun;
using vtconv::Convert;
using vttest::ReadFile;

constexpr const char *kFrom = "Korvo-B V1.3.0.0";  // the simulated device's version
constexpr const char *kTo = "Korvo-C V1.3.0.0";    // drops wide paper only (engine/conversion/settings)

// The fields of a record, read here without the engine.
struct Fields {
    bool wide = false;
    uint32_t freed = 0;
};
Fields ReadFields(const fs::path &record) {
    std::string b = ReadFile(record);
    b.resize(512, '\0');
    auto u8 = [&](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(b[i])); };
    Fields f;
    f.wide = (u8(162) & 0xC0) != 0;
    int16_t a = static_cast<int16_t>(u8(169) | (u8(170) << 8));
    uint32_t bb = (u8(172) << 24) | (u8(173) << 16) | (u8(174) << 8) | u8(175);
    f.freed = 8 + 11 * a + bb;
    return f;
}

// Every document of a box as "F0000nnn/D0000nnn" (or "D0000nnn" at the top), with its fields.
std::map<std::string, Fields> Documents(const fs::path &level) {
    std::map<std::string, Fields> out;
    for (const auto &e : fs::recursive_directory_iterator(level)) {
        std::string name = e.path().filename().string();
        if (e.is_regular_file() && name.rfind("D0000", 0) == 0 && e.path().extension() == ".XML")
            out[fs::relative(e.path(), level).replace_extension().string()] = ReadFields(e.path());
    }
    return out;
}

struct Description {
    std::string engineVersion;
    std::vector<VTBOXBK> boxes;
};
Description Describe(const std::string &file, const std::string &work) {
    VTBACKUPINFO info{};
    uint32_t count = 0;
    VTBOXBK *boxes = nullptr;
    void *handle = nullptr;
    EXPECT_EQ(vtBoxGetXMLInfo(file.c_str(), work.c_str(), &info, &count, &boxes, &handle), 0u);
    Description d{info.EngineVersion, std::vector<VTBOXBK>(boxes, boxes + count)};
    if (handle) GlobalFree(handle);
    return d;
}

class BackupConversion : public testing::Test {
protected:
    // Box 1: documents 1 at the top and 2 in folder 1 on wide paper, 2 at the
    // top in colour (kept: the destination prints colour). Box 2: every
    // document on wide paper.
    void SetUp() override {
        vttest::SimOptions o;
        o.seed.boxes = 2;
        o.seed.folders = 1;
        o.seed.docs = 3;
        o.seed.pages = 1;
        o.seed.pageKb = 4;
        std::string error;
        o.seed.wideDocs =
            devicesim::DocumentSelection::Parse("1.0.1,1.1.2,2.*.*", devicesim::kWidePaperFlag, 0xFFFFFFFF, error);
        o.seed.colourDocs = devicesim::DocumentSelection::Parse("1.0.2", devicesim::kColourFlag, 0xFFFF, error);
        o.seed.mixDocs = devicesim::DocumentSelection::Parse("none", devicesim::kCopyMixFlag, 0xFF, error);
        sim = std::make_unique<vttest::SimDevice>(o);
        source = sim->dir / "source.zip";
        vttest::BackupRun backup = vttest::RunBackup(*sim, source, {1, 2});
        ASSERT_EQ(backup.rc, 0u) << backup.detail;
        work = sim->dir / "convert-work";
        fs::create_directories(work);
    }

    fs::path StoreLevel(uint32_t box) const {
        return fs::path(sim->storeRoot) / vt::Format("SHR/BOX/DATA/B0000%03u/P0000001", box);
    }
    std::string Unpack(const std::string &file, const std::string &name) {
        std::string out = sim->dir / name, log;
        EXPECT_EQ(vttest::RunCommand("python3 " VTBOX_SUPPORT_DIR "/unpack_backup.py '" + file + "' '" + out + "' 2>&1",
                                     &log),
                  0)
            << log;
        return out;
    }
    ConversionRun Run(const std::string &to = kTo, bool watch = false,
                      const std::function<bool(const VTPROGRESSINFO &)> &cancel_when = {}) {
        return Convert(vtBoxConvertBackupData, source, result, work, kFrom, to, watch, cancel_when);
    }

    vttest::KeepCwd keepCwd;
    std::unique_ptr<vttest::SimDevice> sim;
    std::string source, work, result = "";
    vttest::ScopedEnv settings{"VTBOX_CONVERSION_PATH", VTBOX_SETTINGS_DIR};
};

TEST_F(BackupConversion, FlaggedDocumentsGoTotalsFollowAndTheResultRestores) {
    result = sim->dir / "converted.zip";
    const std::string before = ReadFile(source);
    // A BOX left in the work folder by a run that stopped does not mix in.
    fs::create_directories(work + "/BOX/DATA/B0000009");
    std::ofstream(work + "/BOX/DATA/B0000009.vtb") << "stale";

    ConversionRun run = Run();
    ASSERT_EQ(run.rc, 0u) << run.detail;
    EXPECT_EQ(run.progress.Percent, 99);
    EXPECT_EQ(run.progress.Phase, VTPHASE_PACKING);
    EXPECT_FALSE(fs::exists(work + "/BOX"));
    EXPECT_EQ(ReadFile(source), before);

    std::string out = Unpack(result, "converted");
    EXPECT_EQ(vtconv::ZipNames(result), "BOX\\\nBOX\\Backup.XML\nBOX\\DATA.zip\nBOX\\DATABASE.vtb\n");
    EXPECT_FALSE(fs::exists(out + "/BOX/DATA/B0000009"));
    const Description was = Describe(source, work), now = Describe(result, work);
    EXPECT_EQ(now.engineVersion, kTo);
    ASSERT_EQ(now.boxes.size(), 2u);
    for (uint32_t i = 0; i < 2; ++i) {
        const uint32_t box = i + 1;
        SCOPED_TRACE("box " + std::to_string(box));
        uint32_t removed = 0, freed = 0;
        const fs::path level = fs::path(out) / vt::Format("BOX/DATA/B0000%03u/P0000001", box);
        for (const auto &[doc, fields] : Documents(StoreLevel(box))) {
            EXPECT_EQ(fs::exists(level / (doc + ".XML")), !fields.wide) << doc;
            EXPECT_EQ(fs::exists(level / doc), !fields.wide) << doc;
            if (fields.wide) ++removed, freed += fields.freed;
        }
        EXPECT_EQ(removed, box == 1 ? 2u : 6u);
        EXPECT_EQ(now.boxes[i].NumOfDocs, was.boxes[i].NumOfDocs - removed);
        EXPECT_EQ(now.boxes[i].BoxUsedDisk, was.boxes[i].BoxUsedDisk > freed ? was.boxes[i].BoxUsedDisk - freed : 0);
        EXPECT_EQ(now.boxes[i].NumOfFolders, was.boxes[i].NumOfFolders);
        EXPECT_STREQ(now.boxes[i].BoxName, was.boxes[i].BoxName);
    }
    // The emptied box keeps its levels and its folder.
    EXPECT_EQ(now.boxes[1].NumOfDocs, 0u);
    EXPECT_TRUE(fs::is_regular_file(out + "/BOX/DATA/B0000002/P0000001/F0000001.XML"));
    EXPECT_TRUE(fs::is_directory(out + "/BOX/DATA/B0000002/P0000001/F0000001"));
    EXPECT_TRUE(fs::is_regular_file(out + "/BOX/DATABASE/B0000002.XML"));

    // Restored into a device of the destination version, the boxes hold
    // exactly the documents that were kept, page for page.
    vttest::SimOptions o;
    o.seedStore = false;
    o.engineVersion = kTo;
    vttest::SimDevice target(o);
    fs::create_directories(fs::path(target.storeRoot) / "SHR/BOX/DATA");
    fs::create_directories(fs::path(target.storeRoot) / "SHR/BOX/DATABASE");
    {
        VTMFPSESSION s = target.Session();
        ASSERT_EQ(vtBoxOpenConnection(&s), 0u);
        uint32_t time = 0;
        ASSERT_EQ(vtBoxLockUiJob(&s, "admin", 1, &time), 0u);
        char login[256] = {};
        ASSERT_EQ(vtBoxCreateFTPAccount(&s, "admin", login), 0u);
        std::string restoreWork = target.dir / "work";
        fs::create_directories(restoreWork);
        VTPROGRESSINFO progress{};
        const uint32_t boxes[] = {1, 2};
        EXPECT_EQ(vtBoxRestore(&s, "admin", login, restoreWork.c_str(), result.c_str(), 2, boxes, 1, time, nullptr,
                               nullptr, &progress),
                  0u)
            << vtBoxGetLastErrorText();
        vtBoxDeleteFTPAccount(&s, "admin");
        vtBoxUnlockUiJob(&s, "admin", 1);
        vtBoxCloseConnection(&s);
    }
    for (uint32_t box : {1u, 2u}) {
        const fs::path restored = fs::path(target.storeRoot) / vt::Format("SHR/BOX/DATA/B0000%03u/P0000001", box);
        std::set<std::string> expected, got;
        for (const auto &[doc, fields] : Documents(StoreLevel(box)))
            if (!fields.wide) expected.insert(doc);
        for (const auto &[doc, fields] : Documents(restored)) got.insert(doc);
        EXPECT_EQ(got, expected) << "box " << box;
        for (const std::string &doc : got)
            EXPECT_EQ(ReadFile(restored / doc / "PAGE0001.DAT"), ReadFile(StoreLevel(box) / doc / "PAGE0001.DAT"))
                << doc;
    }
}

TEST_F(BackupConversion, AllChecksOffChangesOnlyTheVersion) {
    result = sim->dir / "same.zip";
    std::string settings = sim->dir / "settings";
    vtconv::WriteSettings(settings, kFrom, std::string("[") + kTo + "]\nColorCheck=0\nWidePaperCheck=0\n");
    vttest::ScopedEnv path("VTBOX_CONVERSION_PATH", settings);
    vttest::DebugCapture log;
    ConversionRun run = Run(kTo, true);
    ASSERT_EQ(run.rc, 0u) << run.detail;
    // With a watcher the documents are shown as the percent climbs (a watcher
    // woken late may skip a step, the opening ones too, never reorder one).
    std::vector<int> percents;
    for (const auto &p : run.seen)
        if (percents.empty() || percents.back() != p.Percent) percents.push_back(p.Percent);
    ASSERT_GE(percents.size(), 5u);
    EXPECT_EQ(percents.back(), 99);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_NE(log.text().find("\n Converting Box -->2 "), std::string::npos);

    const Description was = Describe(source, work), now = Describe(result, work);
    EXPECT_EQ(now.engineVersion, kTo);
    ASSERT_EQ(now.boxes.size(), was.boxes.size());
    for (size_t i = 0; i < was.boxes.size(); ++i) {
        EXPECT_EQ(now.boxes[i].NumOfDocs, was.boxes[i].NumOfDocs);
        EXPECT_EQ(now.boxes[i].BoxUsedDisk, was.boxes[i].BoxUsedDisk);
    }
    std::string a = Unpack(source, "a"), b = Unpack(result, "b");
    size_t files = 0;
    for (const auto &e : fs::recursive_directory_iterator(a)) {
        fs::path rel = fs::relative(e.path(), a);
        ASSERT_TRUE(fs::exists(b / rel)) << rel;
        if (e.is_regular_file() && rel != "BOX/Backup.XML") {
            EXPECT_EQ(ReadFile(e.path()), ReadFile(b / rel)) << rel;
            ++files;
        }
    }
    EXPECT_GT(files, 20u);
    // A box that lost nothing keeps the very archive it came in.
    const char *boxArchive =
        "import io,sys,zipfile\n"
        "d=zipfile.ZipFile(io.BytesIO(zipfile.ZipFile(sys.argv[1]).read(\"BOX\\\\DATA.zip\")))\n"
        "sys.stdout.buffer.write(d.read(\"DATA\\\\B0000002.vtb\"))";
    EXPECT_EQ(vtconv::Python(boxArchive, {result}), vtconv::Python(boxArchive, {source}));
}

TEST_F(BackupConversion, RefusedBeforeAnythingIsUnpacked) {
    vttest::DebugCapture log;
    // A refusal is no run that stopped: the caller's own BOX stays.
    fs::create_directories(work + "/BOX");
    std::ofstream(work + "/BOX/mine.txt") << "the caller's";
    result = source;
    EXPECT_EQ(Run().rc, 87u);
    result = sim->dir / "out.zip";
    EXPECT_EQ(Run(kFrom).rc, 87u);
    EXPECT_EQ(Convert(vtBoxConvertBackupData, source, result, work, "Unknown V1.0.0.0", kTo, false).rc, 50u);
    EXPECT_NE(log.text().find("\n Could not Find the Src .ini File \n"), std::string::npos);
    EXPECT_EQ(log.text().find("UnZipping"), std::string::npos);
    std::ofstream(result) << "keep me";
    EXPECT_EQ(Run().rc, 183u);
    EXPECT_EQ(ReadFile(result), "keep me");
    EXPECT_EQ(ReadFile(work + "/BOX/mine.txt"), "the caller's");
    fs::remove_all(work + "/BOX");
    EXPECT_TRUE(fs::is_empty(work));
    EXPECT_EQ(vtBoxConvertBackupData(source.c_str(), nullptr, work.c_str(), kFrom, kTo, nullptr, nullptr, nullptr),
              87u);
}

TEST_F(BackupConversion, CancelDuringTheDocumentsLeavesNothing) {
    result = sim->dir / "cancelled.zip";
    vttest::DebugCapture log;
    ConversionRun run = Run(kTo, true, [](const VTPROGRESSINFO &p) { return p.DocName[0] != '\0'; });
    EXPECT_EQ(run.rc, 995u);
    EXPECT_NE(log.text().find("\n <<<<****  Operation Aborted ****>>>>\n"), std::string::npos);
    EXPECT_NE(log.text().find("vtBoxConvertBackupData Failed With ERROR - 995"), std::string::npos);
    EXPECT_FALSE(fs::exists(work + "/BOX"));
    EXPECT_FALSE(fs::exists(result));
    for (const auto &e : fs::directory_iterator(sim->dir.path()))  // no part of it beside either
        EXPECT_NE(e.path().filename().string().rfind(".vtbox-", 0), 0u) << e.path();
}

// A description that does not read ends the conversion as a damaged file,
// as verify calls it, rather than packing the boxes again unconverted; a file that names
// its data archive in capitals converts like any other.
TEST_F(BackupConversion, DescriptionAndNameCaseOfTheSource) {
    std::string broken = sim->dir / "broken.zip";
    vtconv::Python(
        "import sys,zipfile\n"
        "src=zipfile.ZipFile(sys.argv[1]); out=zipfile.ZipFile(sys.argv[2],\"w\")\n"
        "for n in src.namelist():\n"
        "  d=src.read(n)\n"
        "  if n.endswith(\"Backup.XML\"): d=d.replace(b\"NumOfBoxes=\\\"2\\\"\", b\"NumOfBoxes=\\\"5\\\"\")\n"
        "  out.writestr(n.replace(\"DATA.zip\",\"DATA.ZIP\").replace(\"Backup.XML\",\"BACKUP.xml\"), d)\n"
        "out.close()",
        {source, broken});
    result = sim->dir / "r1.zip";
    ConversionRun run = Convert(vtBoxConvertBackupData, broken, result, work, kFrom, kTo, false);
    EXPECT_EQ(run.rc, 1392u) << run.detail;
    EXPECT_FALSE(fs::exists(result));
    EXPECT_FALSE(fs::exists(work + "/BOX"));

    std::string capitals = sim->dir / "capitals.zip";
    vtconv::Python(
        "import sys,zipfile\n"
        "src=zipfile.ZipFile(sys.argv[1]); out=zipfile.ZipFile(sys.argv[2],\"w\")\n"
        "[out.writestr(n.replace(\"DATA.zip\",\"DATA.ZIP\").replace(\"Backup.XML\",\"BACKUP.xml\"), src.read(n)) for n "
        "in src.namelist()]\n"
        "out.close()",
        {source, capitals});
    run = Convert(vtBoxConvertBackupData, capitals, result, work, kFrom, kTo, false);
    ASSERT_EQ(run.rc, 0u) << run.detail;
    EXPECT_EQ(vtconv::ZipNames(result), "BOX\\\nBOX\\Backup.XML\nBOX\\DATA.zip\nBOX\\DATABASE.vtb\n");
    EXPECT_EQ(Describe(result, work).boxes[1].NumOfDocs, 0u);
}

}  // namespace
