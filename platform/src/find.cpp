#include "vtplatform/find.hpp"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "vtplatform/errors.hpp"
#include "vtplatform/text.hpp"
#include "vtplatform/times.hpp"

namespace vt {

namespace {
char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool Match(std::string_view p, std::string_view n) {
    // Iterative wildcard match with one backtrack point.
    size_t pi = 0, ni = 0, star = std::string_view::npos, mark = 0;
    while (ni < n.size()) {
        if (pi < p.size() && (p[pi] == '?' || Fold(p[pi]) == Fold(n[ni]))) {
            ++pi;
            ++ni;
        } else if (pi < p.size() && p[pi] == '*') {
            star = pi++;
            mark = ni;
        } else if (star != std::string_view::npos) {
            pi = star + 1;
            ni = ++mark;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '*') ++pi;
    return pi == p.size();
}

struct Search {
    std::vector<FindData> entries;
    size_t next = 0;
};
}  // namespace

bool MatchesFindPattern(std::string_view pattern, std::string_view name) {
    // "*.*" keeps its old meaning of "every name", dot or not.
    if (pattern == "*" || pattern == "*.*") return true;
    // A trailing ".*" also matches names without an extension.
    if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*" && name.find('.') == std::string_view::npos &&
        Match(pattern.substr(0, pattern.size() - 2), name))
        return true;
    return Match(pattern, name);
}

bool DescribeFile(const std::string &path, FindData *out) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    std::memset(out, 0, sizeof *out);
    if (S_ISDIR(st.st_mode))
        out->dwFileAttributes = kAttrDirectory;
    else if (S_ISLNK(st.st_mode))
        out->dwFileAttributes = kAttrReparsePoint;
    else
        out->dwFileAttributes = kAttrArchive;
    if (!(st.st_mode & S_IWUSR)) out->dwFileAttributes |= kAttrReadOnly;
    UnixToFileTime(st.st_mtim.tv_sec, static_cast<uint32_t>(st.st_mtim.tv_nsec), &out->ftCreationTime);
    UnixToFileTime(st.st_atim.tv_sec, static_cast<uint32_t>(st.st_atim.tv_nsec), &out->ftLastAccessTime);
    UnixToFileTime(st.st_mtim.tv_sec, static_cast<uint32_t>(st.st_mtim.tv_nsec), &out->ftLastWriteTime);
    uint64_t size = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
    out->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    out->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
    size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.size() >= kMaxPath) {
        SetLastError(code(Code::PATH_TOO_LONG));
        return false;
    }
    CopyUtf8(out->cFileName, sizeof out->cFileName, name);
    return true;
}

bool ComesFirstInListing(std::string_view x, std::string_view y) {
    for (size_t i = 0; i < x.size() && i < y.size(); ++i)
        if (Fold(x[i]) != Fold(y[i])) return Fold(x[i]) < Fold(y[i]);
    if (x.size() != y.size()) return x.size() < y.size();
    return x < y;
}

HANDLE FindFirstFile(const char *pattern, FindData *first) {
    if (!pattern || !*pattern || !first) {
        SetLastError(code(Code::INVALID_PARAMETER));
        return nullptr;
    }
    std::string pat(pattern);
    std::string dir = ".", mask = pat;
    size_t slash = pat.rfind('/');
    if (slash != std::string::npos) {
        dir = slash == 0 ? "/" : pat.substr(0, slash);
        mask = pat.substr(slash + 1);
    }
    std::unique_ptr<DIR, int (*)(DIR *)> d(opendir(dir.c_str()), closedir);
    if (!d) {
        SetLastErrorFromErrno(errno);
        if (GetLastError() == code(Code::FILE_NOT_FOUND)) SetLastError(code(Code::PATH_NOT_FOUND));
        return nullptr;
    }
    auto search = std::make_unique<Search>();
    errno = 0;
    while (dirent *e = readdir(d.get())) {
        std::string_view name(e->d_name);
        if (!MatchesFindPattern(mask, name)) continue;
        FindData fd;
        std::string full = (dir == "/" ? std::string("/") : dir + "/") + std::string(name);
        if (!DescribeFile(full, &fd)) continue;  // vanished or unrepresentable
        search->entries.push_back(fd);
    }
    // The system's own file store lists names in case-folded order; keep
    // that, so that everything built from a listing comes out the same on
    // every run.
    std::sort(search->entries.begin(), search->entries.end(),
              [](const FindData &a, const FindData &b) { return ComesFirstInListing(a.cFileName, b.cFileName); });
    if (search->entries.empty()) {
        SetLastError(code(Code::FILE_NOT_FOUND));
        return nullptr;
    }
    *first = search->entries[0];
    search->next = 1;
    return search.release();
}

bool FindNextFile(HANDLE h, FindData *next) {
    auto *s = static_cast<Search *>(h);
    if (!s || !next) {
        SetLastError(code(Code::INVALID_HANDLE));
        return false;
    }
    if (s->next >= s->entries.size()) {
        SetLastError(code(Code::NO_MORE_FILES));
        return false;
    }
    *next = s->entries[s->next++];
    return true;
}

void FindClose(HANDLE h) { delete static_cast<Search *>(h); }

}  // namespace vt
