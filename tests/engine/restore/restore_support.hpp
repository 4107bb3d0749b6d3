// What the restore's tests against the simulated device share: a restore
// run the way the utility runs it, backups of the seeded store, and views of
// the device's store (its files, its levels as the box service lists them).
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "backup_job.hpp"
#include "level_files.hpp"
#include "vthandles.hpp"

namespace vttest {

inline constexpr uint32_t kReplace = 1;
inline constexpr uint32_t kKeepBoth = 0;

struct RestoreRun {
    uint32_t rc = 0;
    std::string detail;  // vtBoxGetLastErrorText() right after the restore
    uint32_t device_time = 0;
    VTPROGRESSINFO progress{};
    std::vector<VTPROGRESSINFO> seen;
};

// Runs a restore the way the utility does: lock in mode 1, FTP account, the
// restore with the lock's device time, then the account and the lock released.
// The cancel event (made here when none is given) is passed on.
// What a restore call is given beyond the session: the FTP user, the work
// folder, the device time, the events and the progress record.
using RestoreCall = std::function<uint32_t(VTMFPSESSION *, const char *login, const char *work, uint32_t device_time,
                                           HANDLE cancel, HANDLE status, VTPROGRESSINFO *progress)>;

inline RestoreRun RunRestoreCall(SimDevice &sim, const RestoreCall &call, HANDLE cancel = nullptr) {
    RestoreRun run;
    VTMFPSESSION s = sim.Session();
    if (vtBoxOpenConnection(&s) != 0) throw std::runtime_error("open");
    if (vtBoxLockUiJob(&s, "admin", 1, &run.device_time) != 0) throw std::runtime_error("lock");
    char login[256] = {};
    if (vtBoxCreateFTPAccount(&s, "admin", login) != 0) throw std::runtime_error("account");
    std::string work = sim.dir / "work";
    fs::create_directories(work);

    HANDLE status = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::atomic<bool> done{false};
    std::thread watcher([&] {
        while (!done)
            if (WaitForSingleObject(status, 20) == WAIT_OBJECT_0) run.seen.push_back(run.progress);
    });
    run.rc = call(&s, login, work.c_str(), run.device_time, cancel, status, &run.progress);
    run.detail = vtBoxGetLastErrorText();
    done = true;
    watcher.join();
    CloseHandle(status);
    vtBoxDeleteFTPAccount(&s, "admin");
    vtBoxUnlockUiJob(&s, "admin", 1);
    vtBoxCloseConnection(&s);
    return run;
}

inline RestoreRun RunRestore(SimDevice &sim, const std::string &backup, std::vector<uint32_t> boxes, uint32_t mode,
                             HANDLE cancel = nullptr) {
    return RunRestoreCall(
        sim,
        [&](VTMFPSESSION *s, const char *login, const char *work, uint32_t time, HANDLE c, HANDLE status,
            VTPROGRESSINFO *progress) {
            return vtBoxRestore(s, "admin", login, work, backup.c_str(), static_cast<uint32_t>(boxes.size()),
                                boxes.data(), mode, time, c, status, progress);
        },
        cancel);
}

// The same for chosen parts of the backup (vtBoxRestoreSelection).
inline RestoreRun RunSelection(SimDevice &sim, const std::string &backup, std::vector<VTBACKUPITEM> items,
                               uint32_t mode) {
    return RunRestoreCall(sim, [&](VTMFPSESSION *s, const char *login, const char *work, uint32_t time, HANDLE c,
                                   HANDLE status, VTPROGRESSINFO *progress) {
        return vtBoxRestoreSelection(s, "admin", login, work, backup.c_str(), static_cast<uint32_t>(items.size()),
                                     items.data(), mode, time, c, status, progress);
    });
}

inline std::string MakeBackup(SimDevice &sim, std::vector<uint32_t> boxes) {
    std::string target = sim.dir / "backup.zip";
    BackupRun run = RunBackup(sim, target, std::move(boxes));
    if (run.rc != 0) throw std::runtime_error("backup failed: " + std::to_string(run.rc));
    sim.device->ClearRecords();
    return target;
}

inline fs::path Level(const SimDevice &sim, uint32_t box) {
    return fs::path(sim.storeRoot) / vt::Format("SHR/BOX/DATA/B0000%03u/P0000001", box);
}

// Every file under the store's box tree, by relative path.
inline std::map<std::string, std::vector<uint8_t>> Snapshot(const SimDevice &sim) {
    std::map<std::string, std::vector<uint8_t>> out;
    fs::path root = fs::path(sim.storeRoot) / "SHR/BOX";
    for (const auto &e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) out[fs::relative(e.path(), root).string()] = FileBytes(e.path());
    return out;
}

inline bool IsDocumentRecord(const std::string &rel) {
    std::string name = fs::path(rel).filename().string();
    return rel.rfind("DATA/", 0) == 0 && name.size() == 12 && name[0] == 'D' && name.ends_with(".XML");
}

// Display names of a store level's documents (or folders), by number.
inline std::map<uint32_t, std::u16string> Names(const fs::path &level, char letter) {
    std::map<uint32_t, std::u16string> out;
    for (const auto &e : fs::directory_iterator(level)) {
        std::string name = e.path().filename().string();
        if (name.size() == 12 && name[0] == letter && name.ends_with(".XML"))
            out[static_cast<uint32_t>(std::stoul(name.substr(5, 3)))] = ReadEntry(e.path()).displayName;
    }
    return out;
}

inline size_t CountCommands(const SimDevice &sim, const std::string &prefix) {
    size_t n = 0;
    for (const auto &c : sim.device->Records().ftpCommands) n += c.rfind(prefix, 0) == 0;
    return n;
}

inline size_t CountRequests(const SimDevice &sim, const std::string &page) {
    size_t n = 0;
    for (const auto &r : sim.device->Records().httpRequests) n += r.find(page) != std::string::npos;
    return n;
}

inline void ExpectNothingSent(const SimDevice &sim) {
    EXPECT_EQ(CountCommands(sim, "STOR"), 0u);
    EXPECT_EQ(CountCommands(sim, "MKD"), 0u);
    EXPECT_EQ(CountCommands(sim, "DELE"), 0u);
    EXPECT_EQ(CountRequests(sim, "boxnwDeleteDoc"), 0u);
    EXPECT_EQ(CountRequests(sim, "boxnwDirSerialClusterChange"), 0u);
}

inline void ExpectWorkFolderEmpty(const SimDevice &sim) {
    EXPECT_EQ(fs::directory_iterator(sim.dir / "work"), fs::directory_iterator());
}

inline std::vector<std::string> Listing(VTMFPSESSION &s, uint32_t box, uint32_t folder) {
    uint32_t n = 0;
    VTBOXELEMENT *e = nullptr;
    HGLOBAL block = vtBoxGetCollection(&s, box, "admin", folder, &n, &e);
    std::vector<std::string> out;
    if (!block) return {"error " + std::to_string(GetLastError())};
    for (uint32_t i = 0; i < n; ++i)
        out.push_back(std::to_string(e[i].Kind) + "/" + std::to_string(e[i].Id) + "/" +
                      vt::Utf16ToUtf8(vt::Utf16View(reinterpret_cast<const char16_t *>(e[i].Name), 128)) + "/" +
                      std::to_string(e[i].NumOfDocs) + "/" + std::to_string(e[i].NumOfPages));
    GlobalFree(block);
    return out;
}

// The box list and every level's listing, as the box service gives them.
inline std::vector<std::string> DeviceView(SimDevice &sim) {
    VTMFPSESSION s = sim.Session();
    EXPECT_EQ(vtBoxOpenConnection(&s), 0u);
    std::vector<std::string> view;
    uint32_t count = 0;
    VTBOX *boxes = nullptr;
    HGLOBAL list = vtBoxGetBoxList(&s, &count, &boxes);
    for (uint32_t i = 0; list && i < count; ++i) {
        view.push_back("box " + std::to_string(boxes[i].BoxNo) + " " + boxes[i].BoxName);
        for (const auto &line : Listing(s, boxes[i].BoxNo, 0)) {
            view.push_back(line);
            if (line[0] == '0') {
                uint32_t folder = static_cast<uint32_t>(std::stoul(line.substr(2)));
                for (const auto &inner : Listing(s, boxes[i].BoxNo, folder)) view.push_back("  " + inner);
            }
        }
    }
    GlobalFree(list);
    vtBoxCloseConnection(&s);
    return view;
}

inline void DeleteAllBoxes(SimDevice &sim) {
    VTMFPSESSION s = sim.Session();
    ASSERT_EQ(vtBoxOpenConnection(&s), 0u);
    ASSERT_EQ(vtBoxDeleteAllBox(&s, "admin"), 0u);
    vtBoxCloseConnection(&s);
    sim.device->ClearRecords();
}

// The restored store equals the original but for the time stamps of the
// document records, which carry the lock's device time.
inline void ExpectRestoredStore(const std::map<std::string, std::vector<uint8_t>> &original,
                                const std::map<std::string, std::vector<uint8_t>> &restored, uint32_t device_time) {
    for (const auto &[rel, bytes] : original) {
        auto it = restored.find(rel);
        if (it == restored.end()) {
            ADD_FAILURE() << "missing " << rel;
            continue;
        }
        std::vector<uint8_t> expected = bytes;
        if (IsDocumentRecord(rel)) {
            ASSERT_GE(expected.size(), 152u);
            expected[148] = static_cast<uint8_t>(device_time >> 24);
            expected[149] = static_cast<uint8_t>(device_time >> 16);
            expected[150] = static_cast<uint8_t>(device_time >> 8);
            expected[151] = static_cast<uint8_t>(device_time);
            EXPECT_NE(expected, bytes) << rel;  // the stamp did change something
        }
        EXPECT_EQ(it->second, expected) << rel;
    }
    for (const auto &[rel, bytes] : restored) EXPECT_TRUE(original.count(rel)) << "extra " << rel;
}

}  // namespace vttest
