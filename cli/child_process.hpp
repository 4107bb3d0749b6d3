// A program the fleet runs (a device's vtbox, a hook): started in a process
// group of its own with its standard output and error read through pipes,
// its environment given whole, and ended with it when the fleet dies.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vtcli {

// What the fleet keeps of a child's standard error: its end, for the reason
// of a failure that wrote no summary.
inline constexpr size_t kMaxChildErrorTail = 4096;

class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;
    ~ChildProcess();

    // Starts argv[0] (a path, or a name looked up in PATH) with exactly the
    // environment given ("NAME=value" each). deathSignal reaches the child
    // when the fleet's process ends first (SIGTERM lets a vtbox release its
    // device). False with the reason.
    bool Start(const std::vector<std::string> &argv, const std::vector<std::string> &env, int deathSignal,
               std::string *error);

    pid_t pid() const { return pid_; }
    int outFd() const { return out_; }
    int errFd() const { return err_; }

    // Reads what the pipes hold now. Complete lines of standard output go to
    // *lines; a line longer than kMaxJsonLineBytes is dropped.
    void ReadOutput(std::vector<std::string> *lines);
    void ReadErrors();
    const std::string &errorTail() const { return errTail_; }

    // To its whole process group.
    void Signal(int sig) const;

    // True once the child has ended (and is reaped); the pipes are read to
    // their end first.
    bool Reap(std::vector<std::string> *lines);
    bool ended() const { return ended_; }
    // Its exit code, or 128 + the signal that ended it.
    int exitCode() const { return exitCode_; }
    int endSignal() const { return endSignal_; }

private:
    void Close();

    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
    std::string outBuffer_, errTail_;
    bool dropping_ = false;  // inside a line too long to keep
    bool ended_ = false;
    int exitCode_ = 0, endSignal_ = 0;
};

}  // namespace vtcli
