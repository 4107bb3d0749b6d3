// vtbox restore in replace mode into a level that holds the device's limit of
// 400 documents, stopped at the moment an old document is off the device (it
// has been deleted, its replacement is not complete yet): by a dropped data
// connection, the device killed, the device frozen, Ctrl-C, vtbox killed.
// No document is lost: each is on the device, or in the rescue copy that
// vtbox keeps and names; a later run reports a copy that a killed run left.
#include <gtest/gtest.h>
#include <signal.h>

#include <cctype>
#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
#include <thread>

#include "level_files.hpp"
#include "sim_device.hpp"
#include "vtbox_run.hpp"

namespace {

namespace fs = std::filesystem;
using vttest::Result;
using vttest::SimDevice;

bool Has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

vttest::SimOptions FullLevel() {
    vttest::SimOptions o;
    o.seed.boxes = 1;
    o.seed.folders = 0;
    o.seed.docs = 400;
    o.seed.pages = 1;
    o.seed.pageKb = 1;
    return o;
}

fs::path Level(const SimDevice &sim) { return fs::path(sim.storeRoot) / "SHR/BOX/DATA/B0000001/P0000001"; }

std::vector<fs::path> WorkFolders(const fs::path &folder) {
    std::vector<fs::path> out;
    for (const auto &e : fs::directory_iterator(folder))
        if (e.path().filename().string().rfind(".vtbox-work-", 0) == 0) out.push_back(e.path());
    return out;
}

std::multiset<std::string> Rescued(const fs::path &folder) {
    std::multiset<std::string> out;
    for (const auto &work : WorkFolders(folder)) out.merge(vttest::RescuedDocumentsIn(work));
    return out;
}

// Waits (at most a minute) for the freeze that the first delete at the full
// level starts.
void WaitForTheFreeze(SimDevice &sim) {
    for (int i = 0; i < 30000 && !sim.faults().Frozen(true); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_TRUE(sim.faults().Frozen(true)) << "the restore never deleted a document";
}

constexpr int kPartial = 10;

struct Case {
    const char *what;
    std::function<void(SimDevice &, pid_t)> during;  // the freeze has been set before the run
    bool copy_kept;                                  // the document could not be put back
    std::function<void(const Result &)> check;
};
const Case kCases[] = {
    {"data connection dropped", nullptr, false,
     [](const Result &r) {
         EXPECT_TRUE(r.exitCode != 0 && r.exitCode != kPartial) << r.exitCode << r.err;
         EXPECT_TRUE(Has(r.err, "was put back as it was")) << r.err;
     }},
    {"device killed",
     [](SimDevice &sim, pid_t) {
         WaitForTheFreeze(sim);
         sim.device->Stop();
     },
     true, [](const Result &r) { EXPECT_EQ(r.exitCode, kPartial) << r.err; }},
    {"device frozen", [](SimDevice &sim, pid_t) { WaitForTheFreeze(sim); }, true,
     [](const Result &r) {
         EXPECT_EQ(r.exitCode, kPartial) << r.err;
         EXPECT_TRUE(Has(r.err, "was not released")) << r.err;
     }},
    {"Ctrl-C",
     [](SimDevice &sim, pid_t pid) {
         WaitForTheFreeze(sim);
         kill(pid, SIGINT);
         std::this_thread::sleep_for(std::chrono::milliseconds(300));
         sim.faults().Thaw();
     },
     // The cancel stops the job, and the document goes back all the same.
     false,
     [](const Result &r) {
         EXPECT_EQ(r.exitCode, 130) << r.err;
         EXPECT_TRUE(Has(r.err, "deleted to make room for its replacement, was put back as it was")) << r.err;
     }},
    {"vtbox killed",
     [](SimDevice &sim, pid_t pid) {
         WaitForTheFreeze(sim);
         kill(pid, SIGKILL);
         std::this_thread::sleep_for(std::chrono::milliseconds(100));
         sim.faults().Thaw();
     },
     true, [](const Result &r) { EXPECT_EQ(r.exitCode, 128 + SIGKILL); }},
};

// The backup of a full level, made once for every way of stopping.
class VtboxRescue : public testing::TestWithParam<size_t> {
protected:
    static void SetUpTestSuite() {
        keep = new vttest::TempDir;
        made = *keep / "full.zip";
        SimDevice source(FullLevel());
        Result r = vttest::Vtbox(source, {"backup", "--boxes", "1", "--output", made});
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }
    static void TearDownTestSuite() {
        delete keep;
        keep = nullptr;
    }
    static vttest::TempDir *keep;
    static std::string made;
};
vttest::TempDir *VtboxRescue::keep = nullptr;
std::string VtboxRescue::made;

TEST_P(VtboxRescue, NoDocumentIsLostWhateverStopsAReplacementAtAFullLevel) {
    const Case &c = kCases[GetParam()];
    SimDevice sim(FullLevel());
    auto before = vttest::CompleteDocumentsOf(Level(sim));
    ASSERT_EQ(before.size(), 400u);
    std::string backup = sim.dir / "full.zip";
    fs::copy_file(made, backup);
    if (c.during)
        sim.faults().FreezeAfter("boxnwDeleteDoc", devicesim::FreezeScope::Device, 0);
    else
        sim.faults().DropDataConnectionAfter("boxnwDeleteDoc", 3, 100);  // the replacement's first page

    auto started = std::chrono::steady_clock::now();
    Result r = vttest::Vtbox(sim, {"restore", "--input", backup, "--boxes", "1", "--mode", "replace"}, "admin", {},
                             {{"VTBOX_NETWORK_TIMEOUT_MS", "8000"}, {"VTBOX_RELEASE_SECONDS", "2"}}, [&](pid_t pid) {
                                 if (c.during) c.during(sim, pid);
                             });
    sim.faults().Thaw();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // what a frozen device held back, done
    c.check(r);

    auto on_device = vttest::CompleteDocumentsOf(Level(sim));
    auto rescued = Rescued(sim.dir.path());
    size_t lost = 0;
    for (const auto &doc : before) lost += on_device.count(doc) + rescued.count(doc) == 0;
    EXPECT_EQ(lost, 0u);
    EXPECT_EQ(rescued.size(), c.copy_kept ? 1u : 0u);
    std::printf(
        "[ figures  ] %s: %zu documents on the device, %zu in the rescue copy, %zu lost (the run took "
        "%.1f s)\n",
        c.what, on_device.size(), rescued.size(), lost,
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    std::vector<fs::path> work = WorkFolders(sim.dir.path());
    if (!c.copy_kept) {
        EXPECT_TRUE(work.empty()) << "work folder left";
        return;
    }
    if (work.size() != 1) {
        ADD_FAILURE() << work.size() << " work folders";
        return;
    }
    fs::path copies = work[0] / VTBOX_RESCUE_FOLDER;
    if (r.exitCode == kPartial) {
        EXPECT_TRUE(Has(r.err, "the only copy is kept in " + copies.string())) << r.err;
        // Nothing of the job but the copy stays.
        EXPECT_EQ(std::distance(fs::directory_iterator(work[0]), fs::directory_iterator()), 1) << work[0];
        return;
    }

    // vtbox was killed: the device stays locked and the unpacked backup
    // beside the file. The next runs release the device, report the copy
    // and keep it, and the restore done again completes the level.
    sim.faults().Clear();
    Result unlock = vttest::Vtbox(sim, {"unlock"});
    EXPECT_EQ(unlock.exitCode, 0) << unlock.err;
    Result again = vttest::Vtbox(sim, {"restore", "--input", backup, "--boxes", "1", "--mode", "replace"});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_TRUE(Has(again.err, "vtbox: kept " + work[0].string())) << again.err;
    EXPECT_TRUE(Has(again.err, "the only copy of 1 document")) << again.err;
    EXPECT_EQ(Rescued(sim.dir.path()), rescued);
    EXPECT_FALSE(fs::exists(work[0] / "BOX")) << "the dead run's unpacked backup stayed";
    EXPECT_EQ(WorkFolders(sim.dir.path()), work);
    EXPECT_EQ(vttest::CompleteDocumentsOf(Level(sim)), before);
}

INSTANTIATE_TEST_SUITE_P(Stops, VtboxRescue, testing::Range<size_t>(0, std::size(kCases)), [](const auto &info) {
    std::string name;
    bool upper = true;
    for (char ch : std::string(kCases[info.param].what)) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) {
            upper = true;
            continue;
        }
        name += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(ch))) : ch;
        upper = false;
    }
    return name;
});

}  // namespace
