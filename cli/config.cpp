#include "config.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>

#include "bounded_file.hpp"

namespace vtcli {

namespace {

// A configuration file is a few lines of settings; 64 KiB is hundreds of
// times any real one, and a larger file (or one that grows while it is
// read) is refused before it fills memory.
constexpr size_t kMaxConfigFileBytes = 64 * 1024;
// Only the first line of a password file is the password; the rest may be
// notes, but a file this size is no password file.
constexpr size_t kMaxPasswordFileBytes = 64 * 1024;

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
    if (!vtjobs::ReadLocalFile(path, kMaxPasswordFileBytes, vtjobs::LinkRule::Follow, &text, &why, &st)) {
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

bool RunPasswordCommand(const std::string &command, const std::string &namedBy, std::string *password,
                        std::string *error) {
    std::fflush(nullptr);
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) {
        *error = "cannot run the password command (" + namedBy + "): " + std::strerror(errno);
        return false;
    }
    std::string text;
    char buf[512];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
        if (text.size() < 65536) text.append(buf, n);
    int status = pclose(pipe);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        *error = "the password command (" + namedBy + ") failed" +
                 (status != -1 && WIFEXITED(status) ? " with exit code " + std::to_string(WEXITSTATUS(status)) : "");
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
    if (const char *xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        user = std::string(xdg) + "/vtbox/vtbox.conf";
    else if (const char *home = std::getenv("HOME"); home && *home)
        user = std::string(home) + "/.config/vtbox/vtbox.conf";
    struct stat st {};
    std::string path;
    for (const std::string &candidate : {user, std::string("/etc/vtbox/vtbox.conf")})
        if (!candidate.empty() && stat(candidate.c_str(), &st) == 0) {
            path = candidate;
            break;
        }
    if (path.empty()) return true;
    std::string text, why;
    if (!vtjobs::ReadLocalFile(path, kMaxConfigFileBytes, vtjobs::LinkRule::Follow, &text, &why, &st)) {
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
