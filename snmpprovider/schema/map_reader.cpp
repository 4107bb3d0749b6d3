#include "map_reader.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "vtplatform/text.hpp"

namespace kx9 {

const char *const kMapFileNames[5] = {"HRMap.txt", "PrintMap.txt", "TabsMap.txt", "TabsJMap.txt", "TabsNMap.txt"};

namespace {

struct WordCode {
    const char *word;
    int code;
};

constexpr WordCode kSyntaxWords[] = {
    {"integer", kSyntaxInteger},
    {"integer32", kSyntaxInteger},
    {"bits", kSyntaxBits},
    {"string", kSyntaxString},
    {"oid", kSyntaxOid},
    {"IpAddress", kSyntaxIpAddress},
    {"counter32", kSyntaxCounter32},
    {"counter", kSyntaxCounter32},
    {"gauge32", kSyntaxGauge32},
    {"gauge", kSyntaxGauge32},
    {"timeticks", kSyntaxTimeTicks},
    {"opaque", kSyntaxOpaque},
    {"counter64", kSyntaxCounter64},
    {"unsigned32", kSyntaxUnsigned32},
    {"DateAndTime", kSyntaxDateAndTime},
};
constexpr WordCode kAccessWords[] = {
    {"read-only", kAccessReadOnly},
    {"read-write", kAccessReadWrite},
    {"read-create", kAccessReadCreate},
    {"not-accessible", kAccessNotAccessible},
};
constexpr WordCode kKindWords[] = {
    {"dynamic", kKindDynamic}, {"static", kKindStatic}, {"fixed", kKindFixed},
    {"table", kKindTable},     {"row", kKindRow},       {"root-OID", kKindRoot},
};

template <size_t N>
int CodeOf(const WordCode (&table)[N], std::string_view word, int fallback) {
    for (const WordCode &w : table)
        if (vt::EqualsIgnoreCase(word, w.word)) return w.code;
    return fallback;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

bool IsBlank(std::string_view s) {
    for (char c : s)
        if (c != ' ' && c != '\t' && c != '\r') return false;
    return true;
}

// A strict signed decimal that fits 32 bits.
bool ParseInt32(std::string_view s, int32_t *out) {
    bool negative = !s.empty() && s.front() == '-';
    if (negative || (!s.empty() && s.front() == '+')) s.remove_prefix(1);
    if (s.empty() || s.size() > 10) return false;
    int64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (negative) v = -v;
    if (v < INT32_MIN || v > INT32_MAX) return false;
    *out = static_cast<int32_t>(v);
    return true;
}

// The leading decimal number of a field, as the lenient fields take it:
// nothing readable is 0, and a value beyond 32 bits is clamped.
int32_t LeadingNumber(std::string_view s) {
    bool negative = !s.empty() && s.front() == '-';
    if (negative || (!s.empty() && s.front() == '+')) s.remove_prefix(1);
    int64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') break;
        if (v <= INT32_MAX) v = v * 10 + (c - '0');
    }
    if (negative) v = -v;
    return static_cast<int32_t>(v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : v);
}

std::vector<std::string_view> SplitTabs(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        if (tab == std::string_view::npos) {
            fields.push_back(line.substr(start));
            return fields;
        }
        fields.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
}

// Quotes a field for a diagnostic, cut so that a long one stays readable.
std::string Quoted(std::string_view field) {
    constexpr size_t kShown = 40;
    std::string shown(field.substr(0, vt::Utf8PrefixLength(field, kShown)));
    return "\"" + shown + (field.size() > kShown ? "...\"" : "\"");
}

// Parses one entry line; false with the reason in *why.
bool ParseEntry(std::string_view line, MapEntry *e, std::string *why) {
    std::vector<std::string_view> f = SplitTabs(line);
    if (f.size() < static_cast<size_t>(kMapFields)) {
        *why = std::to_string(f.size()) + (f.size() == 1 ? " field" : " fields") +
               " where an entry needs at least 11 (name, number, OID, second OID, description, number 5, "
               "number 6, syntax, access, value, kind), separated by tabs";
        return false;
    }
    e->name = std::string(f[0]);
    std::string_view id = Trim(f[1]);
    if (!ParseInt32(id, &e->elementId)) {
        *why = "element number " + Quoted(id) + " is not a decimal number";
        return false;
    }
    if (e->elementId == 0) {
        *why = "element number 0 is not allowed";
        return false;
    }
    std::string_view oid = Trim(f[2]);
    if (oid.empty()) {
        *why = "the object identifier is empty";
        return false;
    }
    if (!ParseOid(oid, &e->oid)) {
        *why = "object identifier " + Quoted(oid) + " is malformed";
        return false;
    }
    std::string_view second = Trim(f[3]);
    if (!second.empty() && !ParseOid(second, &e->secondOid)) {
        *why = "second object identifier " + Quoted(second) + " is malformed";
        return false;
    }
    e->description = vt::Utf8ToUtf16(f[4]);
    e->number5 = LeadingNumber(Trim(f[5]));
    e->number6 = LeadingNumber(Trim(f[6]));
    e->syntax = CodeOf(kSyntaxWords, Trim(f[7]), kSyntaxUnset);
    e->access = CodeOf(kAccessWords, Trim(f[8]), kAccessNotAccessible);
    if (e->syntax == kSyntaxString && !f[9].empty()) e->value = std::string(f[9].substr(0, f[9].size() - 1));
    e->kind = CodeOf(kKindWords, Trim(f[10]), kKindRow);
    for (size_t i = 0; i < e->index.size() && 11 + i < f.size(); ++i) {
        int32_t n = LeadingNumber(Trim(f[11 + i]));
        e->index[i] = n != 0 ? n : kIndexNone;
    }
    return true;
}

std::string TooLarge(std::string_view name, const std::string &size) {
    return std::string(name) + ": " + size + "; a map has at most " + std::to_string(kMaxMapBytes) + " bytes (" +
           std::to_string(kMaxMapBytes >> 20) + " MiB)";
}

const char *KindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    return "no plain file";
}

}  // namespace

bool ParseOid(std::string_view text, OidParts *oid) {
    oid->clear();
    if (text.empty()) return false;
    size_t start = 0;
    for (;;) {
        size_t dot = text.find('.', start);
        std::string_view part =
            text.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
        if (part.empty() || part.size() > 10 || oid->size() == kMaxOidParts) return false;
        uint64_t v = 0;
        for (char c : part) {
            if (c < '0' || c > '9') return false;
            v = v * 10 + static_cast<uint64_t>(c - '0');
        }
        if (v > UINT32_MAX) return false;
        oid->push_back(static_cast<uint32_t>(v));
        if (dot == std::string_view::npos) return true;
        start = dot + 1;
    }
}

bool ReadMapText(std::string_view name, std::string_view text, Schema *schema, std::string *error) {
    if (text.size() > kMaxMapBytes) {
        *error = TooLarge(name, std::to_string(text.size()) + " bytes");
        return false;
    }
    size_t lineNo = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        std::string_view line = text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        pos = end == std::string_view::npos ? text.size() : end + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        auto fail = [&](const std::string &why) {
            *error = std::string(name) + " line " + std::to_string(lineNo) + ": " + why;
            return false;
        };
        if (line.size() > kMaxMapLine)
            return fail("the line has " + std::to_string(line.size()) + " characters; a map line has at most " +
                        std::to_string(kMaxMapLine));
        size_t dashes = line.find("--");
        if (dashes != std::string_view::npos && dashes < line.find('\t')) continue;  // comment
        if (IsBlank(line)) continue;
        MapEntry entry;
        std::string why;
        if (!ParseEntry(line, &entry, &why)) return fail(why);
        if (const MapEntry *first = schema->FindByElementId(entry.elementId))
            return fail("element number " + std::to_string(entry.elementId) + " is already defined by " + first->map +
                        " line " + std::to_string(first->line) + " (" + Quoted(first->name) + ")");
        if (schema->size() >= kMaxSchemaEntries)
            return fail("the maps define more than " + std::to_string(kMaxSchemaEntries) + " elements");
        entry.map = std::string(name);
        entry.line = lineNo;
        schema->Append(std::move(entry));
    }
    return true;
}

bool LoadMapFile(const std::string &path, Schema *schema, std::string *error) {
    // Non-blocking, so that opening a FIFO does not wait for a writer.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        *error = path + ": cannot be opened (" + std::strerror(errno) + ")";
        return false;
    }
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};
    struct stat st;
    if (fstat(fd, &st) != 0) {
        *error = path + ": cannot be examined (" + std::strerror(errno) + ")";
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = path + ": " + KindOf(st.st_mode) + ", not a regular file";
        return false;
    }
    if (static_cast<uint64_t>(st.st_size) > kMaxMapBytes) {
        *error = TooLarge(path, std::to_string(st.st_size) + " bytes");
        return false;
    }
    // One byte more than the bound tells a file that grew since fstat.
    std::string text(static_cast<size_t>(st.st_size) + 1, '\0');
    size_t have = 0;
    for (;;) {
        if (have == text.size()) {
            if (text.size() > kMaxMapBytes) {
                *error = TooLarge(path, "more than " + std::to_string(kMaxMapBytes) + " bytes");
                return false;
            }
            text.resize(std::min(kMaxMapBytes + 1, text.size() * 2));
        }
        ssize_t n = read(fd, text.data() + have, text.size() - have);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *error = path + ": read error (" + std::strerror(errno) + ")";
            return false;
        }
        if (n == 0) break;
        have += static_cast<size_t>(n);
    }
    text.resize(have);
    std::string base = path.substr(path.find_last_of('/') + 1);
    return ReadMapText(base, text, schema, error);
}

bool LoadMaps(const std::string &folder, Schema *schema, std::string *error) {
    for (const char *file : kMapFileNames)
        if (!LoadMapFile(folder + "/" + file, schema, error)) return false;
    return true;
}

}  // namespace kx9
