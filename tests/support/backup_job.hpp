// Runs a backup the way the utility does: session, lock, FTP account, the
// backup, then the account deleted and the lock released whatever happened.
#pragma once

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "sim_device.hpp"
#include "vtBoxBRD.h"

namespace vttest {

struct BackupRun {
    uint32_t rc = 0;
    std::string detail;  // vtBoxGetLastErrorText() right after the backup
    VTPROGRESSINFO progress{};
    std::vector<VTPROGRESSINFO> seen;  // the record each time the progress event fired
};

// on_progress (when given) runs on a watcher thread each time the progress
// event fires; it may set the cancel event.
inline BackupRun RunBackup(SimDevice &sim, const std::string &target, std::vector<uint32_t> boxes,
                           const std::function<void(const VTPROGRESSINFO &, HANDLE cancel)> &on_progress = {},
                           const std::string &password = "admin") {
    BackupRun run;
    const char *pw = password.c_str();
    VTMFPSESSION s = sim.Session();
    if (vtBoxOpenConnection(&s) != 0) throw std::runtime_error("open");
    VTENGVERSION v;
    vtBoxGetEngineVersion(&s, pw, &v);
    uint32_t t = 0;
    if (vtBoxLockUiJob(&s, pw, 0, &t) != 0) throw std::runtime_error("lock");
    char login[256] = {};
    if (vtBoxCreateFTPAccount(&s, pw, login) != 0) throw std::runtime_error("account");
    std::string work = sim.dir / "work";
    std::filesystem::create_directories(work);

    HANDLE status = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE cancel = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> done{false};
    std::thread watcher([&] {
        while (!done) {
            if (WaitForSingleObject(status, 50) == WAIT_OBJECT_0) {
                run.seen.push_back(run.progress);
                if (on_progress) on_progress(run.progress, cancel);
            }
        }
    });
    run.rc = vtBoxBackup(&s, pw, login, work.c_str(), target.c_str(), static_cast<uint32_t>(boxes.size()), boxes.data(),
                         cancel, status, &run.progress);
    run.detail = vtBoxGetLastErrorText();
    done = true;
    watcher.join();
    CloseHandle(status);
    CloseHandle(cancel);
    vtBoxDeleteFTPAccount(&s, pw);
    vtBoxUnlockUiJob(&s, pw, 0);
    vtBoxCloseConnection(&s);
    return run;
}

inline std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Runs a command; returns its exit status and its standard output.
inline int RunCommand(const std::string &command, std::string *output) {
    FILE *p = popen(command.c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) output->append(buf, n);
    return pclose(p);
}

}  // namespace vttest
