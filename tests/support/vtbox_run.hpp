// Runs the vtbox program against a simulated device, as an administrator
// would, and checks what it leaves behind on the device.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim_device.hpp"
#include "spawn.hpp"

namespace vttest {

struct Result {
    int exitCode = -1;
    std::string out, err;
    double secondsAfterSignal = 0;  // from the first signal sent to the exit
    long peakKB = 0;                // the program's peak resident memory (its ru_maxrss)
};

// A signal sent at_ms after the start.
struct Signal {
    int at_ms;
    int number;
};

// Runs vtbox with the device's ports, the password in VTBOX_PASSWORD and env
// added to its environment, sending the signals on the way. during (when
// given) runs on this thread once the program has started, with its process
// id; file_size_limit is its RLIMIT_FSIZE in bytes.
inline Result Vtbox(SimDevice &sim, std::vector<std::string> args, const std::string &password,
                    const std::vector<Signal> &signals, const std::map<std::string, std::string> &env,
                    const std::function<void(pid_t)> &during = {}, rlim_t file_size_limit = RLIM_INFINITY) {
    vttest::TempDir io;
    std::string outPath = io / "out", errPath = io / "err";
    // Commands that take no device take no device options either.
    bool local = !args.empty() && (args[0] == "info" || args[0] == "verify" || args[0] == "ls" || args[0] == "find" ||
                                   args[0] == "extract");
    std::vector<std::string> full = {VTBOX_PROGRAM};
    if (!local)
        full.insert(full.end(), {"--host", "127.0.0.1", "--port", std::to_string(sim.device->HttpPort()), "--ftp-port",
                                 std::to_string(sim.device->FtpPort())});
    full.insert(full.end(), args.begin(), args.end());
    std::fflush(nullptr);  // the child must not write this process's buffered output again
    std::map<std::string, std::string> childEnv(env.begin(), env.end());
    childEnv.emplace("VTBOX_PASSWORD", password);
    pid_t pid = Spawn(full, childEnv, outPath, errPath, file_size_limit);
    using Clock = std::chrono::steady_clock;
    auto start = Clock::now();
    if (during) during(pid);
    Clock::time_point first_signal{};
    for (const auto &sig : signals) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(sig.at_ms));
        if (first_signal == Clock::time_point{}) first_signal = Clock::now();
        kill(pid, sig.number);
    }
    // A program that hangs is ended after two minutes, and the run fails.
    int status = 0;
    struct rusage usage {};
    bool ended = false;
    while (!ended && Clock::now() - start < std::chrono::seconds(120)) {
        ended = wait4(pid, &status, WNOHANG, &usage) == pid;
        if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ADD_FAILURE() << "vtbox still ran after 120 s";
    }
    Result r;
    if (!signals.empty()) r.secondsAfterSignal = std::chrono::duration<double>(Clock::now() - first_signal).count();
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.peakKB = usage.ru_maxrss;
    std::stringstream o, e;
    o << std::ifstream(outPath).rdbuf();
    e << std::ifstream(errPath).rdbuf();
    r.out = o.str();
    r.err = e.str();
    return r;
}

// Runs vtbox; interrupt_after_ms > 0 sends SIGINT then.
inline Result Vtbox(SimDevice &sim, std::vector<std::string> args, const std::string &password = "admin",
                    int interrupt_after_ms = 0) {
    std::vector<Signal> signals;
    if (interrupt_after_ms > 0) signals.push_back({interrupt_after_ms, SIGINT});
    return Vtbox(sim, std::move(args), password, signals, {});
}

}  // namespace vttest
