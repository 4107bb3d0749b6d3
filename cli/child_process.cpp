#include "child_process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "json_reader.hpp"

namespace vtcli {

namespace {

// One read takes at most this much: the loop comes back for the rest.
constexpr size_t kReadChunk = 64 * 1024;

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

}  // namespace

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !ended_) {
        Signal(SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    Close();
}

void ChildProcess::Close() {
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
    out_ = err_ = -1;
}

bool ChildProcess::Start(const std::vector<std::string> &argv, const std::vector<std::string> &env, int deathSignal,
                         std::string *error) {
    if (argv.empty()) {
        *error = "no program to run";
        return false;
    }
    // Everything the child needs is made before the fork: after it, only
    // calls that are safe in a child of a process with threads.
    std::vector<char *> args, envp;
    for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    for (const std::string &e : env) envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);
    std::string path;  // the program, looked up in the PATH given
    if (argv[0].find('/') == std::string::npos) {
        std::string search = "/usr/local/bin:/usr/bin:/bin";
        for (const std::string &e : env)
            if (e.rfind("PATH=", 0) == 0) search = e.substr(5);
        for (size_t at = 0; at <= search.size();) {
            size_t colon = search.find(':', at);
            if (colon == std::string::npos) colon = search.size();
            std::string candidate = search.substr(at, colon - at) + "/" + argv[0];
            if (colon > at && access(candidate.c_str(), X_OK) == 0) {
                path = candidate;
                break;
            }
            at = colon + 1;
        }
        if (path.empty()) {
            *error = argv[0] + " was not found in PATH";
            return false;
        }
    } else {
        path = argv[0];
    }
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        *error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return false;
    }
    if (pipe2(err, O_CLOEXEC) != 0) {
        *error = std::string("cannot make a pipe: ") + std::strerror(errno);
        close(out[0]);
        close(out[1]);
        return false;
    }
    const pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) {
        *error = std::string("cannot start a process: ") + std::strerror(errno);
        for (int fd : {out[0], out[1], err[0], err[1]}) close(fd);
        return false;
    }
    if (pid == 0) {
        // A group of its own: Ctrl-C at the terminal reaches the fleet
        // alone, which passes it on; a hook's children end with it.
        setpgid(0, 0);
        if (deathSignal) prctl(PR_SET_PDEATHSIG, deathSignal);
        if (getppid() != parent) _exit(127);  // the fleet died before the line above
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGCHLD}) signal(s, SIG_DFL);
        int devNull = open("/dev/null", O_RDONLY);
        if (devNull < 0 || dup2(devNull, 0) < 0 || dup2(out[1], 1) < 0 || dup2(err[1], 2) < 0) _exit(127);
        execve(path.c_str(), args.data(), envp.data());
        _exit(127);
    }
    setpgid(pid, pid);  // also here, so that a signal sent at once reaches the group
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
    SetNonBlocking(out_);
    SetNonBlocking(err_);
    pid_ = pid;
    return true;
}

void ChildProcess::ReadOutput(std::vector<std::string> *lines) {
    char buf[kReadChunk];
    while (out_ >= 0) {
        ssize_t n = read(out_, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) {  // the end: a last line without its line end counts too
                if (!dropping_ && !outBuffer_.empty()) lines->push_back(outBuffer_);
                outBuffer_.clear();
                close(out_);
                out_ = -1;
            }
            return;
        }
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] == '\n') {
                if (!dropping_) lines->push_back(outBuffer_);
                outBuffer_.clear();
                dropping_ = false;
            } else if (!dropping_) {
                outBuffer_ += buf[i];
                if (outBuffer_.size() > kMaxJsonLineBytes) {
                    outBuffer_.clear();
                    dropping_ = true;
                }
            }
        }
    }
}

void ChildProcess::ReadErrors() {
    char buf[kReadChunk];
    while (err_ >= 0) {
        ssize_t n = read(err_, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) {
                close(err_);
                err_ = -1;
            }
            return;
        }
        errTail_.append(buf, static_cast<size_t>(n));
        if (errTail_.size() > kMaxChildErrorTail) errTail_.erase(0, errTail_.size() - kMaxChildErrorTail);
    }
}

void ChildProcess::Signal(int sig) const {
    if (pid_ > 0 && !ended_) kill(-pid_, sig);
}

bool ChildProcess::Reap(std::vector<std::string> *lines) {
    if (ended_) return true;
    if (pid_ <= 0) return false;
    // Seen ended but not yet reaped: while it is a zombie its number, and so
    // its group's, cannot be taken by another process, and what it left
    // running in its group (a hook's children) is ended with it.
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid != pid_)
        return false;
    kill(-pid_, SIGKILL);
    int status = 0;
    if (waitpid(pid_, &status, 0) != pid_) return false;
    // The pipes may still hold its last lines (or be held open by a
    // grandchild it left: those are not waited for).
    ReadOutput(lines);
    ReadErrors();
    if (!dropping_ && !outBuffer_.empty()) lines->push_back(outBuffer_);
    outBuffer_.clear();
    ended_ = true;
    if (WIFEXITED(status)) {
        exitCode_ = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        endSignal_ = WTERMSIG(status);
        exitCode_ = 128 + endSignal_;
    }
    Close();
    return true;
}

}  // namespace vtcli
