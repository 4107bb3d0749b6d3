#include "job_history.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <thread>

#include "state_folder.hpp"
#include "vtplatform/local_file.hpp"
#include "vtplatform/text.hpp"

namespace vtjobs {

namespace {

constexpr const char *kFirstLine = "# vtbox job history: one job a line, oldest first\n";
constexpr size_t kFields = 11;
// The largest byte count told: more than any disk holds, and far from
// overflow when sizes are added up.
constexpr int64_t kMaxCount = int64_t{1} << 53;
// The latest start that is a time: the end of the year 9999.
constexpr int64_t kMaxStarted = 253402300799;
// A line's bound: every field at its bound with every byte escaped (four
// bytes each), and the short fields.
constexpr size_t kMaxLineBytes =
    4 * (kMaxHistoryFileBytes + kMaxHistoryDeviceBytes + kMaxHistoryReasonBytes) + 4 * 1000 + 200;

struct Words {
    const char *operation[2] = {"backup", "restore"};
    const char *outcome[5] = {"done", "failed", "cancelled", "partial", "not-released"};
    const char *program[3] = {"vtbox", "utility", "utility-schedule"};
};
constexpr Words kWords;

std::string Cut(const std::string &text, size_t max) { return text.substr(0, vt::Utf8PrefixLength(text, max)); }

void Escape(const std::string &text, std::string *out) {
    static const char kHex[] = "0123456789abcdef";
    for (unsigned char c : text) {
        if (c == '\\') {
            *out += "\\\\";
        } else if (c == '\t') {
            *out += "\\t";
        } else if (c == '\n') {
            *out += "\\n";
        } else if (c < 0x20 || c == 0x7f) {
            *out += "\\x";
            *out += kHex[c >> 4];
            *out += kHex[c & 15];
        } else {
            *out += static_cast<char>(c);
        }
    }
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool Unescape(const std::string &field, size_t max, std::string *out) {
    out->clear();
    for (size_t i = 0; i < field.size(); ++i) {
        char c = field[i];
        if (c == '\\') {
            if (++i == field.size()) return false;
            if (field[i] == '\\')
                c = '\\';
            else if (field[i] == 't')
                c = '\t';
            else if (field[i] == 'n')
                c = '\n';
            else if (field[i] == 'x' && i + 2 < field.size() && HexDigit(field[i + 1]) >= 0 &&
                     HexDigit(field[i + 2]) >= 0) {
                c = static_cast<char>(HexDigit(field[i + 1]) * 16 + HexDigit(field[i + 2]));
                i += 2;
            } else {
                return false;
            }
        }
        *out += c;
        if (out->size() > max) return false;
    }
    return true;
}

bool ParseCount(const std::string &text, int64_t max, int64_t *value) {
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    *value = std::strtoll(text.c_str(), nullptr, 10);
    return *value <= max;
}

// "-" for a count that is not known.
bool ParseOptionalCount(const std::string &text, int64_t max, int64_t *value) {
    if (text == "-") {
        *value = -1;
        return true;
    }
    return ParseCount(text, max, value);
}

template <size_t N, typename E>
bool ParseWord(const std::string &text, const char *const (&words)[N], E *value) {
    for (size_t i = 0; i < N; ++i)
        if (text == words[i]) {
            *value = static_cast<E>(i);
            return true;
        }
    return false;
}

bool ParseBoxes(const std::string &text, std::vector<uint32_t> *boxes) {
    if (text.empty()) return true;
    size_t at = 0;
    while (at <= text.size()) {
        const size_t comma = std::min(text.find(',', at), text.size());
        int64_t number = 0;
        if (!ParseCount(text.substr(at, comma - at), kMaxHistoryBoxNumber, &number) || number == 0) return false;
        if (boxes->size() >= kMaxHistoryBoxNumber) return false;
        boxes->push_back(static_cast<uint32_t>(number));
        at = comma + 1;
    }
    return true;
}

bool ParseSeconds(const std::string &text, double *seconds) {
    if (text.empty() || text.size() > 16 || text.find_first_not_of("0123456789.") != std::string::npos) return false;
    char *end = nullptr;
    *seconds = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(*seconds) && *seconds <= kMaxHistorySeconds;
}

// One line as it was written, or false for anything else. Fields after the
// last of ours (a later version's) are passed over.
bool ParseLine(const std::string &line, HistoryEntry *entry) {
    if (line.empty() || line.size() > kMaxLineBytes || line[0] == '#') return false;
    std::vector<std::string> fields;
    for (size_t at = 0;;) {
        const size_t tab = line.find('\t', at);
        fields.push_back(line.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
        if (tab == std::string::npos || fields.size() > kFields) break;
        at = tab + 1;
    }
    if (fields.size() < kFields) return false;
    HistoryEntry e;
    return ParseCount(fields[0], kMaxStarted, &e.started) && ParseWord(fields[1], kWords.operation, &e.operation) &&
           ParseWord(fields[2], kWords.outcome, &e.outcome) && ParseWord(fields[3], kWords.program, &e.program) &&
           Unescape(fields[4], kMaxHistoryDeviceBytes, &e.device) && ParseBoxes(fields[5], &e.boxes) &&
           Unescape(fields[6], kMaxHistoryFileBytes, &e.file) && ParseOptionalCount(fields[7], kMaxCount, &e.bytes) &&
           ParseOptionalCount(fields[8], kMaxCount, &e.documents) && ParseSeconds(fields[9], &e.seconds) &&
           Unescape(fields[10], kMaxHistoryReasonBytes, &e.reason) && (*entry = std::move(e), true);
}

std::string LineOf(const HistoryEntry &e) {
    std::string line = std::to_string(std::clamp<int64_t>(e.started, 0, kMaxStarted));
    line += '\t';
    line += kWords.operation[static_cast<size_t>(e.operation)];
    line += '\t';
    line += kWords.outcome[static_cast<size_t>(e.outcome)];
    line += '\t';
    line += kWords.program[static_cast<size_t>(e.program)];
    line += '\t';
    Escape(Cut(e.device, kMaxHistoryDeviceBytes), &line);
    line += '\t';
    std::string boxes;
    size_t count = 0;
    for (uint32_t box : e.boxes) {
        if (box == 0 || box > kMaxHistoryBoxNumber || ++count > kMaxHistoryBoxNumber) continue;
        boxes += (boxes.empty() ? "" : ",") + std::to_string(box);
    }
    line += boxes + '\t';
    Escape(Cut(e.file, kMaxHistoryFileBytes), &line);
    const auto count64 = [](int64_t n) { return n < 0 ? std::string("-") : std::to_string(std::min(n, kMaxCount)); };
    line += '\t' + count64(e.bytes) + '\t' + count64(e.documents) + '\t';
    char seconds[32];
    const double s = std::isfinite(e.seconds) ? std::clamp(e.seconds, 0.0, kMaxHistorySeconds) : 0.0;
    std::snprintf(seconds, sizeof seconds, "%.1f", s);
    line += seconds;
    line += '\t';
    Escape(Cut(e.reason, kMaxHistoryReasonBytes), &line);
    return line + '\n';
}

// The lines of the file that are jobs, oldest first; false when the file
// exists but cannot be read (a missing one has none).
bool ReadLines(const std::string &path, std::vector<std::string> *lines, std::string *problem) {
    struct stat st;
    std::string error;
    const int fd = vt::OpenLocalFile(path, vt::LinkRule::Refuse, &st, &error);
    if (fd < 0) {
        if (errno == ENOENT) return true;
        if (problem) *problem = path + ": " + error;
        return false;
    }
    // Only the newest part of a file grown past the bound (by hand, or by
    // another program): its first, cut line is passed over below.
    const off_t size = st.st_size;
    const off_t from = size > static_cast<off_t>(kMaxHistoryBytes) ? size - static_cast<off_t>(kMaxHistoryBytes) : 0;
    std::string text(static_cast<size_t>(size - from), '\0');
    size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = pread(fd, text.data() + got, text.size() - got, from + static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    text.resize(got);
    size_t at = 0;
    if (from > 0) {
        at = text.find('\n');
        at = at == std::string::npos ? text.size() : at + 1;
    }
    while (at < text.size()) {
        const size_t end = text.find('\n', at);
        if (end == std::string::npos) break;  // a line without its end was cut
        std::string line = text.substr(at, end - at);
        HistoryEntry entry;
        if (ParseLine(line, &entry)) lines->push_back(std::move(line));
        at = end + 1;
    }
    return true;
}

// Holds the lock file's lock for its life. The wait for it ends when the
// holder is stuck: kHistoryLockWaitMs with no append finished meanwhile (the
// history file replaced), however many writers go before this one.
class HistoryLock {
public:
    HistoryLock(const std::string &path, const std::string &history) {
        fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
        if (fd_ < 0) return;
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kHistoryLockWaitMs);
        std::string seen = Stamp(history);
        while (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR) break;
            const auto now = std::chrono::steady_clock::now();
            std::string stamp = Stamp(history);
            if (stamp != seen) {
                seen = std::move(stamp);
                until = now + std::chrono::milliseconds(kHistoryLockWaitMs);
            }
            if (now >= until) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~HistoryLock() {
        if (fd_ >= 0) close(fd_);
    }
    HistoryLock(const HistoryLock &) = delete;
    HistoryLock &operator=(const HistoryLock &) = delete;
    bool held() const { return fd_ >= 0; }

private:
    // Which file stands at path, and when it was written: changes with
    // every append that ends.
    static std::string Stamp(const std::string &path) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0) return {};
        return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" + std::to_string(st.st_mtim.tv_sec) +
               "." + std::to_string(st.st_mtim.tv_nsec);
    }

    int fd_ = -1;
};

bool Fail(std::string *error, const std::string &text) {
    if (error) *error = text;
    return false;
}

}  // namespace

std::string JobHistoryPath() {
    const std::string folder = StateFolder();
    return folder.empty() ? std::string() : folder + "/history";
}

bool AppendJobHistory(const HistoryEntry &entry, std::string *error) {
    const std::string folder = StateFolder();
    if (folder.empty()) return Fail(error, "no state folder (none of STATE_DIRECTORY, XDG_STATE_HOME and HOME is set)");
    if (!MakePrivateFolders(folder, error)) return false;
    const std::string path = folder + "/history";
    HistoryLock lock(path + ".lock", path);
    if (!lock.held()) return Fail(error, path + ".lock: another program holds the history, or it cannot be locked");

    std::vector<std::string> lines;
    std::string problem;
    if (!ReadLines(path, &lines, &problem)) return Fail(error, problem);
    lines.push_back(LineOf(entry));
    lines.back().pop_back();
    // The oldest make room; the newest job always stays (a line is far
    // below the file's bound).
    size_t bytes = std::strlen(kFirstLine);
    for (const std::string &line : lines) bytes += line.size() + 1;
    size_t first = 0;
    while (lines.size() - first > kMaxHistoryEntries || bytes > kMaxHistoryBytes) bytes -= lines[first++].size() + 1;
    std::string text = kFirstLine;
    for (size_t i = first; i < lines.size(); ++i) text += lines[i] + '\n';

    // Made new under the lock: a .part a killed writer left, or a link
    // planted there, is removed (the link itself) and never written through.
    const std::string part = path + ".part";
    constexpr int kNew = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = open(part.c_str(), kNew, 0600);
    if (fd < 0 && errno == EEXIST && unlink(part.c_str()) == 0) fd = open(part.c_str(), kNew, 0600);
    if (fd < 0) return Fail(error, part + ": " + std::strerror(errno));
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += static_cast<size_t>(n);
    }
    const int writeErrno = written == text.size() ? 0 : (errno != 0 ? errno : ENOSPC);
    bool ok = written == text.size() && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok || rename(part.c_str(), path.c_str()) != 0) {
        const std::string why = std::strerror(writeErrno != 0 ? writeErrno : errno);
        unlink(part.c_str());
        return Fail(error, path + ": " + why);
    }
    return true;
}

std::vector<HistoryEntry> ReadJobHistory(std::string *problem) {
    std::vector<HistoryEntry> entries;
    const std::string path = JobHistoryPath();
    if (path.empty()) return entries;
    std::vector<std::string> lines;
    if (!ReadLines(path, &lines, problem)) return entries;
    for (auto line = lines.rbegin(); line != lines.rend() && entries.size() < kMaxHistoryEntries; ++line) {
        HistoryEntry entry;
        if (ParseLine(*line, &entry)) entries.push_back(std::move(entry));
    }
    return entries;
}

std::vector<std::string> RecentBackupFiles(const std::vector<HistoryEntry> &entries, size_t max) {
    std::vector<std::string> files;
    std::set<std::string> seen;
    for (const HistoryEntry &e : entries) {
        if (files.size() >= max) break;
        if (e.operation != HistoryOperation::Backup || e.file.empty()) continue;
        if (e.outcome != HistoryOutcome::Done && e.outcome != HistoryOutcome::NotReleased) continue;
        if (!seen.insert(e.file).second) continue;
        struct stat st;
        if (stat(e.file.c_str(), &st) == 0 && S_ISREG(st.st_mode)) files.push_back(e.file);
    }
    return files;
}

const char *HistoryOutcomeWord(HistoryOutcome outcome) { return kWords.outcome[static_cast<size_t>(outcome)]; }

}  // namespace vtjobs
