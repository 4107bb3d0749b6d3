#include "output_name.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace vtcli {

namespace {

constexpr size_t kLeastDigits = 3, kMostDigits = 9;

std::string NumberText(uint64_t number) {
    char text[16];
    std::snprintf(text, sizeof text, "%03llu", static_cast<unsigned long long>(number));
    return text;
}

bool Taken(const std::string &path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// The run number for prefix + number + suffix, both already expanded: one
// after the highest of the folder, and not a name that exists; 0 when none
// is left.
uint64_t NextRunNumber(const std::string &prefix, const std::string &suffix) {
    namespace fs = std::filesystem;
    const size_t slash = prefix.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : prefix.substr(0, slash));
    const std::string stem = slash == std::string::npos ? prefix : prefix.substr(slash + 1);
    uint64_t next = 1;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= stem.size() + suffix.size() || name.compare(0, stem.size(), stem) != 0 ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        const std::string digits = name.substr(stem.size(), name.size() - stem.size() - suffix.size());
        if (digits.size() < kLeastDigits || digits.size() > kMostDigits ||
            !std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c) != 0; }))
            continue;
        next = std::max<uint64_t>(next, std::stoull(digits) + 1);
    }
    while (next <= kMaxRunNumber && Taken(prefix + NumberText(next) + suffix)) ++next;
    return next <= kMaxRunNumber ? next : 0;
}

std::string NoNumberLeft(const std::string &prefix, const std::string &suffix) {
    return "no run number is left for " + prefix + "%N" + suffix + ": " + NumberText(kMaxRunNumber) + " is the highest";
}

// Gives from the name to, unless to exists: 0, EEXIST, or another errno
// value (from then stays).
int MoveWithoutReplacing(const std::string &from, const std::string &to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system without the no-replace rename: a hard link is made only
    // where no name is, and the file's old name goes once it has the new one.
    if (::link(from.c_str(), to.c_str()) != 0) return errno;
    ::unlink(from.c_str());
    return 0;
}

}  // namespace

bool ExpandOutputName(const std::string &pattern, const std::tm &when, std::string *out, std::string *error,
                      RunNumber *number) {
    if (number) *number = RunNumber();
    std::string result;
    size_t numberAt = std::string::npos;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') {
            result += pattern[i];
            continue;
        }
        char field = i + 1 < pattern.size() ? pattern[++i] : '\0';
        int value = 0, width = 2;
        switch (field) {
        case '%': result += '%'; continue;
        case 'N':
            if (numberAt != std::string::npos) {
                *error = "the output name \"" + pattern + "\" holds %N twice; one run number is enough";
                return false;
            }
            numberAt = result.size();
            continue;
        case 'Y':
            value = when.tm_year + 1900;
            width = 4;
            break;
        case 'm': value = when.tm_mon + 1; break;
        case 'd': value = when.tm_mday; break;
        case 'H': value = when.tm_hour; break;
        case 'M': value = when.tm_min; break;
        case 'S': value = when.tm_sec; break;
        default:
            *error = "the output name \"" + pattern + "\" holds " +
                     (field ? std::string("%") + field : std::string("a lone % at its end")) +
                     "; the fields are %Y %m %d %H %M %S, %N for the run number, and %% for a percent sign";
            return false;
        }
        char text[16];
        std::snprintf(text, sizeof text, "%0*d", width, value);
        result += text;
    }
    if (numberAt == std::string::npos) {
        *out = result;
        return true;
    }
    const std::string prefix = result.substr(0, numberAt), suffix = result.substr(numberAt);
    if (suffix.find('/') != std::string::npos) {
        *error = "the output name \"" + pattern + "\" holds %N in a folder's name; it numbers the file";
        return false;
    }
    const uint64_t next = NextRunNumber(prefix, suffix);
    if (next == 0) {
        *error = NoNumberLeft(prefix, suffix);
        return false;
    }
    *out = prefix + NumberText(next) + suffix;
    if (number) *number = RunNumber{prefix, suffix, true};
    return true;
}

bool ExpandOutputNameNow(const std::string &pattern, std::string *out, std::string *error, RunNumber *number) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return ExpandOutputName(pattern, local, out, error, number);
}

bool TakeRunNumber(const std::string &finished, const RunNumber &number, std::string *placed, std::string *error) {
    uint64_t next = NextRunNumber(number.prefix, number.suffix);
    for (; next != 0 && next <= kMaxRunNumber; ++next) {
        const std::string name = number.prefix + NumberText(next) + number.suffix;
        const int rc = MoveWithoutReplacing(finished, name);
        if (rc == 0) {
            *placed = name;
            return true;
        }
        if (rc != EEXIST) {
            *error = "cannot put the backup in place as " + name + ": " + std::strerror(rc);
            return false;
        }
    }
    *error = NoNumberLeft(number.prefix, number.suffix);
    return false;
}

}  // namespace vtcli
