#include "job_record.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "state_folder.hpp"
#include "vtplatform/local_file.hpp"

namespace vtjobs {

namespace {

constexpr const char *kUtilityProgram = "VAULTRABackupRestore";
constexpr size_t kCommBytes = 15;
// A record is four short lines ("session 4294967295", "mode 1", "pid
// 4194304": 35 bytes, and "login " with at most 64 bytes: 106 in all); a
// longer file is none of ours.
constexpr size_t kMaxRecordBytes = 128;
// Linux numbers processes below 2^22.
constexpr unsigned long long kMaxPid = 4194304;

std::string Folder() {
    const std::string state = StateFolder();
    return state.empty() ? state : state + "/jobs";
}

std::string PathFor(const std::string &host, uint32_t port) {
    std::string folder = Folder();
    if (folder.empty()) return {};
    std::string name;
    for (char c : host) name += (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-') ? c : '_';
    return folder + "/" + name + "_" + std::to_string(port);
}

bool ParseNumber(const std::string &text, unsigned long long *value) {
    if (text.empty() || text.size() > 20 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    *value = std::strtoull(text.c_str(), nullptr, 10);
    return errno == 0;
}

}  // namespace

bool RecordableLogin(const std::string &login) {
    if (login.empty() || login.size() > kMaxRecordLoginBytes) return false;
    for (unsigned char c : login)
        if (!std::isalnum(c) && c != '.' && c != '_' && c != '-' && c != '@') return false;
    return true;
}

bool WriteJobRecord(const std::string &host, uint32_t port, const JobRecord &r) {
    std::string path = PathFor(host, port);
    if (path.empty() || !MakePrivateFolders(Folder())) return false;
    std::string part = path + ".part";
    // Made new: a .part that a killed writer left, or a link planted there,
    // is removed (the link itself, not what it points to) and never written
    // through.
    constexpr int kNew = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = open(part.c_str(), kNew, 0600);
    if (fd < 0 && errno == EEXIST && unlink(part.c_str()) == 0) fd = open(part.c_str(), kNew, 0600);
    if (fd < 0) return false;
    std::string text = "session " + std::to_string(r.sessionId) + "\nmode " + std::to_string(r.mode) + "\npid " +
                       std::to_string(r.pid) + "\n";
    if (RecordableLogin(r.login)) text += "login " + r.login + "\n";
    bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ok = close(fd) == 0 && ok;
    if (!ok || rename(part.c_str(), path.c_str()) != 0) {
        unlink(part.c_str());
        return false;
    }
    return true;
}

void RemoveJobRecord(const std::string &host, uint32_t port) {
    std::string path = PathFor(host, port);
    if (!path.empty()) unlink(path.c_str());
}

std::optional<JobRecord> ReadJobRecord(const std::string &host, uint32_t port) {
    std::string path = PathFor(host, port);
    if (path.empty()) return std::nullopt;
    // A FIFO, a link or anything but a record at the name is no record:
    // unlock and the login go on as when there is none, never waiting.
    std::string text, error;
    if (!vt::ReadLocalFile(path, kMaxRecordBytes, vt::LinkRule::Refuse, &text, &error)) return std::nullopt;
    std::istringstream lines(text);
    JobRecord r;
    std::string line;
    int seen = 0;
    // A value out of its range spoils the record; other keys are passed over.
    while (std::getline(lines, line)) {
        const size_t blank = line.find(' ');
        const std::string key = line.substr(0, blank);
        const std::string word = blank == std::string::npos ? std::string() : line.substr(blank + 1);
        unsigned long long value = 0;
        if (key == "login") {
            if (!RecordableLogin(word)) return std::nullopt;
            r.login = word;
            continue;
        }
        if (key != "session" && key != "mode" && key != "pid") continue;
        if (!ParseNumber(word, &value)) return std::nullopt;
        if (key == "session") {
            if (value == 0 || value > UINT32_MAX) return std::nullopt;
            r.sessionId = static_cast<uint32_t>(value), seen |= 1;
        } else if (key == "mode") {
            if (value > 1) return std::nullopt;
            r.mode = static_cast<uint32_t>(value), seen |= 2;
        } else {
            if (value > kMaxPid) return std::nullopt;
            r.pid = static_cast<int>(value), seen |= 4;
        }
    }
    if (seen != 7) return std::nullopt;
    return r;
}

std::optional<JobProgram> RunningJobProgram(int pid) {
    if (pid <= 0) return std::nullopt;
    if (kill(pid, 0) != 0 && errno == ESRCH) return std::nullopt;
    // A killed job that nobody has reaped yet (its parent killed too, and a
    // first process that does not reap, as in many containers) is a zombie:
    // it has ended, whatever its number and name still say.
    {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        if (stat && std::getline(stat, line)) {
            const size_t close = line.rfind(')');
            if (close != std::string::npos && close + 2 < line.size() &&
                (line[close + 2] == 'Z' || line[close + 2] == 'X'))
                return std::nullopt;
        }
    }
    // A number taken over by another program is no job of ours. The kernel
    // keeps the first 15 bytes of a program's name.
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    if (!comm || !std::getline(comm, name)) return JobProgram::Vtbox;
    if (name == "vtbox") return JobProgram::Vtbox;
    if (name == std::string(kUtilityProgram).substr(0, kCommBytes)) return JobProgram::Utility;
    return std::nullopt;
}

}  // namespace vtjobs
