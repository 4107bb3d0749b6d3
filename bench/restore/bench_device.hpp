// What the restore benchmarks share: the simulated device run as its own
// program on free loopback ports, each operation in a child process of its
// own (so that its peak memory is the engine's alone), and jobs run the way
// the utility runs them.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "vtBoxBRD.h"

extern char **environ;

namespace benchrestore {

namespace fs = std::filesystem;

// The store the device seeds.
struct Seed {
    unsigned boxes = 3, folders = 4, docs = 20, pages = 4, page_kb = 256;
};

// The simulated device as a child process on free loopback ports.
class DeviceProcess {
public:
    DeviceProcess(const std::string &store, const Seed &o) {
        int out[2];
        if (pipe(out) != 0) throw std::runtime_error("pipe");
        std::vector<std::string> args = {VTBOX_DEVICESIM_PROGRAM,
                                         "--store",
                                         store,
                                         "--seed",
                                         "--boxes",
                                         std::to_string(o.boxes),
                                         "--folders",
                                         std::to_string(o.folders),
                                         "--docs",
                                         std::to_string(o.docs),
                                         "--pages",
                                         std::to_string(o.pages),
                                         "--page-kb",
                                         std::to_string(o.page_kb),
                                         "--capacity-kb",
                                         "16777216",
                                         "--http-port",
                                         "0",
                                         "--ftp-port",
                                         "0"};
        std::vector<char *> argv;
        for (auto &a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            throw std::runtime_error("cannot start the simulated device");
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        FILE *text = fdopen(out[0], "r");
        char line[512];
        while (fgets(line, sizeof line, text)) {
            unsigned port = 0;
            if (std::sscanf(line, "http port %u", &port) == 1) http_port = port;
            if (std::sscanf(line, "ftp port %u", &port) == 1) ftp_port = port;
            if (std::strncmp(line, "ftp dialect", 11) == 0) break;
        }
        fclose(text);
        if (http_port == 0 || ftp_port == 0) throw std::runtime_error("the simulated device did not start");
    }
    ~DeviceProcess() {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    unsigned http_port = 0, ftp_port = 0;

private:
    pid_t pid_ = 0;
};

struct Measure {
    int rc = -1;
    double seconds = 0;
    long peak_kb = 0;
};

// Runs body in a child process: its exit code, wall time and peak memory.
inline Measure InChild(const std::function<uint32_t()> &body) {
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) _exit(static_cast<int>(body() & 0xFF));
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    Measure m;
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    m.peak_kb = usage.ru_maxrss;
    return m;
}

inline VTMFPSESSION Session(unsigned http_port) {
    VTMFPSESSION s{};
    std::strcpy(s.Host, "127.0.0.1");
    s.Port = http_port;
    s.Reserved2 = 10000;
    return s;
}

// One job as the utility runs it: session, lock, FTP account, the operation.
inline uint32_t Job(unsigned http_port, uint32_t mode,
                    const std::function<uint32_t(VTMFPSESSION &, const char *, uint32_t)> &op) {
    VTMFPSESSION s = Session(http_port);
    if (vtBoxOpenConnection(&s) != 0) return 200;
    uint32_t device_time = 0;
    char login[256] = {};
    if (vtBoxLockUiJob(&s, "admin", mode, &device_time) != 0) return 201;
    if (vtBoxCreateFTPAccount(&s, "admin", login) != 0) return 202;
    uint32_t rc = op(s, login, device_time);
    vtBoxDeleteFTPAccount(&s, "admin");
    vtBoxUnlockUiJob(&s, "admin", mode);
    vtBoxCloseConnection(&s);
    return rc;
}

inline uint64_t TreeBytes(const fs::path &root, size_t *files) {
    uint64_t bytes = 0;
    for (const auto &e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) {
            bytes += e.file_size();
            ++*files;
        }
    return bytes;
}

}  // namespace benchrestore
