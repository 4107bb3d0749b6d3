#include "config.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>

#include "vtplatform/local_file.hpp"

namespace vtcli {

namespace {

// A configuration file is a few lines of settings; 64 KiB is hundreds of
// times any real one, and a larger file (or one that grows while it is
// read) is refused before it fills memory.
constexpr size_t kMaxConfigFileBytes = 64 * 1024;
// Only the first line of a password file is the password; the rest may be
// notes, but a file this size is no password file.
constexpr size_t kMaxPasswordFileBytes = 64 * 1024;
// A password command prints the password on its first line, and a password
// manager perhaps a few lines of notes after it; more than this is not a
// password, and a command that goes on printing (or never ends its line) is
// stopped instead of being read into memory and sent to the device.
constexpr size_t kMaxPasswordCommandBytes = 64 * 1024;
// How long a password command may take, unless VTBOX_PASSWORD_COMMAND_SECONDS
// says otherwise (1 to 3600): a password manager answers in a moment, and a
// command that hangs must not hold a job that nobody watches for ever (a
// timer whose run never ends never runs again).
constexpr unsigned kDefaultPasswordCommandSeconds = 30;
constexpr unsigned long kMaxPasswordCommandSeconds = 3600;
// How often the wait for the command looks for a Ctrl-C that is held back.
constexpr int kSignalLookMs = 50;

unsigned PasswordCommandSeconds() {
    if (const char *text = std::getenv("VTBOX_PASSWORD_COMMAND_SECONDS"); text && *text) {
        char *end = nullptr;
        errno = 0;
        const unsigned long v = std::strtoul(text, &end, 10);
        if (*end == '\0' && errno == 0 && v >= 1 && v <= kMaxPasswordCommandSeconds) return static_cast<unsigned>(v);
    }
    return kDefaultPasswordCommandSeconds;
}

// Whether Ctrl-C (or SIGTERM, SIGHUP) came while they are held.
bool StopSignalPending() {
    sigset_t pending;
    sigpending(&pending);
    return sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1 ||
           sigismember(&pending, SIGHUP) == 1;
}

std::string Trim(const std::string &s) {
    size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return {};
    size_t b = s.find_last_not_of(" \t\r\n");
    return s.substr(a, b - a + 1);
}

void StripLineEnd(std::string *s) {
    while (!s->empty() && (s->back() == '\n' || s->back() == '\r')) s->pop_back();
}

std::optional<std::string> Env(const char *name) {
    const char *v = std::getenv(name);
    if (!v) return std::nullopt;
    return std::string(v);
}

// "VTBOX_FTP_PORT" and "ftp_port" both become "ftp-port".
std::string KeyName(std::string key) {
    if (key.rfind("VTBOX_", 0) == 0) key = key.substr(6);
    for (char &c : key) {
        if (c == '_')
            c = '-';
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return key;
}

bool OthersMayRead(const struct stat &st) { return (st.st_mode & 077) != 0; }

std::string Mode(const struct stat &st) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%03o", st.st_mode & 0777);
    return buf;
}

bool Number(const std::string &where, const std::string &text, uint32_t min, uint32_t max, uint32_t *out,
            std::string *error) {
    char *end = nullptr;
    errno = 0;
    unsigned long v = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < min || v > max || text[0] == '-' || text[0] == '+') {
        *error = where + " must be a number from " + std::to_string(min) + " to " + std::to_string(max) + ", not \"" +
                 text + "\"";
        return false;
    }
    *out = static_cast<uint32_t>(v);
    return true;
}

bool ReadPasswordFile(const std::string &path, const std::string &namedBy, std::string *password, std::string *error) {
    std::string text, why;
    struct stat st {};
    if (!vt::ReadLocalFile(path, kMaxPasswordFileBytes, vt::LinkRule::Follow, &text, &why, &st)) {
        *error = "cannot read the password file " + path + " (" + namedBy + "): " + why;
        return false;
    }
    if (OthersMayRead(st)) {
        *error = "the password file " + path + " can be read by others (mode " + Mode(st) +
                 "); make it private with: chmod 600 " + path;
        return false;
    }
    *password = text.substr(0, text.find('\n'));
    StripLineEnd(password);
    if (password->empty()) {
        *error = "the password file " + path + " (" + namedBy + ") holds no password on its first line";
        return false;
    }
    return true;
}

// The password command's output: a pipe read until the command closes it,
// within the time limit and the byte bound.
enum class CommandEnd { Closed, TimedOut, TooMuch, Stopped, Broken };

CommandEnd ReadCommandOutput(int fd, std::chrono::seconds limit, std::string *text) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    char buf[4096];
    for (;;) {
        if (StopSignalPending()) return CommandEnd::Stopped;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return CommandEnd::TimedOut;
        // Short slices: a Ctrl-C held back meanwhile is seen within one.
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), kSignalLookMs)));
        if (ready < 0 && errno != EINTR) return CommandEnd::Broken;
        if (ready <= 0) continue;
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n < 0) return CommandEnd::Broken;
        if (n == 0) return CommandEnd::Closed;
        if (text->size() + static_cast<size_t>(n) > kMaxPasswordCommandBytes) return CommandEnd::TooMuch;
        text->append(buf, static_cast<size_t>(n));
    }
}

// Waits for the command to end; one that closed its output but runs on is
// stopped once the time limit has passed.
int WaitForCommand(pid_t pid, std::chrono::steady_clock::time_point deadline, bool *stopped) {
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return status;
        if (done < 0 && errno != EINTR) return -1;
        if (!*stopped && (std::chrono::steady_clock::now() >= deadline || StopSignalPending())) {
            kill(-pid, SIGKILL);
            *stopped = true;
        }
        if (*stopped) {
            while (waitpid(pid, &status, 0) < 0)
                if (errno != EINTR) return -1;
            return status;
        }
        usleep(kSignalLookMs * 1000);
    }
}

bool RunPasswordCommand(const std::string &command, const std::string &namedBy, std::string *password,
                        std::string *error) {
    const std::string failed = "the password command (" + namedBy + ") failed: ";
    const std::chrono::seconds limit(PasswordCommandSeconds());
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        *error = failed + "it cannot be started: " + std::strerror(errno);
        return false;
    }
    // Ctrl-C and the like are held while the command runs, so that the
    // command is stopped with vtbox and never left behind; they take effect
    // once it has ended.
    sigset_t stopSignals, before;
    sigemptyset(&stopSignals);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stopSignals, sig);
    pthread_sigmask(SIG_BLOCK, &stopSignals, &before);
    // Made before fork: the child only calls what is safe after it.
    char shell[] = "/bin/sh", name[] = "sh", dashC[] = "-c";
    std::string commandText = command;
    char *argv[] = {name, dashC, commandText.data(), nullptr};
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        // A group of its own: whatever the command starts ends with it.
        setpgid(0, 0);
        dup2(out[1], STDOUT_FILENO);
        signal(SIGPIPE, SIG_DFL);
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
        execv(shell, argv);
        _exit(127);
    }
    const int forkError = errno;
    close(out[1]);
    if (pid < 0) {
        close(out[0]);
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
        *error = failed + "it cannot be started: " + std::strerror(forkError);
        return false;
    }
    setpgid(pid, pid);  // also here, so that the kill below finds the group whichever runs first
    std::string text;
    const CommandEnd end = ReadCommandOutput(out[0], limit, &text);
    close(out[0]);
    bool stopped = false;
    if (end != CommandEnd::Closed) {
        kill(-pid, SIGKILL);
        stopped = true;
    }
    const int status = WaitForCommand(pid, deadline, &stopped);
    const bool stopSignal = StopSignalPending();
    pthread_sigmask(SIG_SETMASK, &before, nullptr);  // a held Ctrl-C ends vtbox here, as it would have at once
    if (end == CommandEnd::TimedOut || (end == CommandEnd::Closed && stopped && !stopSignal)) {
        *error = failed + "it gave no answer within " + std::to_string(limit.count()) +
                 " s and was stopped (VTBOX_PASSWORD_COMMAND_SECONDS sets the limit)";
        return false;
    }
    if (end == CommandEnd::TooMuch) {
        *error = failed + "it printed more than " + std::to_string(kMaxPasswordCommandBytes) +
                 " bytes and was stopped; a password is its first line";
        return false;
    }
    if (end == CommandEnd::Stopped || stopSignal) {
        *error = failed + "vtbox was asked to stop";
        return false;
    }
    if (end == CommandEnd::Broken || status == -1) {
        *error = failed + "its output cannot be read: " + std::strerror(errno);
        return false;
    }
    if (WIFSIGNALED(status)) {
        *error = failed + "it was killed by signal " + std::to_string(WTERMSIG(status)) + " (" +
                 strsignal(WTERMSIG(status)) + ")";
        return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        *error = failed + "it ended with exit code " + std::to_string(WEXITSTATUS(status));
        return false;
    }
    *password = text.substr(0, text.find('\n'));
    StripLineEnd(password);
    if (password->empty()) {
        *error = "the password command (" + namedBy + ") printed no password";
        return false;
    }
    return true;
}

bool Prompt(std::string *password, std::string *error) {
    int tty = open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (tty < 0) {
        *error = "no password: use --password-file, --password-command, VTBOX_PASSWORD or the configuration file";
        return false;
    }
    const char prompt[] = "Administrator password: ";
    (void)!write(tty, prompt, sizeof prompt - 1);
    termios old{};
    bool restore = tcgetattr(tty, &old) == 0;
    if (restore) {
        termios quiet = old;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        tcsetattr(tty, TCSAFLUSH, &quiet);
    }
    std::string line;
    char c;
    while (read(tty, &c, 1) == 1 && c != '\n') line += c;
    if (restore) tcsetattr(tty, TCSAFLUSH, &old);
    (void)!write(tty, "\n", 1);
    close(tty);
    StripLineEnd(&line);
    if (line.empty()) {
        *error = "no password given";
        return false;
    }
    *password = line;
    return true;
}

}  // namespace

bool LoadConfigFile(ConfigFile *file, std::string *error) {
    std::string user;
    // VTBOX_CONFIG names the file instead, or "none" for none: a fleet run
    // gives each device's vtbox every setting itself, and nothing of the
    // user's own file may change or fail it.
    struct stat st {};
    std::string path;
    if (const char *named = std::getenv("VTBOX_CONFIG"); named && *named) {
        if (std::strcmp(named, "none") == 0) return true;
        path = named;  // the file named, or a failure: never another one
    } else {
        if (const char *xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
            user = std::string(xdg) + "/vtbox/vtbox.conf";
        else if (const char *home = std::getenv("HOME"); home && *home)
            user = std::string(home) + "/.config/vtbox/vtbox.conf";
        for (const std::string &candidate : {user, std::string("/etc/vtbox/vtbox.conf")})
            if (!candidate.empty() && stat(candidate.c_str(), &st) == 0) {
                path = candidate;
                break;
            }
    }
    if (path.empty()) return true;
    std::string text, why;
    if (!vt::ReadLocalFile(path, kMaxConfigFileBytes, vt::LinkRule::Follow, &text, &why, &st)) {
        *error = "cannot read the configuration file " + path + ": " + why;
        return false;
    }
    std::istringstream in(text);
    static const char *known[] = {"host",     "port",          "ftp-port",        "timeout",
                                  "password", "password-file", "password-command"};
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        line = Trim(line);
        if (line.empty() || line[0] == '#') continue;
        size_t eq = line.find('=');
        std::string key = eq == std::string::npos ? std::string() : KeyName(Trim(line.substr(0, eq)));
        bool ok = false;
        for (const char *k : known) ok = ok || key == k;
        if (!ok) {
            *error = path + ":" + std::to_string(number) +
                     ": expected \"key = value\" with a key of host, port, "
                     "ftp-port, timeout, password, password-file or password-command";
            return false;
        }
        std::string value = Trim(line.substr(eq + 1));
        if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
            value = value.substr(1, value.size() - 2);
        file->values[key] = value;
    }
    if (file->values.count("password") && OthersMayRead(st)) {
        *error = "the configuration file " + path + " holds a password and can be read by others (mode " + Mode(st) +
                 "); make it private with: chmod 600 " + path;
        return false;
    }
    file->path = path;
    return true;
}

bool ResolveSettings(const Options &o, const ConfigFile &file, Settings *s, std::string *error) {
    auto pick = [&](const char *env, const char *key) -> std::optional<std::pair<std::string, std::string>> {
        if (auto v = Env(env)) return std::make_pair(*v, std::string(env));
        auto it = file.values.find(key);
        if (it != file.values.end()) return std::make_pair(it->second, file.path + ": " + key);
        return std::nullopt;
    };
    if (o.host)
        s->host = *o.host;
    else if (auto v = pick("VTBOX_HOST", "host"))
        s->host = v->first;
    if (o.port)
        s->port = *o.port;
    else if (auto v = pick("VTBOX_PORT", "port")) {
        if (!Number(v->second, v->first, 1, 65535, &s->port, error)) return false;
    }
    if (o.ftpPort)
        s->ftpPort = *o.ftpPort;
    else if (auto v = pick("VTBOX_FTP_PORT", "ftp-port")) {
        if (!Number(v->second, v->first, 1, 65535, &s->ftpPort, error)) return false;
    }
    if (o.timeout)
        s->timeout = *o.timeout;
    else if (auto v = pick("VTBOX_TIMEOUT", "timeout")) {
        if (!Number(v->second, v->first, 1, 3600, &s->timeout, error)) return false;
    }
    if (s->host.empty()) {
        *error = o.command + " needs the device: --host, VTBOX_HOST or host in the configuration file";
        return false;
    }
    return true;
}

bool ObtainPassword(const Options &o, const ConfigFile &file, std::string *password, std::string *error) {
    if (o.passwordFile) return ReadPasswordFile(*o.passwordFile, "--password-file", password, error);
    if (o.passwordCommand) return RunPasswordCommand(*o.passwordCommand, "--password-command", password, error);
    if (auto v = Env("VTBOX_PASSWORD")) {
        if (v->empty()) {
            *error = "VTBOX_PASSWORD is set but empty; unset it or set the password";
            return false;
        }
        *password = *v;
        return true;
    }
    if (auto v = Env("VTBOX_PASSWORD_FILE")) {
        if (v->empty()) {
            *error = "VTBOX_PASSWORD_FILE is set but empty";
            return false;
        }
        return ReadPasswordFile(*v, "VTBOX_PASSWORD_FILE", password, error);
    }
    if (auto v = Env("VTBOX_PASSWORD_COMMAND")) {
        if (v->empty()) {
            *error = "VTBOX_PASSWORD_COMMAND is set but empty";
            return false;
        }
        return RunPasswordCommand(*v, "VTBOX_PASSWORD_COMMAND", password, error);
    }
    auto value = [&](const char *key) -> const std::string * {
        auto it = file.values.find(key);
        return it == file.values.end() ? nullptr : &it->second;
    };
    if (const std::string *v = value("password")) {
        if (v->empty()) {
            *error = "the configuration file " + file.path + " gives an empty password";
            return false;
        }
        *password = *v;
        return true;
    }
    if (const std::string *v = value("password-file"))
        return ReadPasswordFile(*v, file.path + ": password-file", password, error);
    if (const std::string *v = value("password-command"))
        return RunPasswordCommand(*v, file.path + ": password-command", password, error);
    return Prompt(password, error);
}

}  // namespace vtcli
