// Every fault the simulated device can show, and the device killed or frozen,
// against a backup and both kinds of restore, run through vtbox as an
// administrator runs it. Whatever happens, each run ends with the code meant
// for it, leaves the device released (or says plainly that it could not),
// leaves no temporary file and no half-written backup, and loses no document
// of the device.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <thread>

#include "devicesim/record_file.hpp"
#include "sim_device.hpp"
#include "vtbox_run.hpp"

namespace {

namespace fs = std::filesystem;
using vttest::Result;
using vttest::SimDevice;

enum class Op { Backup, Replace, KeepBoth };
constexpr Op kOps[] = {Op::Backup, Op::Replace, Op::KeepBoth};

const char *OpName(Op op) {
    return op == Op::Backup ? "backup" : op == Op::Replace ? "restore replace" : "restore keep-both";
}

// The exit codes of vtbox.
constexpr int kDone = 0, kFailed = 1, kNotReleased = 3;

vttest::SimOptions SmallStore() {
    vttest::SimOptions o;
    o.seed.boxes = 2;
    o.seed.folders = 1;
    o.seed.docs = 3;
    o.seed.pages = 2;
    o.seed.pageKb = 4;
    return o;
}

// Complete documents of the store (their folder not marked as being written):
// level, display name and page bytes. The same document twice counts twice.
std::multiset<std::string> CompleteDocuments(const SimDevice &sim) {
    std::multiset<std::string> out;
    fs::path data = fs::path(sim.storeRoot) / "SHR/BOX/DATA";
    for (const auto &e : fs::recursive_directory_iterator(data)) {
        std::string name = e.path().filename().string();
        if (!(name.size() == 12 && name[0] == 'D' && name.ends_with(".XML"))) continue;
        fs::path folder = e.path().parent_path() / name.substr(0, 8);
        if (fs::exists(folder / "CREATE.STS") && !fs::exists(folder / "UNLOCK.STS")) continue;
        std::ifstream in(e.path(), std::ios::binary);
        std::vector<uint8_t> record((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::u16string display = devicesim::DecodeEntryRecord(record).displayName;
        std::string key = fs::relative(e.path().parent_path(), data).string() + "|" +
                          std::string(reinterpret_cast<const char *>(display.data()), display.size() * 2) + "|";
        std::vector<fs::path> pages;
        if (fs::is_directory(folder))
            for (const auto &p : fs::directory_iterator(folder))
                if (p.path().filename().string().rfind("PAGE", 0) == 0) pages.push_back(p.path());
        std::sort(pages.begin(), pages.end());
        for (const auto &p : pages) {
            std::ifstream page(p, std::ios::binary);
            key += p.filename().string() + ":" +
                   std::string((std::istreambuf_iterator<char>(page)), std::istreambuf_iterator<char>());
        }
        out.insert(key);
    }
    return out;
}

// Runs an action once the job has begun to move box data (the first RETR or
// STOR of a page file).
struct AtFirstPage {
    AtFirstPage(SimDevice &sim, std::function<void()> action)
        : watcher([this, &sim, action] {
              while (!stop) {
                  for (const auto &c : sim.device->Records().ftpCommands)
                      if ((c.rfind("RETR", 0) == 0 || c.rfind("STOR", 0) == 0) && c.find("PAGE") != std::string::npos) {
                          action();
                          return;
                      }
                  std::this_thread::sleep_for(std::chrono::milliseconds(2));
              }
          }) {}
    ~AtFirstPage() {
        stop = true;
        watcher.join();
    }
    std::atomic<bool> stop{false};
    std::thread watcher;
};

struct Fault {
    const char *name;
    // Sets the fault up before the run (page: a page the operation calls
    // during its job); may return an action to run at the first page file.
    std::function<std::function<void()>(SimDevice &, Op, const std::string &page)> set;
    int backup, restore;  // the exit codes meant for each
    bool released;        // false: the device cannot answer at the end, and vtbox says so
};

std::vector<Fault> Faults() {
    auto none = std::function<void()>();
    return {
        {"none", [=](SimDevice &, Op, const std::string &) { return none; }, kDone, kDone, true},
        {"reply Result 203",
         [=](SimDevice &s, Op, const std::string &p) {
             s.faults().ForceResult(p, 203);
             return none;
         },
         kFailed, kFailed, true},
        {"HTTP 503",
         [=](SimDevice &s, Op, const std::string &p) {
             s.faults().ForceHttpStatus(p, 503);
             return none;
         },
         kFailed, kFailed, true},
        {"malformed reply",
         [=](SimDevice &s, Op, const std::string &p) {
             s.faults().MalformedReply(p);
             return none;
         },
         kFailed, kFailed, true},
        {"reply late, within its time",
         [=](SimDevice &s, Op, const std::string &p) {
             s.faults().DelayReply(p, 1, 1);
             return none;
         },
         kDone, kDone, true},
        {"reply later than its time",
         [=](SimDevice &s, Op, const std::string &p) {
             s.faults().DelayReply(p, 4, 1);
             return none;
         },
         kFailed, kFailed, true},
        {"web service silent for 3 s",
         [=](SimDevice &s, Op, const std::string &p) {
             s.faults().GoSilentOn(p, 3);
             return none;
         },
         kFailed, kFailed, true},
        {"web service silent at the release",
         [=](SimDevice &s, Op, const std::string &) {
             s.faults().GoSilentOn("boxnwDeleteFTPAccount", 0);
             return none;
         },
         kNotReleased, kNotReleased, false},
        {"data connection dropped",
         [=](SimDevice &s, Op, const std::string &) {
             s.faults().DropDataConnection(4, 100);
             return none;
         },
         kFailed, kFailed, true},
        {"552 once",
         [=](SimDevice &s, Op, const std::string &) {
             s.faults().FailStor(552, 3, false);
             return none;
         },
         kDone, kDone, true},
        {"451 from the 3rd STOR on",
         [=](SimDevice &s, Op, const std::string &) {
             s.faults().FailStor(451, 3, true);
             return none;
         },
         kDone, kFailed, true},
        {"login refused",
         [=](SimDevice &s, Op, const std::string &) {
             s.faults().RefuseLogin(1);
             return none;
         },
         kFailed, kFailed, true},
        {"folder creation refused",
         [=](SimDevice &s, Op, const std::string &) {
             s.faults().RefuseFolderCreation();
             return none;
         },
         kDone, kFailed, true},
        {"deletion refused",
         [=](SimDevice &s, Op, const std::string &) {
             s.faults().RefuseDeletion();
             return none;
         },
         kDone, kDone, true},
        {"low disk",
         [=](SimDevice &s, Op, const std::string &) {
             s.faults().SetLowDisk(10);
             return none;
         },
         kDone, kFailed, true},
        {"web service frozen for 3 s on a page",
         [=](SimDevice &s, Op, const std::string &p) {
             s.faults().FreezeOn(p, devicesim::FreezeScope::Web, 3);
             return none;
         },
         kFailed, kFailed, true},
        {"FTP frozen mid-job",
         [=](SimDevice &s, Op, const std::string &) {
             return std::function<void()>([&s] { s.faults().Freeze(devicesim::FreezeScope::Ftp, 0); });
         },
         kFailed, kFailed, true},
        {"device frozen on a page for good",
         [=](SimDevice &s, Op, const std::string &p) {
             s.faults().FreezeOn(p, devicesim::FreezeScope::Device, 0);
             return none;
         },
         kFailed, kFailed, false},
        {"device frozen mid-job (a stopped process)",
         [=](SimDevice &s, Op, const std::string &) {
             return std::function<void()>([&s] { s.faults().Freeze(devicesim::FreezeScope::Device, 0); });
         },
         kFailed, kFailed, false},
        {"device killed mid-job",
         [=](SimDevice &s, Op, const std::string &) { return std::function<void()>([&s] { s.device->Stop(); }); },
         kFailed, kFailed, false},
    };
}

std::string ReadAll(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The one backup of the seeded store that serves every restore of this
// process: seeding is deterministic, so each fresh device holds what the file
// holds. Made at the first restore that needs it.
const std::string &SeededBackup() {
    static vttest::TempDir keep;
    static const std::string file = [] {
        std::string path = keep / "seeded.zip";
        SimDevice source(SmallStore());
        Result r = vttest::Vtbox(source, {"backup", "--boxes", "all", "--output", path});
        if (r.exitCode != 0) ADD_FAILURE() << "the seeded backup failed: " << r.err;
        return path;
    }();
    return file;
}

// One cell of the matrix: a fault against an operation.
class FaultMatrix : public ::testing::TestWithParam<std::tuple<size_t, Op>> {};

TEST_P(FaultMatrix, EndsAsMeantAndLosesNothing) {
    const Fault fault = Faults()[std::get<0>(GetParam())];
    const Op op = std::get<1>(GetParam());
    SCOPED_TRACE(std::string(fault.name) + " / " + OpName(op));
    std::string backupFile = op == Op::Backup ? std::string() : SeededBackup();

    SimDevice sim(SmallStore());
    auto before = CompleteDocuments(sim);
    fs::path temp = sim.dir / "tmp";
    fs::create_directories(temp);
    std::string target = sim.dir / "target.zip";
    const std::string older = "an older backup that must survive a failed run";
    std::ofstream(target) << older;

    std::string page = op == Op::Backup ? "boxnwGetBoxProperty" : "boxnwGetFolderDocList";
    std::function<void()> atFirstPage = fault.set(sim, op, page);
    std::vector<std::string> args = op == Op::Backup
                                        ? std::vector<std::string>{"backup", "--boxes", "all", "--output", target}
                                        : std::vector<std::string>{"restore",
                                                                   "--input",
                                                                   backupFile,
                                                                   "--boxes",
                                                                   "all",
                                                                   "--mode",
                                                                   op == Op::Replace ? "replace" : "keep-both"};
    Result r;
    {
        std::unique_ptr<AtFirstPage> trigger;
        if (atFirstPage) trigger = std::make_unique<AtFirstPage>(sim, atFirstPage);
        r = vttest::Vtbox(
            sim, args, "admin", {},
            {{"TMPDIR", temp.string()}, {"VTBOX_NETWORK_TIMEOUT_MS", "2000"}, {"VTBOX_RELEASE_SECONDS", "4"}});
    }
    int expected = op == Op::Backup ? fault.backup : fault.restore;
    if (expected == kFailed)  // any failure class: other, busy, unreachable, not found, damaged, disk, partial
        EXPECT_TRUE(r.exitCode == 1 || (r.exitCode >= 4 && r.exitCode <= 10)) << r.exitCode << "\n" << r.err;
    else
        EXPECT_EQ(r.exitCode, expected) << r.err;

    // Released, or said plainly that it is not.
    if (fault.released) {
        sim.faults().Clear();
        vttest::ExpectDeviceReleased(sim);
    } else {
        EXPECT_NE(r.err.find("was not released: its panel may stay locked"), std::string::npos) << r.err;
    }
    // No temporary file anywhere, no half-written target.
    EXPECT_TRUE(fs::is_empty(temp)) << "left in the temp folder";
    for (const auto &e : fs::directory_iterator(sim.dir.path()))
        EXPECT_EQ(e.path().filename().string().find(".vtbox-work"), std::string::npos) << "work folder left";
    bool written = r.exitCode == kDone || r.exitCode == kNotReleased;
    if (op == Op::Backup) {
        if (written) {
            EXPECT_EQ(ReadAll(target).substr(0, 2), "PK");
        } else {
            EXPECT_EQ(ReadAll(target), older) << "the older backup was not kept";
        }
    }
    // No document lost.
    auto after = CompleteDocuments(sim);
    for (const auto &doc : before)
        if (after.count(doc) == 0) ADD_FAILURE() << "a document was lost: " << doc.substr(0, doc.find('|'));
}

// Each cell is a test of its own, named after its fault and operation
// (FaultMatrix/EndsAsMeantAndLosesNothing/DeviceKilledMidJob_RestoreReplace).
std::string CellName(const ::testing::TestParamInfo<std::tuple<size_t, Op>> &info) {
    auto camel = [](const std::string &words) {
        std::string out;
        bool up = true;
        for (char c : words) {
            if (std::isalnum(static_cast<unsigned char>(c))) {
                out += up ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
                up = false;
            } else {
                up = true;
            }
        }
        return out;
    };
    return camel(Faults()[std::get<0>(info.param)].name) + "_" + camel(OpName(std::get<1>(info.param)));
}

INSTANTIATE_TEST_SUITE_P(Cells, FaultMatrix,
                         ::testing::Combine(::testing::Range<size_t>(0, Faults().size()), ::testing::ValuesIn(kOps)),
                         CellName);

}  // namespace
