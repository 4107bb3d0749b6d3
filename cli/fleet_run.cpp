#include "fleet_run.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>
#include <optional>

#include "child_process.hpp"
#include "device_release.hpp"
#include "exit_codes.hpp"
#include "fleet_metrics.hpp"
#include "fleet_state.hpp"
#include "job_record.hpp"
#include "json_output.hpp"
#include "json_reader.hpp"
#include "left_job.hpp"
#include "state_folder.hpp"

extern char **environ;

namespace vtcli::fleet {

namespace {

using Clock = std::chrono::steady_clock;

// How often the loop looks at the children when nothing else wakes it, and
// redraws the terminal's lines.
constexpr int kTickMs = 200;
// A job cancelled (its time limit, Ctrl-C) is given the release bound of
// vtbox (VTBOX_RELEASE_SECONDS, 60 s) and this much more to end on its own
// before it is killed: a job that cannot end must not hold the fleet for ever.
constexpr int kCancelGraceSeconds = 60;
// A hook past its time limit is sent SIGTERM, then SIGKILL this much later.
constexpr int kHookKillSeconds = 5;
// A reason is a line or two of vtbox's words; a child that writes more to
// its standard error is cut here in the report.
constexpr size_t kMaxReasonBytes = 600;
// The environment that a device's vtbox inherits: where files and temporary
// files go, the language, and vtbox's own tuning. Never a device setting
// (VTBOX_HOST, VTBOX_PASSWORD and the like): each device's come from the
// inventory alone.
constexpr const char *kInherited[] = {"PATH",
                                      "HOME",
                                      "USER",
                                      "LOGNAME",
                                      "LANG",
                                      "LANGUAGE",
                                      "TZ",
                                      "TMPDIR",
                                      "XDG_STATE_HOME",
                                      "STATE_DIRECTORY",
                                      "XDG_RUNTIME_DIR",
                                      "VTBOX_DEBUG",
                                      "VTBOX_CONVERSION_PATH",
                                      "VTBOX_MODULE_PATH",
                                      "VTBOX_NETWORK_TIMEOUT_MS",
                                      "VTBOX_PASSWORD_COMMAND_SECONDS",
                                      "VTBOX_REGISTRY_DIR",
                                      "VTBOX_RELEASE_SECONDS"};

std::vector<std::string> BaseEnvironment() {
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e) {
        std::string entry(*e);
        std::string name = entry.substr(0, entry.find('='));
        bool keep = name.rfind("LC_", 0) == 0;
        for (const char *k : kInherited) keep = keep || name == k;
        if (keep) env.push_back(entry);
    }
    env.push_back("VTBOX_CONFIG=none");
    return env;
}

std::string SecondsText(double seconds) {
    char buf[32];
    long s = std::lround(seconds);
    if (s < 60)
        std::snprintf(buf, sizeof buf, "%ld s", s);
    else if (s < 3600)
        std::snprintf(buf, sizeof buf, "%ld min %ld s", s / 60, s % 60);
    else
        std::snprintf(buf, sizeof buf, "%ld h %ld min", s / 3600, s / 60 % 60);
    return buf;
}

std::string SizeText(uint64_t bytes) {
    char buf[32];
    if (bytes < 1024 * 1024)
        std::snprintf(buf, sizeof buf, "%.1f KB", bytes / 1024.0);
    else if (bytes < 1024ull * 1024 * 1024)
        std::snprintf(buf, sizeof buf, "%.1f MB", bytes / 1048576.0);
    else
        std::snprintf(buf, sizeof buf, "%.2f GB", bytes / 1073741824.0);
    return buf;
}

std::string TimeText(std::time_t t) {
    if (t == 0) return "never";
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &tm);
    return buf;
}

std::string IsoTime(std::time_t t) {
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

// What vtbox said of its failure: its "vtbox: " lines (the failure, then
// the next step), else the summary's text and detail.
std::string ReasonOf(const std::string &errorTail, const JsonFields &summary, int exitCode, int endSignal) {
    std::string reason;
    size_t at = 0;
    while (at < errorTail.size()) {
        size_t end = errorTail.find('\n', at);
        if (end == std::string::npos) end = errorTail.size();
        std::string line = errorTail.substr(at, end - at);
        at = end + 1;
        if (line.rfind("vtbox: ", 0) != 0) continue;
        line = line.substr(7);
        // What vtbox says while it stops is no reason.
        if (line.rfind("cancelling;", 0) == 0) continue;
        reason += (reason.empty() ? "" : "; ") + line;
    }
    if (reason.empty()) {
        reason = summary.Text("text");
        std::string detail = summary.Text("detail");
        if (!detail.empty() && reason.find(detail) == std::string::npos)
            reason += (reason.empty() ? "" : " (") + detail + (reason.empty() ? "" : ")");
    }
    if (reason.empty())
        reason = endSignal ? "vtbox was ended by signal " + std::to_string(endSignal)
                           : "vtbox ended with exit code " + std::to_string(exitCode);
    for (char &c : reason)
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    if (reason.size() > kMaxReasonBytes) reason = reason.substr(0, kMaxReasonBytes) + "...";
    return reason;
}

// Replaces the argument list's %n, %h and %g by the device's name, host and group.
std::vector<std::string> Expand(const std::vector<std::string> &args, const DeviceConfig &d) {
    std::vector<std::string> out;
    for (const std::string &a : args) {
        std::string s;
        for (size_t i = 0; i < a.size(); ++i) {
            if (a[i] == '%' && i + 1 < a.size()) {
                char f = a[i + 1];
                if (f == 'n' || f == 'h' || f == 'g' || f == '%') {
                    s += f == 'n' ? d.name : f == 'h' ? d.host : f == 'g' ? d.group : "%";
                    ++i;
                    continue;
                }
            }
            s += a[i];
        }
        out.push_back(s);
    }
    return out;
}

enum class Step { Waiting, Unlock, Work, Prune, Hook, Ended };

struct Job {
    const DeviceConfig *device = nullptr;
    Step step = Step::Waiting;
    bool begun = false;
    Clock::time_point firstStart{}, attemptStart{}, notBefore{};
    uint32_t attempts = 0;
    std::unique_ptr<ChildProcess> child;
    // A cancel sent to the running child, and when it is killed if it has
    // not ended by then.
    bool cancelSent = false;
    bool timedOut = false;
    Clock::time_point killAt{}, hookDeadline{};
    bool hookTermSent = false;
    // The last status line of the child.
    std::string phase = "waiting";
    int percent = 0;
    double bytes = 0, childSeconds = 0;
    // The outcome.
    std::string outcome;
    int exitCode = 0;
    std::string reason, file;
    uint64_t size = 0;
    int64_t documents = -1;
    double seconds = 0;
    bool success = false;                                                // a good backup was written
    bool recorded = false;                                               // counted, and kept in the state
    std::vector<std::string> notes;                                      // prune and hooks that failed
    std::deque<std::pair<std::string, std::vector<std::string>>> hooks;  // still to run: which, argv
    std::string hookName;
};

class Display {
public:
    Display(bool json, const std::string &command)
        : json_(json), command_(command), live_(!json && isatty(STDERR_FILENO)) {}

    void Status(const Job &job, const std::string &line) {
        if (json_ && line.size() > 2 && line[0] == '{')
            PrintJsonLine("{\"device\":" + Quoted(job.device->name) + "," + line.substr(1));
    }
    void Event(const Job &job, const char *event, const std::string &text) {
        if (json_) {
            JsonObject o;
            o.Add("type", "device").Add("device", job.device->name).Add("event", event);
            if (std::strcmp(event, "end") == 0) {
                AddRow(o, job);
            } else {
                o.Add("attempt", job.attempts);
                if (!text.empty()) o.Add("text", text);
            }
            PrintJsonLine(o.str());
            return;
        }
        Clear();
        std::printf("%s: %s\n", job.device->name.c_str(), text.c_str());
        std::fflush(stdout);
    }
    // The terminal's lines: one per running device and a total.
    void Draw(const std::vector<Job> &jobs, double elapsed) {
        if (!live_) return;
        Clear();
        std::string out;
        uint32_t done = 0, failed = 0, waiting = 0;
        for (const Job &j : jobs) {
            if (j.step == Step::Ended) {
                ++done;
                if (!j.success || j.exitCode != 0) ++failed;
                continue;
            }
            if (j.step == Step::Waiting) {
                ++waiting;
                continue;
            }
            char line[256];
            double rate = j.childSeconds > 0 ? j.bytes / j.childSeconds / 1048576.0 : 0;
            std::snprintf(line, sizeof line, "  %-24.24s %-12.12s %3d%%  %6.1f MB/s\n", j.device->name.c_str(),
                          j.phase.c_str(), j.percent, rate);
            out += line;
            ++lines_;
        }
        char total[160];
        std::snprintf(total, sizeof total, "  %u done, %u failed, %u waiting, %s so far\n", done - failed, failed,
                      waiting, SecondsText(elapsed).c_str());
        out += total;
        ++lines_;
        std::fputs(out.c_str(), stderr);
        std::fflush(stderr);
    }
    void Clear() {
        if (!live_ || lines_ == 0) return;
        std::fprintf(stderr, "\033[%uA\033[J", lines_);
        lines_ = 0;
    }
    static void AddRow(JsonObject &o, const Job &j) {
        o.Add("outcome", j.outcome).Add("exitCode", j.exitCode).Add("reason", j.reason).Add("file", j.file);
        o.Add("size", j.size).Add("documents", j.documents).Add("seconds", j.seconds);
        o.AddRaw("notes", JsonArray([&] {
                     std::vector<std::string> quoted;
                     for (const std::string &n : j.notes) quoted.push_back(Quoted(n));
                     return quoted;
                 }()));
    }
    static std::string Quoted(const std::string &text) {
        JsonObject o;
        o.Add("v", text);
        std::string s = o.str();
        return s.substr(5, s.size() - 6);
    }

private:
    bool json_;
    std::string command_;
    bool live_;
    unsigned lines_ = 0;
};

// The one fleet run of an inventory at a time: a lock file beside its state
// file, holding the running one's process number.
class RunLock {
public:
    bool Take(const Inventory &inventory, int *holder, std::string *error) {
        const std::string path = LockPath(inventory);
        if (!vtjobs::MakePrivateFolders(path.substr(0, path.rfind('/')), error)) return false;
        fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            *error = "cannot open the run's lock file " + path + ": " + std::strerror(errno);
            return false;
        }
        if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            char buf[32] = "";
            ssize_t n = pread(fd_, buf, sizeof buf - 1, 0);
            *holder = n > 0 ? std::atoi(buf) : 0;
            *error = "another fleet run of " + inventory.path + " is under way" +
                     (*holder > 0 ? " (process " + std::to_string(*holder) + ")" : std::string());
            return false;
        }
        std::string pid = std::to_string(getpid()) + "\n";
        if (ftruncate(fd_, 0) != 0 || pwrite(fd_, pid.data(), pid.size(), 0) < 0) {
            // The lock holds without the number; only the message would lack it.
        }
        return true;
    }
    ~RunLock() {
        if (fd_ >= 0) close(fd_);
    }

private:
    int fd_ = -1;
};

class FleetRun {
public:
    FleetRun(const Inventory &inventory, const RunOptions &options, bool verifyRun)
        : inv_(inventory), opt_(options), verifyRun_(verifyRun),
          display_(options.json, verifyRun ? "fleet verify" : "fleet backup") {}

    int Run() {
        std::string error;
        std::vector<const DeviceConfig *> chosen;
        if (!ChooseDevices(inv_, opt_, &chosen, &error)) return Problem(error, kExitUsage);
        int holder = 0;
        RunLock lock;
        if (!lock.Take(inv_, &holder, &error)) return Problem(error, holder > 0 ? kExitDeviceBusy : kExitLocalDisk);
        std::string problem;
        state_ = LoadState(inv_, &problem);
        if (!problem.empty()) Warn(problem);
        jobsAtOnce_ = opt_.jobs ? opt_.jobs : inv_.run.jobs.value;
        if (jobsAtOnce_ == 0) jobsAtOnce_ = 1;
        metricsPath_ = !opt_.metrics.empty() ? opt_.metrics : inv_.run.metricsFile.value;
        for (const DeviceConfig *d : chosen) {
            Job j;
            j.device = d;
            jobs_.push_back(std::move(j));
        }
        env_ = BaseEnvironment();
        started_ = Clock::now();
        figures_.started = std::time(nullptr);
        figures_.devices = static_cast<uint32_t>(jobs_.size());
        WriteMetricsNow();
        if (!Loop(&error)) return Problem(error, kExitFailure);
        figures_.finished = true;
        figures_.seconds = Elapsed();
        if (!verifyRun_) {
            state_.run = {figures_.started, std::time(nullptr), figures_.devices, figures_.failed, figures_.seconds};
            std::string saveError;
            if (!SaveState(inv_, state_, &saveError)) Warn("the fleet's state file was not written: " + saveError);
        }
        WriteMetricsNow();
        Report();
        const int rc = stopSignal_ == SIGINT    ? int{kExitInterrupted}
                       : stopSignal_ == SIGTERM ? int{kExitTerminated}
                       : figures_.failed        ? int{kExitFleetFailed}
                                                : int{kExitDone};
        RunEndHook(rc);
        return rc;
    }

private:
    int Problem(const std::string &text, int rc) {
        std::fprintf(stderr, "vtbox: %s\n", text.c_str());
        if (opt_.json) {
            JsonObject o;
            o.Add("type", "summary")
                .Add("command", verifyRun_ ? "fleet verify" : "fleet backup")
                .Add("outcome", "failed")
                .Add("exitCode", rc)
                .Add("text", text);
            PrintJsonLine(o.str());
        }
        return rc;
    }
    void Warn(const std::string &text) {
        display_.Clear();
        std::fprintf(stderr, "vtbox: %s\n", text.c_str());
        if (opt_.json) {
            JsonObject o;
            o.Add("type", "warning").Add("text", text);
            PrintJsonLine(o.str());
        }
    }
    double Elapsed() const { return std::chrono::duration<double>(Clock::now() - started_).count(); }

    size_t Busy() const {
        size_t n = 0;
        for (const Job &j : jobs_) n += j.step != Step::Waiting && j.step != Step::Ended;
        return n;
    }

    bool Loop(std::string *error) {
        // SIGINT, SIGTERM and SIGHUP are read from a descriptor in the loop,
        // never handled in the middle of it.
        sigset_t stops;
        sigemptyset(&stops);
        for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, s);
        sigset_t old;
        sigprocmask(SIG_BLOCK, &stops, &old);
        int sfd = signalfd(-1, &stops, SFD_NONBLOCK | SFD_CLOEXEC);
        if (sfd < 0) {
            *error = std::string("cannot watch for signals: ") + std::strerror(errno);
            sigprocmask(SIG_SETMASK, &old, nullptr);
            return false;
        }
        while (std::any_of(jobs_.begin(), jobs_.end(), [](const Job &j) { return j.step != Step::Ended; })) {
            StartWaiting();
            std::vector<pollfd> fds{{sfd, POLLIN, 0}};
            for (Job &j : jobs_)
                if (j.child)
                    for (int fd : {j.child->outFd(), j.child->errFd()})
                        if (fd >= 0) fds.push_back({fd, POLLIN, 0});
            poll(fds.data(), fds.size(), kTickMs);
            signalfd_siginfo info{};
            while (read(sfd, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
                Stop(static_cast<int>(info.ssi_signo));
            for (Job &j : jobs_) Watch(j);
            display_.Draw(jobs_, Elapsed());
        }
        display_.Clear();
        close(sfd);
        sigprocmask(SIG_SETMASK, &old, nullptr);
        return true;
    }

    void StartWaiting() {
        if (stopSignal_) return;
        const auto now = Clock::now();
        for (Job &j : jobs_) {
            if (Busy() >= jobsAtOnce_) return;
            if (j.step != Step::Waiting || now < j.notBefore) continue;
            if (OutOfTime(j)) {
                j.reason = OutOfTimeText(j) + "; the last attempt: " + j.reason;
                End(j);
                continue;
            }
            StartAttempt(j);
        }
    }

    // The device's time (device-time-limit) runs from its first attempt,
    // through its retries.
    static bool OutOfTime(const Job &j) {
        return j.begun && Clock::now() - j.firstStart >= std::chrono::seconds(j.device->timeLimitSeconds.value);
    }
    static std::string OutOfTimeText(const Job &j) {
        return "not done within device-time-limit (" + FormatDuration(j.device->timeLimitSeconds.value) + ")";
    }

    // The device's vtbox arguments: its settings, all given here.
    std::vector<std::string> DeviceArgs(const DeviceConfig &d) const {
        std::vector<std::string> a = {opt_.program,
                                      "--host",
                                      d.host,
                                      "--port",
                                      std::to_string(d.port.value),
                                      "--ftp-port",
                                      std::to_string(d.ftpPort.value),
                                      "--timeout",
                                      std::to_string(d.timeoutSeconds.value)};
        if (!d.passwordFile.value.empty()) a.insert(a.end(), {"--password-file", d.passwordFile.value});
        if (!d.passwordCommand.value.empty()) a.insert(a.end(), {"--password-command", d.passwordCommand.value});
        return a;
    }
    std::vector<std::string> DeviceEnv(const DeviceConfig &d) const {
        std::vector<std::string> env = env_;
        if (!d.password.value.empty()) env.push_back("VTBOX_PASSWORD=" + d.password.value);
        return env;
    }

    bool Launch(Job &j, const std::vector<std::string> &argv, const std::vector<std::string> &env, int deathSignal,
                std::string *error) {
        j.child = std::make_unique<ChildProcess>();
        j.cancelSent = false;
        std::fflush(nullptr);
        if (!j.child->Start(argv, env, deathSignal, error)) {
            j.child.reset();
            return false;
        }
        return true;
    }
    void Failed(Job &j, int exitCode, const std::string &reason) {
        j.outcome = "failed";
        j.exitCode = exitCode;
        j.reason = reason;
    }

    void StartAttempt(Job &j) {
        const auto now = Clock::now();
        if (!j.begun) {
            j.begun = true;
            j.firstStart = now;
        }
        ++j.attempts;
        j.attemptStart = now;
        j.outcome.clear();
        j.reason.clear();
        j.exitCode = 0;
        const DeviceConfig &d = *j.device;
        if (!verifyRun_) {
            // What a killed run left on the device (its job record names a
            // process that is gone) is released first, as vtbox unlock does.
            std::optional<vtjobs::JobRecord> record = vtjobs::ReadJobRecord(d.host, d.port.value);
            if (record && vtjobs::JobHasEnded(*record)) {
                std::vector<std::string> argv = DeviceArgs(d);
                argv.push_back("unlock");
                j.step = Step::Unlock;
                j.phase = "unlock";
                display_.Event(j, "unlock", "releasing what an earlier job left on the device");
                std::string error;
                if (Launch(j, argv, DeviceEnv(d), SIGTERM, &error)) return;
                j.notes.push_back("releasing what an earlier job left: " + error);
            }
        }
        StartWork(j);
    }

    void StartWork(Job &j) {
        const DeviceConfig &d = *j.device;
        std::vector<std::string> argv;
        if (verifyRun_) {
            Success newest = SuccessFromFolder(d);
            if (newest.file.empty()) {
                j.outcome = "failed";
                j.exitCode = kExitNotFound;
                j.reason = "no backup in " + d.Folder();
                Settle(j);
                return;
            }
            j.file = newest.file;
            j.size = newest.size;
            argv = {opt_.program, "--json", "verify", newest.file};
        } else {
            std::string folder = d.Folder();
            if (mkdir(folder.c_str(), 0750) != 0 && errno != EEXIST) {
                j.outcome = "failed";
                j.exitCode = kExitLocalDisk;
                j.reason = "cannot make the device's folder " + folder + ": " + std::strerror(errno);
                Settle(j);
                return;
            }
            argv = DeviceArgs(d);
            argv.insert(argv.end(),
                        {"--json", "backup", "--boxes", d.boxes.value, "--output", folder + "/" + d.fileName.value});
            if (opt_.verify || d.verify.value) argv.push_back("--verify");
        }
        j.step = Step::Work;
        j.phase = verifyRun_ ? "verify" : "connect";
        j.percent = 0;
        display_.Event(j, "start",
                       verifyRun_ ? "verifying " + j.file
                                  : (j.attempts > 1 ? "attempt " + std::to_string(j.attempts) + ", " : std::string()) +
                                        "backing up " + d.host);
        std::string error;
        if (!Launch(j, argv, verifyRun_ ? env_ : DeviceEnv(d), SIGTERM, &error)) {
            Failed(j, kExitFailure, error);
            Settle(j);
        }
    }

    void Stop(int sig) {
        if (sig == SIGHUP) sig = SIGTERM;
        const bool second = stopSignal_ != 0;
        if (!second) stopSignal_ = sig;
        if (!second)
            Warn(std::string(sig == SIGINT ? "Ctrl-C" : "SIGTERM") +
                 ": no further device is started; the running ones are cancelled and release their devices");
        for (Job &j : jobs_) {
            if (j.step == Step::Waiting) {
                if (j.outcome.empty()) {
                    j.outcome = "cancelled";
                    j.exitCode = sig == SIGINT ? kExitInterrupted : kExitTerminated;
                    j.reason = j.begun ? "not tried again: the run was stopped" : "not started: the run was stopped";
                } else {
                    j.reason += "; not tried again: the run was stopped";
                }
                End(j);
            } else if ((j.step == Step::Work || j.step == Step::Unlock) && j.child) {
                // As Ctrl-C to vtbox: the first cancels the job, which
                // releases the device; a second gives up the release wait.
                j.child->Signal(SIGINT);
                if (!j.cancelSent) {
                    j.cancelSent = true;
                    j.killAt = Clock::now() + std::chrono::seconds(vtjobs::ReleaseSeconds() + kCancelGraceSeconds);
                }
            }
        }
    }

    void Watch(Job &j) {
        if (!j.child) return;
        std::vector<std::string> lines;
        j.child->ReadOutput(&lines);
        j.child->ReadErrors();
        const bool ended = j.child->Reap(&lines);
        for (const std::string &line : lines) Line(j, line);
        if (!ended) {
            const auto now = Clock::now();
            if (j.step == Step::Hook) {
                if (!j.hookTermSent && now >= j.hookDeadline) {
                    j.hookTermSent = true;
                    j.child->Signal(SIGTERM);
                    j.killAt = now + std::chrono::seconds(kHookKillSeconds);
                } else if (j.hookTermSent && now >= j.killAt) {
                    j.child->Signal(SIGKILL);
                }
                return;
            }
            if (!j.cancelSent && j.step == Step::Work && !verifyRun_ && OutOfTime(j)) {
                // Cancelled as Ctrl-C cancels vtbox: it releases the device.
                j.child->Signal(SIGINT);
                j.timedOut = true;
                j.cancelSent = true;
                j.killAt = now + std::chrono::seconds(vtjobs::ReleaseSeconds() + kCancelGraceSeconds);
            } else if (j.cancelSent && now >= j.killAt) {
                j.child->Signal(SIGKILL);
            }
            return;
        }
        Ended(j);
    }

    void Line(Job &j, const std::string &line) {
        JsonFields f;
        if (j.step != Step::Work || !ParseJsonObject(line, &f)) return;
        const std::string type = f.Text("type");
        if (type == "status") {
            j.phase = f.Text("phase");
            j.percent = static_cast<int>(f.Integer("percent"));
            j.bytes = f.Number("bytes");
            j.childSeconds = f.Number("secondsElapsed");
            display_.Status(j, line);
        } else if (type == "summary") {
            summary_[j.device->name] = f;
        }
    }

    void Ended(Job &j) {
        std::unique_ptr<ChildProcess> child = std::move(j.child);
        const int rc = child->exitCode();
        const std::string &name = j.device->name;
        JsonFields summary = summary_[name];
        summary_.erase(name);
        switch (j.step) {
        case Step::Unlock:
            if (rc != 0)
                j.notes.push_back("releasing what an earlier job left: " +
                                  ReasonOf(child->errorTail(), summary, rc, child->endSignal()));
            if (stopSignal_) {
                j.outcome = "cancelled";
                j.exitCode = rc ? rc : kExitInterrupted;
                j.reason = "the run was stopped";
                Settle(j);
            } else {
                StartWork(j);
            }
            return;
        case Step::Work: {
            j.exitCode = rc;
            j.seconds = std::chrono::duration<double>(Clock::now() - j.attemptStart).count();
            if (rc == 0 || rc == kExitNotReleased) {
                j.success = true;
                if (!verifyRun_) {
                    j.file = summary.Text("file");
                    j.size = static_cast<uint64_t>(std::max<int64_t>(0, summary.Integer("size")));
                    j.documents = summary.Integer("documents", -1);
                }
            }
            j.outcome = verifyRun_ ? (rc == 0 ? "verified" : "failed") : OutcomeOf(rc);
            if (rc != 0) j.reason = ReasonOf(child->errorTail(), summary, rc, child->endSignal());
            if (j.timedOut && rc != 0) {
                j.outcome = "failed";
                j.reason = OutOfTimeText(j) + ": " + j.reason;
            }
            // Unreachable or busy: tried again later, unless the run stops or
            // the time is up. A wrong password, a damaged reply or a full
            // disk would fail the same way again.
            const bool retry = !verifyRun_ && (rc == kExitUnreachable || rc == kExitDeviceBusy) &&
                               j.attempts <= j.device->retries.value && !stopSignal_ && !OutOfTime(j);
            if (retry) {
                j.step = Step::Waiting;
                j.phase = "retry wait";
                j.notBefore = Clock::now() + std::chrono::seconds(j.device->retryDelaySeconds.value);
                display_.Event(j, "retry",
                               "attempt " + std::to_string(j.attempts) + " failed (" + j.reason +
                                   "); trying again in " + FormatDuration(j.device->retryDelaySeconds.value));
                return;
            }
            if (j.success && !verifyRun_) {
                const DeviceConfig &d = *j.device;
                if (d.keepLast.value || d.keepDaily.value || d.keepWeekly.value || d.keepMonthly.value) {
                    std::vector<std::string> argv = {opt_.program, "prune", d.Folder()};
                    for (auto [flag, n] :
                         {std::pair{"--keep-last", d.keepLast.value}, std::pair{"--keep-daily", d.keepDaily.value},
                          std::pair{"--keep-weekly", d.keepWeekly.value},
                          std::pair{"--keep-monthly", d.keepMonthly.value}})
                        if (n) argv.insert(argv.end(), {flag, std::to_string(n)});
                    j.step = Step::Prune;
                    j.phase = "prune";
                    std::string error;
                    if (Launch(j, argv, env_, SIGTERM, &error)) return;
                    j.notes.push_back("pruning " + d.Folder() + " failed: " + error);
                }
            }
            Settle(j);
            return;
        }
        case Step::Prune:
            if (rc != 0)
                j.notes.push_back("pruning " + j.device->Folder() +
                                  " failed: " + ReasonOf(child->errorTail(), summary, rc, child->endSignal()));
            Settle(j);
            return;
        case Step::Hook:
            if (rc != 0) {
                std::string why = j.hookTermSent ? "was stopped after its time limit of " +
                                                       FormatDuration(j.device->hookTimeLimitSeconds.value)
                                  : child->endSignal() ? "was ended by signal " + std::to_string(child->endSignal())
                                                       : "failed with exit code " + std::to_string(rc);
                j.notes.push_back("hook " + j.hookName + " " + why);
                Warn(name + ": hook " + j.hookName + " " + why);
            }
            NextHook(j);
            return;
        default: return;
        }
    }

    // The device's outcome is known: into the state, the metrics and the
    // display, then its hooks.
    void Settle(Job &j) {
        Record(j);
        const DeviceConfig &d = *j.device;
        if (!verifyRun_) {
            const bool good = j.success && j.exitCode == 0;
            auto add = [&](const char *which, const Setting<std::vector<std::string>> &hook) {
                if (!hook.value.empty()) j.hooks.emplace_back(which, Expand(hook.value, d));
            };
            add(good ? "on-success" : "on-failure", good ? d.onSuccess : d.onFailure);
            add("on-finish", d.onFinish);
        }
        NextHook(j);
    }

    // Counted once; kept in the state when the device was tried at all.
    void Record(Job &j) {
        if (j.recorded) return;
        j.recorded = true;
        ++figures_.done;
        if (!(j.success && j.exitCode == 0)) ++figures_.failed;
        figures_.seconds = Elapsed();
        if (!j.begun) return;
        const std::time_t now = std::time(nullptr);
        DeviceState &s = state_.devices[j.device->name];
        Attempt a;
        a.time = now;
        a.outcome = j.outcome;
        a.exitCode = j.exitCode;
        a.reason = j.reason;
        a.seconds = j.seconds;
        if (verifyRun_) {
            s.verify = a;
        } else {
            s.last = a;
            if (j.success) {
                s.success.time = now;
                s.success.file = j.file;
                s.success.size = j.size;
                s.success.documents = j.documents;
                s.success.seconds = j.seconds;
            }
        }
        std::string error;
        if (!SaveState(inv_, state_, &error)) {
            j.notes.push_back("the state file was not written: " + error);
            Warn("the fleet's state file was not written: " + error);
        }
        WriteMetricsNow();
    }

    void NextHook(Job &j) {
        while (!j.hooks.empty()) {
            auto [which, argv] = j.hooks.front();
            j.hooks.pop_front();
            std::vector<std::string> env = env_;
            const DeviceConfig &d = *j.device;
            for (const std::string &e :
                 {"VTBOX_DEVICE=" + d.name, "VTBOX_HOST=" + d.host, "VTBOX_GROUP=" + d.group,
                  "VTBOX_OUTCOME=" + j.outcome, "VTBOX_EXIT_CODE=" + std::to_string(j.exitCode),
                  "VTBOX_FILE=" + (j.success ? j.file : std::string()),
                  "VTBOX_SIZE=" + (j.success ? std::to_string(j.size) : std::string()), "VTBOX_REASON=" + j.reason})
                env.push_back(e);
            j.step = Step::Hook;
            j.phase = which;
            j.hookName = which;
            j.hookTermSent = false;
            j.hookDeadline = Clock::now() + std::chrono::seconds(d.hookTimeLimitSeconds.value);
            // A hook is not ended with the fleet: a mail half sent is worse.
            std::string error;
            if (Launch(j, argv, env, 0, &error)) return;
            j.notes.push_back("hook " + which + " could not start: " + error);
            Warn(d.name + ": hook " + which + " could not start: " + error);
        }
        End(j);
    }

    void End(Job &j) {
        const bool fresh = j.step != Step::Ended;
        if (!j.recorded) Record(j);
        j.step = Step::Ended;
        j.phase = "ended";
        if (!fresh) return;
        std::string text = j.outcome;
        if (j.success && !verifyRun_)
            text += ": " + j.file + ", " + SizeText(j.size) +
                    (j.documents >= 0 ? ", " + std::to_string(j.documents) + " documents" : std::string()) + ", " +
                    SecondsText(j.seconds);
        else if (j.success)
            text += ": " + j.file;
        if (!j.reason.empty()) text += ": " + j.reason;
        for (const std::string &n : j.notes) text += "; " + n;
        display_.Event(j, "end", text);
    }

    void WriteMetricsNow() {
        if (metricsPath_.empty()) return;
        figures_.seconds = Elapsed();
        std::string error;
        if (!WriteMetrics(metricsPath_, MetricsText(inv_, state_, verifyRun_ ? nullptr : &figures_), &error) &&
            !metricsWarned_) {
            metricsWarned_ = true;
            Warn("the metrics file " + metricsPath_ + " was not written: " + error);
        }
    }

    void Report() {
        std::vector<const Job *> rows;
        for (const Job &j : jobs_) rows.push_back(&j);
        std::stable_sort(rows.begin(), rows.end(), [](const Job *a, const Job *b) {
            return (!(a->success && a->exitCode == 0)) > (!(b->success && b->exitCode == 0));
        });
        const std::string command = verifyRun_ ? "fleet verify" : "fleet backup";
        if (opt_.json) {
            std::vector<std::string> items;
            for (const Job *j : rows) {
                JsonObject o;
                o.Add("device", j->device->name).Add("group", j->device->group).Add("host", j->device->host);
                Display::AddRow(o, *j);
                items.push_back(o.str());
            }
            JsonObject s;
            const int rc = stopSignal_ == SIGINT    ? int{kExitInterrupted}
                           : stopSignal_ == SIGTERM ? int{kExitTerminated}
                           : figures_.failed        ? int{kExitFleetFailed}
                                                    : int{kExitDone};
            s.Add("type", "summary")
                .Add("command", command)
                .Add("outcome", stopSignal_       ? "cancelled"
                                : figures_.failed ? "failed"
                                                  : "done")
                .Add("exitCode", rc)
                .Add("inventory", inv_.path)
                .Add("devices", figures_.devices)
                .Add("succeeded", figures_.devices - figures_.failed)
                .Add("failed", figures_.failed)
                .Add("seconds", Elapsed())
                .AddRaw("rows", JsonArray(items));
            PrintJsonLine(s.str());
            return;
        }
        std::printf("\n%s of %s: %u of %u devices %s, %u failed, in %s\n", command.c_str(), inv_.path.c_str(),
                    figures_.devices - figures_.failed, figures_.devices, verifyRun_ ? "verified" : "backed up",
                    figures_.failed, SecondsText(Elapsed()).c_str());
        std::printf("%-24s %-12s %9s %9s %10s  %s\n", "DEVICE", "OUTCOME", "SIZE", "DOCUMENTS", "TIME",
                    "FILE OR REASON");
        for (const Job *j : rows) {
            const bool good = j->success && j->exitCode == 0;
            std::string what = j->success ? j->file : std::string();
            if (!j->reason.empty()) what += (what.empty() ? "" : ": ") + j->reason;
            for (const std::string &n : j->notes) what += "; " + n;
            std::printf("%-24s %-12s %9s %9s %10s  %s\n", j->device->name.c_str(), j->outcome.c_str(),
                        j->success ? SizeText(j->size).c_str() : "-",
                        j->documents >= 0 ? std::to_string(j->documents).c_str() : "-",
                        j->begun ? SecondsText(j->seconds).c_str() : "-", what.c_str());
            (void)good;
        }
        std::fflush(stdout);
    }

    void RunEndHook(int rc) {
        const auto &hook = inv_.run.onRunEnd;
        if (hook.value.empty()) return;
        std::vector<std::string> env = env_;
        env.push_back("VTBOX_DEVICES=" + std::to_string(figures_.devices));
        env.push_back("VTBOX_FAILED=" + std::to_string(figures_.failed));
        env.push_back(std::string("VTBOX_OUTCOME=") + (rc == 0 ? "done" : stopSignal_ ? "cancelled" : "failed"));
        env.push_back("VTBOX_EXIT_CODE=" + std::to_string(rc));
        ChildProcess child;
        std::string error;
        std::fflush(nullptr);
        if (!child.Start(hook.value, env, 0, &error)) {
            Warn("hook on-run-end could not start: " + error);
            return;
        }
        const auto deadline = Clock::now() + std::chrono::seconds(inv_.run.hookTimeLimitSeconds.value);
        bool termSent = false;
        std::vector<std::string> lines;
        while (!child.Reap(&lines)) {
            lines.clear();
            child.ReadOutput(&lines);
            child.ReadErrors();
            if (!termSent && Clock::now() >= deadline) {
                termSent = true;
                child.Signal(SIGTERM);
            } else if (termSent && Clock::now() >= deadline + std::chrono::seconds(kHookKillSeconds)) {
                child.Signal(SIGKILL);
            }
            std::vector<pollfd> fds;
            for (int fd : {child.outFd(), child.errFd()})
                if (fd >= 0) fds.push_back({fd, POLLIN, 0});
            poll(fds.data(), fds.size(), kTickMs);
        }
        if (child.exitCode() != 0)
            Warn(termSent ? "hook on-run-end was stopped after its time limit of " +
                                FormatDuration(inv_.run.hookTimeLimitSeconds.value)
                          : "hook on-run-end failed with exit code " + std::to_string(child.exitCode()));
    }

    const Inventory &inv_;
    const RunOptions &opt_;
    const bool verifyRun_;
    Display display_;
    std::vector<Job> jobs_;
    std::vector<std::string> env_;
    FleetState state_;
    RunFigures figures_;
    std::map<std::string, JsonFields> summary_;
    std::string metricsPath_;
    bool metricsWarned_ = false;
    uint32_t jobsAtOnce_ = 1;
    int stopSignal_ = 0;
    Clock::time_point started_;
};

}  // namespace

bool ChooseDevices(const Inventory &inventory, const RunOptions &options, std::vector<const DeviceConfig *> *chosen,
                   std::string *error) {
    for (const std::string &g : options.groups)
        if (std::find(inventory.groups.begin(), inventory.groups.end(), g) == inventory.groups.end()) {
            *error = inventory.path + " has no group \"" + g + "\"";
            return false;
        }
    for (const std::string &n : options.devices) {
        auto it = std::find_if(inventory.devices.begin(), inventory.devices.end(),
                               [&](const DeviceConfig &d) { return d.name == n; });
        if (it == inventory.devices.end()) {
            *error = inventory.path + " has no device \"" + n + "\"";
            return false;
        }
        if (!it->enabled.value) {
            *error = "the device \"" + n + "\" is disabled in " + inventory.path + " (enabled = false)";
            return false;
        }
    }
    const bool all = options.groups.empty() && options.devices.empty();
    for (const DeviceConfig &d : inventory.devices) {
        if (!d.enabled.value) continue;
        const bool named = std::find(options.devices.begin(), options.devices.end(), d.name) != options.devices.end();
        const bool grouped = std::find(options.groups.begin(), options.groups.end(), d.group) != options.groups.end();
        if (all || named || grouped) chosen->push_back(&d);
    }
    return true;
}

int RunFleetBackup(const Inventory &inventory, const RunOptions &options) {
    return FleetRun(inventory, options, false).Run();
}

int RunFleetVerify(const Inventory &inventory, const RunOptions &options) {
    return FleetRun(inventory, options, true).Run();
}

int RunFleetStatus(const Inventory &inventory, bool json) {
    std::string problem;
    FleetState state = LoadState(inventory, &problem);
    if (!problem.empty()) std::fprintf(stderr, "vtbox: %s\n", problem.c_str());
    const std::time_t now = std::time(nullptr);
    uint32_t stale = 0, enabled = 0;
    std::vector<std::string> items;
    if (!json)
        std::printf("%-24s %-6s %-16s %10s %-12s  %s\n", "DEVICE", "STALE", "LAST SUCCESS", "AGE", "LAST OUTCOME",
                    "NEWEST FILE OR REASON");
    for (const DeviceConfig &d : inventory.devices) {
        const DeviceState s = state.devices.count(d.name) ? state.devices.at(d.name) : DeviceState{};
        const bool isStale = d.enabled.value && IsStale(d, s, now);
        enabled += d.enabled.value;
        stale += isStale;
        const Success newest = SuccessFromFolder(d);
        const double age = s.success.time ? std::difftime(now, s.success.time) : -1;
        if (json) {
            JsonObject o;
            o.Add("type", "device").Add("device", d.name).Add("group", d.group).Add("host", d.host);
            o.Add("enabled", d.enabled.value).Add("stale", isStale);
            if (s.success.time) {
                o.Add("lastSuccess", IsoTime(s.success.time)).Add("ageSeconds", static_cast<int64_t>(age));
                o.Add("lastSuccessFile", s.success.file);
            } else {
                o.AddNull("lastSuccess").AddNull("ageSeconds");
            }
            o.Add("staleAfterSeconds", d.staleAfterSeconds.value);
            o.Add("lastOutcome", s.last.outcome).Add("lastExitCode", s.last.exitCode).Add("lastReason", s.last.reason);
            if (s.last.time)
                o.Add("lastAttempt", IsoTime(s.last.time));
            else
                o.AddNull("lastAttempt");
            o.Add("newestFile", newest.file);
            PrintJsonLine(o.str());
            continue;
        }
        std::string what = newest.file.empty() ? std::string("(no backup file)") : newest.file;
        if (!s.last.reason.empty() && s.last.exitCode != 0) what += ": " + s.last.reason;
        std::printf("%-24s %-6s %-16s %10s %-12s  %s\n", d.name.c_str(),
                    !d.enabled.value ? "off"
                    : isStale        ? "STALE"
                                     : "no",
                    TimeText(s.success.time).c_str(),
                    age >= 0 ? FormatDuration(static_cast<uint64_t>(age)).c_str() : "-",
                    s.last.outcome.empty() ? "-" : s.last.outcome.c_str(), what.c_str());
    }
    const int rc = stale ? kExitFleetStale : kExitDone;
    if (json) {
        JsonObject o;
        o.Add("type", "summary")
            .Add("command", "fleet status")
            .Add("outcome", stale ? "stale" : "done")
            .Add("exitCode", rc)
            .Add("inventory", inventory.path)
            .Add("devices", enabled)
            .Add("stale", stale);
        PrintJsonLine(o.str());
    } else {
        std::printf("%u of %u enabled devices stale\n", stale, enabled);
    }
    return rc;
}

}  // namespace vtcli::fleet
