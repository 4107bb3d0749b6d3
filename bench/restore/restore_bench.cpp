// Backs a seeded store up from the simulated device, empties the device, and
// restores the backup into it; then restores the same backup over itself in
// replace mode, every document replacing its own old one. Prints each
// operation's wall time, the ratios restore/backup and replace/restore into
// an emptied device (rounds of the two restores side by side), and each
// operation's peak resident memory.
//
//   bench_restore [--boxes N] [--folders N] [--docs N] [--pages N] [--page-kb N] [--rounds N]
//
// Defaults: 3 boxes of 4 folders, 20 documents per level, 4 pages of 256 KB:
// 300 documents, 300 MB of page data; 3 rounds. The device runs as its own
// program (vtbox-devicesim), and each operation runs in a child process of
// its own, so that the peak memory figures are the engine's alone.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench_device.hpp"
#include "temp_dir.hpp"
#include "vtBoxBRD.h"

namespace {

using namespace benchrestore;

struct Options : Seed {
    unsigned rounds = 3;
};

}  // namespace

int main(int argc, char **argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        unsigned v = static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 10));
        if (a == "--boxes")
            o.boxes = v;
        else if (a == "--folders")
            o.folders = v;
        else if (a == "--docs")
            o.docs = v;
        else if (a == "--pages")
            o.pages = v;
        else if (a == "--page-kb")
            o.page_kb = v;
        else if (a == "--rounds" && v > 0)
            o.rounds = v;
        else {
            std::fprintf(stderr, "unknown option %s\n", a.c_str());
            return 2;
        }
    }
    vttest::TempDir dir;
    std::string store = dir / "store";
    DeviceProcess device(store, o);
    setenv("VTBOX_FTP_PORT", std::to_string(device.ftp_port).c_str(), 1);
    setenv("VTBOX_REGISTRY_DIR", (dir / "registry").c_str(), 1);
    std::string work = dir / "work";
    fs::create_directories(work);
    std::string backup = dir / "backup.zip";
    std::vector<uint32_t> boxes;
    for (unsigned b = 1; b <= o.boxes; ++b) boxes.push_back(b);
    auto count = static_cast<uint32_t>(boxes.size());

    size_t files_before = 0;
    uint64_t bytes_before = TreeBytes(fs::path(store) / "SHR/BOX", &files_before);
    std::printf("store: %u boxes, %zu files, %.1f MB\n", o.boxes, files_before, bytes_before / 1048576.0);

    Measure b = InChild([&] {
        return Job(device.http_port, 0, [&](VTMFPSESSION &s, const char *login, uint32_t) {
            VTPROGRESSINFO p;
            return vtBoxBackup(&s, "admin", login, work.c_str(), backup.c_str(), count, boxes.data(), nullptr, nullptr,
                               &p);
        });
    });
    if (b.rc != 0) {
        std::fprintf(stderr, "backup failed: %d\n", b.rc);
        return 1;
    }
    std::printf("backup file: %.1f MB\n", fs::file_size(backup) / 1048576.0);

    auto restore = [&](uint32_t mode) {
        return InChild([&] {
            return Job(device.http_port, 1, [&](VTMFPSESSION &s, const char *login, uint32_t device_time) {
                VTPROGRESSINFO p;
                return vtBoxRestore(&s, "admin", login, work.c_str(), backup.c_str(), count, boxes.data(), mode,
                                    device_time, nullptr, nullptr, &p);
            });
        });
    };
    // The store holds what it held before, but for numbers and time stamps.
    auto same_store = [&](const char *what) {
        size_t files_after = 0;
        uint64_t bytes_after = TreeBytes(fs::path(store) / "SHR/BOX", &files_after);
        if (files_after == files_before && bytes_after == bytes_before) return true;
        std::fprintf(stderr, "%s: the store differs: %zu files, %llu bytes\n", what, files_after,
                     static_cast<unsigned long long>(bytes_after));
        return false;
    };
    std::vector<double> ratios;
    double best_restore = 1e9, best_replace = 1e9;
    Measure first{};
    for (unsigned round = 1; round <= o.rounds; ++round) {
        {
            VTMFPSESSION s = Session(device.http_port);
            if (vtBoxOpenConnection(&s) != 0 || vtBoxDeleteAllBox(&s, "admin") != 0) return 1;
            vtBoxCloseConnection(&s);
        }
        Measure r = restore(0);
        if (r.rc != 0) {
            std::fprintf(stderr, "restore failed: %d\n", r.rc);
            return 1;
        }
        if (!same_store("restore")) return 1;
        Measure x = restore(1);
        if (x.rc != 0) {
            std::fprintf(stderr, "replace restore failed: %d\n", x.rc);
            return 1;
        }
        if (!same_store("replace restore")) return 1;
        if (round == 1) {
            first = r;
            std::printf("backup:  %7.2f s  %6.1f MB/s  peak %6.1f MB\n", b.seconds,
                        bytes_before / 1048576.0 / b.seconds, b.peak_kb / 1024.0);
        }
        std::printf(
            "round %u: restore into an emptied device %6.2f s (peak %5.1f MB), replace over itself %6.2f s "
            "(peak %5.1f MB): replace/restore %.2f\n",
            round, r.seconds, r.peak_kb / 1024.0, x.seconds, x.peak_kb / 1024.0, x.seconds / r.seconds);
        ratios.push_back(x.seconds / r.seconds);
        best_restore = std::min(best_restore, r.seconds);
        best_replace = std::min(best_replace, x.seconds);
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("restore/backup wall time: %.2f\n", first.seconds / b.seconds);
    // Other work on the machine only adds time: the best of each is the
    // steadiest figure on a loaded machine.
    std::printf("replace/restore wall time: %.2f to %.2f, median %.2f; best of each %.2f s / %.2f s = %.2f\n",
                ratios.front(), ratios.back(), ratios[ratios.size() / 2], best_replace, best_restore,
                best_replace / best_restore);
    return 0;
}
