// vtbox ls, find, diff, extract and restore --only against the simulated
// device: one document deleted since a backup is named by diff and nothing
// else, and brought back alone by restore --only; a dry run of a selection
// changes nothing and plans what the restore then does; extract keeps
// hostile names inside its folder; ls --json is read by Python.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "level_files.hpp"
#include "sim_device.hpp"
#include "vtbox_run.hpp"

namespace {

namespace fs = std::filesystem;
using vttest::Result;
using vttest::SimDevice;
using Files = std::map<std::string, std::vector<uint8_t>>;

bool Has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

Result Cli(SimDevice &sim, std::vector<std::string> args) {
    return vttest::Vtbox(sim, std::move(args), "admin", {},
                         {{"XDG_STATE_HOME", sim.dir / "state"}, {"XDG_CONFIG_HOME", sim.dir / "config"}});
}

std::string Backup(SimDevice &sim) {
    const std::string file = sim.dir / "b.zip";
    Result r = Cli(sim, {"backup", "--boxes", "all", "-o", file, "-q"});
    if (r.exitCode != 0) throw std::runtime_error("backup failed: " + r.err);
    sim.device->ClearRecords();
    return file;
}

// Every file of the device's store under SHR/BOX.
Files Snapshot(const SimDevice &sim) {
    Files out;
    const fs::path root = fs::path(sim.storeRoot) / "SHR/BOX";
    for (const auto &e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) out[e.path().lexically_relative(root).string()] = vttest::FileBytes(e.path());
    return out;
}

fs::path Level(const SimDevice &sim, uint32_t box) {
    return fs::path(sim.storeRoot) / vt::Format("SHR/BOX/DATA/B0000%03u/P0000001", box);
}

void DeleteDocument(SimDevice &sim, uint32_t box, uint32_t folder, uint32_t document) {
    VTMFPSESSION s = sim.Session();
    ASSERT_EQ(vtBoxOpenConnection(&s), 0u);
    ASSERT_EQ(vtBoxDeleteDocument(&s, box, "admin", folder, document), 0u);
    vtBoxCloseConnection(&s);
    sim.device->ClearRecords();
}

size_t Count(const SimDevice &sim, const std::string &what) {
    size_t n = 0;
    for (const auto &c : sim.device->Records().ftpCommands) n += c.rfind(what, 0) == 0;
    for (const auto &r : sim.device->Records().httpRequests) n += Has(r, what);
    return n;
}

// Nothing that changes the device, no lock and no FTP account.
void ExpectOnlyRead(const SimDevice &sim) {
    for (const char *what : {"STOR", "MKD", "DELE", "RMD", "RNFR", "boxnwDeleteDoc", "boxnwDirSerialClusterChange",
                             "boxnwBoxExModeIn", "boxnwCreateFTPAccount"})
        EXPECT_EQ(Count(sim, what), 0u) << what;
}

// Runs a Python script over a file: its exit code and output.
std::pair<int, std::string> Python(const std::string &script, const std::string &file) {
    vttest::TempDir dir;
    std::ofstream(dir / "check.py") << script;
    const std::string command = "python3 " + dir / "check.py" + " '" + file + "' > " + dir / "out" + " 2>&1";
    const int status = std::system(command.c_str());
    std::stringstream out;
    out << std::ifstream(dir / "out").rdbuf();
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out.str()};
}

std::string Save(SimDevice &sim, const std::string &name, const std::string &text) {
    const std::string path = sim.dir / name;
    std::ofstream(path) << text;
    return path;
}

const std::string kDeletedPath =
    "1/" + devicesim::SeededFolderName(1, 2) + "/" + devicesim::SeededDocumentName(1, 2, 2);

TEST(VtboxBrowse, DiffNamesTheDeletedDocumentAndNothingElse) {
    SimDevice sim;
    const std::string file = Backup(sim);
    Result same = Cli(sim, {"diff", file});
    ASSERT_EQ(same.exitCode, 0) << same.err;
    EXPECT_TRUE(Has(same.out, "the device holds what")) << same.out;
    DeleteDocument(sim, 1, 2, 2);

    Result r = Cli(sim, {"diff", file});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "box 1:\n  deleted  1/F2/D2      " + kDeletedPath +
                         "\n1 difference; vtbox restore -i FILE --only PATH brings back what was deleted\n");
    ExpectOnlyRead(sim);
    vttest::ExpectDeviceReleased(sim);

    Result json = Cli(sim, {"diff", file, "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    auto [rc, said] = Python(
        "import json,sys\n"
        "d=json.load(open(sys.argv[1]))\n"
        "assert d['same'] is False, d\n"
        "[x]=d['differences']\n"
        "assert (x['change'],x['kind'],x['path'],x['devicePath'])==('deleted','document','1/F2/D2',None), x\n"
        "assert x['device'] is None and x['backup']['pages']==2, x\n",
        Save(sim, "diff.json", json.out));
    EXPECT_EQ(rc, 0) << said;
}

class VtboxRestoreOnly : public testing::TestWithParam<const char *> {};

// The deleted document comes back under its own number, and every other
// file of the device is byte for byte as it was: no document doubled, none
// rewritten, none renumbered.
TEST_P(VtboxRestoreOnly, BringsBackExactlyThatDocument) {
    SimDevice sim;
    const std::string file = Backup(sim);
    const Files original = Snapshot(sim);
    DeleteDocument(sim, 1, 2, 2);

    Result r = Cli(sim, {"restore", "-i", file, "--only", kDeletedPath, "--mode", GetParam()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "1 document restored from 1 box")) << r.out;
    Files now = Snapshot(sim);
    const std::string record = "DATA/B0000001/P0000001/F0000002/D0000002.XML";
    ASSERT_TRUE(now.count(record));
    now[record] = original.at(record);  // but for the time stamp of the restore
    EXPECT_EQ(now, original);
    EXPECT_EQ(Count(sim, "boxnwDeleteDoc"), 0u);
    vttest::ExpectDeviceReleased(sim);
}

INSTANTIATE_TEST_SUITE_P(BothModes, VtboxRestoreOnly, testing::Values("keep-both", "replace"), [](const auto &info) {
    return std::string(info.param) == "replace" ? "Replace" : "KeepBoth";
});

// The dry run of a selection reads the device and changes nothing; the
// restore then does what it planned, a folder that is gone coming back with
// the chosen document.
TEST(VtboxBrowse, DryRunOfASelectionPlansWhatTheRestoreDoes) {
    SimDevice sim;
    const std::string file = Backup(sim);
    DeleteDocument(sim, 1, 0, 2);
    fs::remove_all(Level(sim, 1) / "F0000001");
    fs::remove(Level(sim, 1) / "F0000001.XML");
    const Files before = Snapshot(sim);
    const std::vector<std::string> only = {"--only", "1/D2", "--only", "1/F1/D3", "--only", "1/D3"};
    std::vector<std::string> args = {"restore", "-i", file, "--mode", "keep-both", "-n", "--json"};
    args.insert(args.end(), only.begin(), only.end());

    Result plan = Cli(sim, args);
    ASSERT_EQ(plan.exitCode, 0) << plan.err;
    ExpectOnlyRead(sim);
    EXPECT_EQ(Snapshot(sim), before);
    auto [rc, said] = Python(
        "import json,sys\n"
        "d=json.load(open(sys.argv[1]))\n"
        "assert d['wouldSucceed'] is True, d\n"
        "[b]=d['boxes']\n"
        "assert b['action']=='merge', b\n"
        "print(sorted((e['action'],e['folder'],e['number'],e['newNumber'],e['newName']) for e in b['documents']))\n"
        "print([(f['action'],f['number'],f['newNumber']) for f in b['folders']])\n",
        Save(sim, "plan.json", plan.out));
    ASSERT_EQ(rc, 0) << said;
    const std::string d3 = devicesim::SeededDocumentName(1, 0, 3), d2 = devicesim::SeededDocumentName(1, 0, 2);
    const std::string f13 = devicesim::SeededDocumentName(1, 1, 3);
    auto py = [](const std::string &s) {  // as Python prints a str of these names
        return "'" + s + "'";
    };
    EXPECT_EQ(said, "[('add', 0, 2, 2, " + py(d2) + "), ('add', 1, 3, 3, " + py(f13) + "), ('rename', 0, 3, 4, " +
                        py(d3 + "-001") + ")]\n[('add', 1, 1)]\n");

    args.erase(std::find(args.begin(), args.end(), "-n"));
    Result restore = Cli(sim, args);
    ASSERT_EQ(restore.exitCode, 0) << restore.err;
    const auto top = vttest::CompleteDocumentsOf(Level(sim, 1));
    EXPECT_EQ(top.size(), 4u);
    EXPECT_EQ(vt::Utf16ToUtf8(vttest::ReadEntry(Level(sim, 1) / "D0000004.XML").displayName), d3 + "-001");
    EXPECT_EQ(vt::Utf16ToUtf8(vttest::ReadEntry(Level(sim, 1) / "D0000002.XML").displayName), d2);
    EXPECT_EQ(vt::Utf16ToUtf8(vttest::ReadEntry(Level(sim, 1) / "F0000001.XML").displayName),
              devicesim::SeededFolderName(1, 1));
    EXPECT_EQ(vttest::CompleteDocumentsOf(Level(sim, 1) / "F0000001").size(), 1u);
    EXPECT_TRUE(fs::exists(Level(sim, 1) / "F0000001/D0000003.XML"));
}

// A path that is not in the file exits 7 before the device is asked for
// anything but its password; one that names two entries exits 2.
TEST(VtboxBrowse, APathNotInTheFileIsNotFound) {
    SimDevice sim;
    const std::string file = Backup(sim);
    Result ls = Cli(sim, {"ls", file, "1/F9"});
    EXPECT_EQ(ls.exitCode, 7) << ls.err;
    EXPECT_TRUE(Has(ls.err, "\"1/F9\" is not in the file")) << ls.err;
    Result restore = Cli(sim, {"restore", "-i", file, "--only", "1/Mappe/Doc", "--mode", "replace"});
    EXPECT_EQ(restore.exitCode, 7) << restore.err;
    EXPECT_EQ(Count(sim, "boxnwBoxExModeIn"), 0u);
    EXPECT_EQ(Cli(sim, {"extract", file, "4/D1", "-o", sim.dir / "x"}).exitCode, 7);
    EXPECT_EQ(Cli(sim, {"find", file, "*nothing*"}).exitCode, 7);
    Result found = Cli(sim, {"find", file, "*1.2.?*"});
    EXPECT_EQ(found.exitCode, 0) << found.err;
    EXPECT_TRUE(Has(found.out, "1/F2/D1 ") && Has(found.out, "1/F2/D3 ") && !Has(found.out, "1/F1/")) << found.out;
}

// Names that are paths, controls, hidden or taken stay names: everything
// lands in the target, and the terminal sees no control character.
TEST(VtboxBrowse, ExtractKeepsHostileNamesInsideItsFolder) {
    vttest::SimOptions o;
    o.seedStore = false;
    SimDevice sim(o);
    const fs::path outer = sim.dir / "outer", target = outer / "target";
    fs::create_directories(target);
    const std::string file = std::string(BACKUP_CORPUS_DIR) + "/whole-hostile-names.zip";
    Result r = Cli(sim, {"extract", file, "1", "-o", target});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "11 documents extracted")) << r.out;
    EXPECT_FALSE(Has(r.out, "\x1b")) << "a name's escape sequence reached the terminal";
    EXPECT_TRUE(Has(r.out, "1/D4         \"\\x1B]0;owned\\x07\\x0D\\x0A\" -> ")) << r.out;
    EXPECT_EQ(std::vector<fs::path>(fs::directory_iterator(outer), {}), std::vector<fs::path>{target});
    size_t folders = 0;
    for (const auto &e : fs::recursive_directory_iterator(target)) {
        const fs::path rel = e.path().lexically_relative(target);
        EXPECT_FALSE(rel.empty() || *rel.begin() == "..") << e.path();
        EXPECT_FALSE(e.is_symlink()) << e.path();
        folders += e.is_directory();
    }
    EXPECT_EQ(folders, 11u);
    for (const char *name : {"_..", "_.._.._etc_passwd", "a_b_c", "Report", "Report (2)", "_.hidden", "D0000009"})
        EXPECT_TRUE(fs::is_directory(target / name)) << name;
}

// ls --json as a script reads it: every box with its entries, by the
// conventions of the other commands.
TEST(VtboxBrowse, LsJsonIsReadByPython) {
    SimDevice sim;
    const std::string file = Backup(sim);
    Result r = Cli(sim, {"ls", file, "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto [rc, said] = Python(
        "import json,sys\n"
        "d=json.load(open(sys.argv[1]))\n"
        "assert [b['number'] for b in d['boxes']]==[1,2,3], d['boxes']\n"
        "for b in d['boxes']:\n"
        "    assert set(b)>={'number','name','protected','folders','documents','usedKB','entries'}, b.keys()\n"
        "    docs=[e for e in b['entries'] if e['kind']=='document']\n"
        "    folders=[e for e in b['entries'] if e['kind']=='folder']\n"
        "    assert len(docs)==b['documents']==9 and len(folders)==b['folders']==2, b\n"
        "    for e in docs:\n"
        "        assert e['path']==(f\"{b['number']}/F{e['folder']}/D{e['number']}\" if e['folder'] else\n"
        "                           f\"{b['number']}/D{e['number']}\"), e\n"
        "        assert e['pages']==2 and e['size']==2*16384+512 and e['lastUpdate'].endswith('Z'), e\n"
        "        assert isinstance(e['colour'],bool) and e['colour']==bool(e['colourFlags'] & 0x600), e\n"
        "        assert e['namePath'].startswith(str(b['number'])+'/') and e['namePath'].endswith(e['name']), e\n"
        "assert d['boxes'][0]['protected'] is False and d['boxes'][2]['protected'] is True\n",
        Save(sim, "ls.json", r.out));
    EXPECT_EQ(rc, 0) << said;
}

// ls (of a file or of a path), find, verify, extract and the restore's dry
// run write as they read: a file of four full boxes takes no more memory
// than one of a single such box (holding the whole listing or plan, as they
// once did, costs some 15 MB more for ls of boxes of 2,400 documents, 4 MB
// for the dry run of boxes of 800), and what they write is all of it. Within a box, what each document
// costs them is bounded too: a box filled to the device's limits (101 levels
// of 400) stays within 32 MB only while a document of one page costs no more
// than this (its three entries with their names, and its place in the
// listing).
TEST(VtboxBrowse, ReadingCommandsHoldOneBoxAtATime) {
#if defined(VTTEST_ADDRESS_SANITIZER)
    GTEST_SKIP() << "AddressSanitizer keeps freed memory aside, so peaks follow what was ever allocated";
#endif
    constexpr long kMaxBytesPerDocument = 640;
    vttest::SimOptions o;
    o.seedStore = false;
    SimDevice sim(o);
    auto make = [&](int boxes, int folders) {
        const std::string file = sim.dir / vt::Format("large%dx%d.zip", boxes, folders);
        const std::string command =
            "python3 " LARGE_BACKUP_SCRIPT " '" + file + "' " + std::to_string(boxes) + " " + std::to_string(folders);
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return file;
    };
    // By the boxes of 2,400 documents a file holds; 0 for one box of 40,400.
    std::map<int, long> peak;
    for (const auto &[boxes, file] : std::map<int, std::string>{{1, make(1, 6)}, {4, make(4, 6)}, {0, make(1, 101)}}) {
        SCOPED_TRACE(file);
        Result ls = Cli(sim, {"ls", file, "--json"});
        ASSERT_EQ(ls.exitCode, 0) << ls.err;
        EXPECT_EQ(std::count(ls.out.begin(), ls.out.end(), '\n'), 1);
        const std::string last =
            "\"path\":\"" + std::to_string(std::max(boxes, 1)) + (boxes ? "/F6/D400\"" : "/F101/D400\"");
        EXPECT_TRUE(Has(ls.out, last) && ls.out.size() >= 6 && ls.out.substr(ls.out.size() - 6) == "}]}]}\n")
            << ls.out.substr(ls.out.size() - std::min<size_t>(ls.out.size(), 200));
        Result find = Cli(sim, {"find", file, "Scan 6-*"});
        ASSERT_EQ(find.exitCode, 0) << find.err;
        EXPECT_EQ(std::count(find.out.begin(), find.out.end(), '\n'), 1 + 400 * std::max(boxes, 1));
        Result verify = Cli(sim, {"verify", "--input", file});
        ASSERT_EQ(verify.exitCode, 0) << verify.out << verify.err;
        peak[boxes] = std::max({ls.peakKB, find.peakKB, verify.peakKB});
        if (boxes) continue;
        // One folder of the full box, by its name, listed and extracted: the
        // box is read whole all the same, and the path resolved in it.
        Result x = Cli(sim, {"extract", file, "1/Folder 101", "-o", sim.dir / "x"});
        ASSERT_EQ(x.exitCode, 0) << x.err;
        EXPECT_TRUE(Has(x.out, "\n400 documents extracted into ")) << x.err;
        Result folder = Cli(sim, {"ls", file, "1/Folder 101"});
        ASSERT_EQ(folder.exitCode, 0) << folder.err;
        EXPECT_EQ(std::count(folder.out.begin(), folder.out.end(), '\n'), 402);
        peak[boxes] = std::max({peak[boxes], x.peakKB, folder.peakKB});
    }
    EXPECT_LT(peak[4], peak[1] + 4096) << "one box: " << peak[1] << " KB, four boxes: " << peak[4] << " KB";
    const long perDocument = (peak[0] - peak[1]) * 1024 / (40400 - 2400);
    EXPECT_LE(perDocument, kMaxBytesPerDocument)
        << "a box of 2,400 documents: " << peak[1] << " KB, one of 40,400: " << peak[0] << " KB";

    // The dry run and the extraction write what they read, so their boxes
    // are smaller. The device is empty: every document of the file is
    // planned as added.
    std::map<int, long> planPeak, extractPeak;
    for (int boxes : {1, 4}) {
        const std::string file = make(boxes, 2);
        std::vector<std::string> extract = {"extract", file, "-o", sim.dir / vt::Format("x%d", boxes)};
        for (int b = 1; b <= boxes; ++b) extract.push_back(std::to_string(b));
        Result x = Cli(sim, extract);
        ASSERT_EQ(x.exitCode, 0) << x.err;
        EXPECT_EQ(std::count(x.out.begin(), x.out.end(), '\n'), 800 * boxes + 1);
        EXPECT_TRUE(Has(x.out, vt::Format("\n%d documents extracted into ", 800 * boxes))) << x.err;
        extractPeak[boxes] = x.peakKB;
        Result dry = Cli(sim, {"restore", "--dry-run", "-i", file, "--boxes", "all", "--mode", "keep-both"});
        ASSERT_EQ(dry.exitCode, 0) << dry.err;
        size_t added = 0;
        for (size_t at = dry.out.find("\n  document "); at != std::string::npos;
             at = dry.out.find("\n  document ", at + 1))
            ++added;
        EXPECT_EQ(added, 800u * boxes);
        EXPECT_TRUE(Has(dry.out, "the restore would go through")) << dry.out.substr(0, 300);
        planPeak[boxes] = dry.peakKB;
    }
    EXPECT_LT(planPeak[4], planPeak[1] + 2048)
        << "dry run of one box: " << planPeak[1] << " KB, of four: " << planPeak[4] << " KB";
    EXPECT_LT(extractPeak[4], extractPeak[1] + 2048)
        << "extract of one box: " << extractPeak[1] << " KB, of four: " << extractPeak[4] << " KB";
}

}  // namespace
