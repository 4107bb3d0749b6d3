// One document lost from a full box, brought back two ways: restoring that
// document alone (vtBoxRestoreSelection) against restoring the whole box.
// Seeds one box of 400 documents at its top level in the simulated device,
// backs it up, then runs rounds of:
//   one:      the document deleted, restored alone (keep-both mode);
//   whole:    the device emptied, the whole box restored into it;
//   replace:  the document deleted, the whole box restored over the rest in
//             replace mode (what an administrator had to do before);
// each checked against the store as it was (same files and bytes), with its
// wall time (session, lock and FTP account included) and peak memory, and
// the ratios one/whole and one/replace.
//
//   bench_restore_one [--docs N] [--pages N] [--page-kb N] [--rounds N]
//
// Defaults: 400 documents of 2 pages of 64 KB (51 MB of pages); 3 rounds.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_device.hpp"
#include "temp_dir.hpp"
#include "vtBoxBRD.h"

namespace {

using namespace benchrestore;

struct Options : Seed {
    unsigned rounds = 3;
    Options() {
        boxes = 1;
        folders = 0;
        docs = 400;
        pages = 2;
        page_kb = 64;
    }
};

bool Session(unsigned http_port, const std::function<uint32_t(VTMFPSESSION &)> &call) {
    VTMFPSESSION s = benchrestore::Session(http_port);
    if (vtBoxOpenConnection(&s) != 0) return false;
    const uint32_t rc = call(s);
    vtBoxCloseConnection(&s);
    return rc == 0;
}

}  // namespace

int main(int argc, char **argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        unsigned v = static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 10));
        if (a == "--docs" && v >= 1 && v <= 400)
            o.docs = v;
        else if (a == "--pages")
            o.pages = v;
        else if (a == "--page-kb")
            o.page_kb = v;
        else if (a == "--rounds" && v > 0)
            o.rounds = v;
        else {
            std::fprintf(stderr, "unknown option or value: %s %s\n", a.c_str(), argv[i + 1]);
            return 2;
        }
    }
    vttest::TempDir dir;
    const std::string store = dir / "store";
    DeviceProcess device(store, o);
    setenv("VTBOX_FTP_PORT", std::to_string(device.ftp_port).c_str(), 1);
    setenv("VTBOX_REGISTRY_DIR", (dir / "registry").c_str(), 1);
    const std::string work = dir / "work", backup = dir / "backup.zip";
    fs::create_directories(work);
    uint32_t box = 1;
    // The document that goes missing: the middle one of the box.
    const uint32_t lost = (o.docs + 1) / 2;
    const VTBACKUPITEM item{box, 0, lost};

    size_t files = 0;
    const uint64_t bytes = TreeBytes(fs::path(store) / "SHR/BOX", &files);
    std::printf("store: 1 box of %u documents, %zu files, %.1f MB\n", o.docs, files, bytes / 1048576.0);
    Measure b = InChild([&] {
        return Job(device.http_port, 0, [&](VTMFPSESSION &s, const char *login, uint32_t) {
            VTPROGRESSINFO p;
            return vtBoxBackup(&s, "admin", login, work.c_str(), backup.c_str(), 1, &box, nullptr, nullptr, &p);
        });
    });
    if (b.rc != 0) {
        std::fprintf(stderr, "backup failed: %d\n", b.rc);
        return 1;
    }
    std::printf("backup file: %.1f MB\n", fs::file_size(backup) / 1048576.0);

    auto restore = [&](bool selection, uint32_t mode) {
        return InChild([&] {
            return Job(device.http_port, 1, [&](VTMFPSESSION &s, const char *login, uint32_t deviceTime) {
                VTPROGRESSINFO p;
                if (selection)
                    return vtBoxRestoreSelection(&s, "admin", login, work.c_str(), backup.c_str(), 1, &item, mode,
                                                 deviceTime, nullptr, nullptr, &p);
                return vtBoxRestore(&s, "admin", login, work.c_str(), backup.c_str(), 1, &box, mode, deviceTime,
                                    nullptr, nullptr, &p);
            });
        });
    };
    auto lose = [&] {
        return Session(device.http_port, [&](VTMFPSESSION &s) { return vtBoxDeleteDocument(&s, 1, "admin", 0, lost); });
    };
    auto empty = [&] {
        return Session(device.http_port, [&](VTMFPSESSION &s) { return vtBoxDeleteAllBox(&s, "admin"); });
    };
    auto whole_again = [&](const char *what) {
        size_t now = 0;
        const uint64_t b2 = TreeBytes(fs::path(store) / "SHR/BOX", &now);
        if (now == files && b2 == bytes) return true;
        std::fprintf(stderr, "%s: the store differs: %zu files, %llu bytes\n", what, now,
                     static_cast<unsigned long long>(b2));
        return false;
    };

    std::vector<double> toWhole, toReplace;
    double bestOne = 1e9, bestWhole = 1e9, bestReplace = 1e9;
    for (unsigned round = 1; round <= o.rounds; ++round) {
        if (!lose()) return 1;
        Measure one = restore(true, 0);
        if (one.rc != 0 || !whole_again("one document")) return 1;
        if (!empty()) return 1;
        Measure whole = restore(false, 0);
        if (whole.rc != 0 || !whole_again("whole box")) return 1;
        if (!lose()) return 1;
        Measure replace = restore(false, 1);
        if (replace.rc != 0 || !whole_again("whole box, replace")) return 1;
        std::printf(
            "round %u: one document %6.3f s (peak %5.1f MB), whole box %6.2f s (peak %5.1f MB), whole box in "
            "replace mode %6.2f s: one/whole %.3f, one/replace %.3f\n",
            round, one.seconds, one.peak_kb / 1024.0, whole.seconds, whole.peak_kb / 1024.0, replace.seconds,
            one.seconds / whole.seconds, one.seconds / replace.seconds);
        toWhole.push_back(one.seconds / whole.seconds);
        toReplace.push_back(one.seconds / replace.seconds);
        bestOne = std::min(bestOne, one.seconds);
        bestWhole = std::min(bestWhole, whole.seconds);
        bestReplace = std::min(bestReplace, replace.seconds);
    }
    std::sort(toWhole.begin(), toWhole.end());
    std::sort(toReplace.begin(), toReplace.end());
    // Other work on the machine only adds time: the best of each is the
    // steadiest figure on a loaded machine.
    std::printf("one/whole: %.3f to %.3f, median %.3f; best of each %.3f s / %.2f s = %.3f\n", toWhole.front(),
                toWhole.back(), toWhole[toWhole.size() / 2], bestOne, bestWhole, bestOne / bestWhole);
    std::printf("one/replace: %.3f to %.3f, median %.3f; best of each %.3f s / %.2f s = %.3f\n", toReplace.front(),
                toReplace.back(), toReplace[toReplace.size() / 2], bestOne, bestReplace, bestOne / bestReplace);
    return 0;
}
