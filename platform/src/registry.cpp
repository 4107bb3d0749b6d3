// The file-backed registry store. Each root is one text file:
//
//   [Software\Vendor\Program]
//   "Name"=sz:"text, with \" \\ \n \r \t escaped"
//   "Count"=dword:0000000a
//
// Every call reads the file under a shared lock; every change reads, edits,
// writes a temporary file and renames it over the old one, all under an
// exclusive lock on a separate lock file, so concurrent writers lose nothing.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "vtplatform/errors.hpp"
#include "vtplatform/local_file.hpp"
#include "vtregistry.h"

namespace {

enum class Root { ClassesRoot, CurrentUser };

struct Value {
    std::string name;  // as first written
    DWORD type = REG_SZ;
    std::string text;  // REG_SZ
    DWORD number = 0;  // REG_DWORD
};

struct Key {
    std::string path;                     // as first written
    std::map<std::string, Value> values;  // by lower-case name
};

// Keys by lower-case path; the empty path is the root itself.
using Hive = std::map<std::string, Key>;

struct OpenKey {
    Root root;
    std::string path;
};

constexpr LONG kOk = 0;
constexpr LONG kNotFound = 2;
constexpr LONG kInvalid = 87;
constexpr LONG kMoreData = 234;
constexpr LONG kNoMoreItems = 259;
// A store or lock file that is not a regular file, or a store larger than
// any store written here: the store is refused rather than read.
constexpr LONG kInvalidData = 13;
// The largest store read: a store holds a few keys of settings and records of
// a few hundred bytes; 4 MiB is thousands of times that, and a file beyond it
// is no store of ours.
constexpr size_t kMaxStoreBytes = 4 << 20;

std::string Lower(std::string s) {
    for (char &c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// Normalises a key path: backslash-separated, no empty parts.
std::optional<std::string> NormalisePath(const std::string &base, const char *sub) {
    std::string joined = base;
    if (sub && *sub) {
        if (!joined.empty()) joined += '\\';
        joined += sub;
    }
    std::string out;
    size_t i = 0;
    while (i <= joined.size()) {
        size_t j = joined.find('\\', i);
        if (j == std::string::npos) j = joined.size();
        std::string part = joined.substr(i, j - i);
        if (!part.empty()) {
            if (part.find_first_of("\n\r[]") != std::string::npos) return std::nullopt;
            if (!out.empty()) out += '\\';
            out += part;
        }
        i = j + 1;
    }
    return out;
}

std::string Directory() {
    if (const char *d = std::getenv("VTBOX_REGISTRY_DIR"); d && *d) return d;
    if (const char *x = std::getenv("XDG_CONFIG_HOME"); x && *x) return std::string(x) + "/vtbox/registry";
    const char *home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.config/vtbox/registry";
}

const char *RootName(Root r) { return r == Root::ClassesRoot ? "HKEY_CLASSES_ROOT" : "HKEY_CURRENT_USER"; }

int MakeDirs(const std::string &dir) {
    std::string path;
    size_t i = 0;
    while (i <= dir.size()) {
        size_t j = dir.find('/', i);
        if (j == std::string::npos) j = dir.size();
        path = dir.substr(0, j);
        if (!path.empty() && mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return errno;
        i = j + 1;
    }
    return 0;
}

std::string Escape(const std::string &s) {
    std::string out;
    for (char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: out += c;
        }
    }
    return out;
}

// Reads a quoted string starting at line[pos] == '"'; pos ends after the closing quote.
bool ReadQuoted(const std::string &line, size_t &pos, std::string *out) {
    if (pos >= line.size() || line[pos] != '"') return false;
    ++pos;
    out->clear();
    while (pos < line.size()) {
        char c = line[pos++];
        if (c == '"') return true;
        if (c == '\\' && pos < line.size()) {
            char e = line[pos++];
            switch (e) {
            case 'n': *out += '\n'; break;
            case 'r': *out += '\r'; break;
            case 't': *out += '\t'; break;
            default: *out += e;
            }
        } else {
            *out += c;
        }
    }
    return false;
}

Hive Parse(std::istream &in) {
    Hive hive;
    hive[""] = Key{};
    Key *current = &hive[""];
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            size_t end = line.rfind(']');
            if (end == std::string::npos) continue;
            std::string path = line.substr(1, end - 1);
            Key &k = hive[Lower(path)];
            if (k.path.empty()) k.path = path;
            current = &k;
            continue;
        }
        size_t pos = 0;
        std::string name;
        if (!ReadQuoted(line, pos, &name) || pos >= line.size() || line[pos] != '=') continue;
        ++pos;
        Value v;
        v.name = name;
        if (line.compare(pos, 3, "sz:") == 0) {
            pos += 3;
            v.type = REG_SZ;
            if (!ReadQuoted(line, pos, &v.text)) continue;
        } else if (line.compare(pos, 6, "dword:") == 0) {
            v.type = REG_DWORD;
            v.number = static_cast<DWORD>(std::strtoul(line.c_str() + pos + 6, nullptr, 16));
        } else {
            continue;
        }
        current->values[Lower(name)] = v;
    }
    return hive;
}

std::string Serialise(const Hive &hive, Root root) {
    std::ostringstream out;
    out << "# vtbox registry: " << RootName(root) << "\n";
    for (const auto &[lower, key] : hive) {
        if (lower.empty() && key.values.empty()) continue;
        out << "\n[" << key.path << "]\n";
        for (const auto &[vl, v] : key.values) {
            out << '"' << Escape(v.name) << "\"=";
            if (v.type == REG_DWORD) {
                char buf[16];
                std::snprintf(buf, sizeof buf, "%08x", v.number);
                out << "dword:" << buf << "\n";
            } else {
                out << "sz:\"" << Escape(v.text) << "\"\n";
            }
        }
    }
    return out.str();
}

// Holds the root's lock file locked for the life of the object. Only a
// writer makes the folder and the lock file: a reader of a store that was
// never written finds nothing to lock and reads it as empty, so reading
// works where the folder cannot be made (a read-only home, a hardened
// service).
class HiveLock {
public:
    HiveLock(Root root, bool exclusive) {
        dir_ = Directory();
        if (exclusive) {
            if (int e = MakeDirs(dir_)) {
                error_ = static_cast<LONG>(vt::Win32FromErrno(e));
                return;
            }
        }
        file_ = dir_ + "/" + RootName(root) + ".reg";
        std::string lockPath = file_ + ".lock";
        // Never waited on (a FIFO planted at the name), never through a link.
        const int flags = O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW;
        fd_ = exclusive ? ::open(lockPath.c_str(), O_RDWR | O_CREAT | flags, 0600)
                        : ::open(lockPath.c_str(), O_RDONLY | flags);
        if (fd_ < 0) {
            if (!exclusive && (errno == ENOENT || errno == ENOTDIR)) return;  // nothing written yet
            error_ = static_cast<LONG>(vt::Win32FromErrno(errno));
            return;
        }
        struct stat st {};
        if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
            error_ = kInvalidData;
            return;
        }
        while (flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0) {
            if (errno != EINTR) {
                error_ = static_cast<LONG>(vt::Win32FromErrno(errno));
                return;
            }
        }
    }
    ~HiveLock() {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    LONG error() const { return error_; }
    const std::string &file() const { return file_; }
    const std::string &dir() const { return dir_; }

private:
    std::string dir_, file_;
    int fd_ = -1;
    LONG error_ = 0;
};

// Reads the store under its lock into *hive: a store never written reads as
// empty; one that is not a regular file, or larger than any store, is refused
// (kInvalidData) so that nothing is written over what could not be read.
LONG Load(const std::string &file, Hive *hive) {
    hive->clear();
    (*hive)[""] = Key{};
    std::string text, why;
    if (!vt::ReadLocalFile(file, kMaxStoreBytes, vt::LinkRule::Refuse, &text, &why)) {
        if (errno == ENOENT) return kOk;
        if (errno == ELOOP || errno == EINVAL || errno == EFBIG) return kInvalidData;
        return static_cast<LONG>(vt::Win32FromErrno(errno));
    }
    std::istringstream in(text);
    *hive = Parse(in);
    return kOk;
}

LONG Store(const HiveLock &lock, const Hive &hive, Root root) {
    std::string tmpl = lock.dir() + "/.reg-XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) return static_cast<LONG>(vt::Win32FromErrno(errno));
    std::string text = Serialise(hive, root);
    const char *p = text.data();
    size_t left = text.size();
    int err = 0;
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            err = errno;
            break;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    if (!err && fsync(fd) != 0) err = errno;
    if (::close(fd) != 0 && !err) err = errno;
    if (!err && ::rename(name.data(), lock.file().c_str()) != 0) err = errno;
    if (err) {
        ::unlink(name.data());
        return static_cast<LONG>(vt::Win32FromErrno(err));
    }
    return kOk;
}

// Resolves an HKEY (a root constant or an open key) plus a sub-key.
bool Resolve(HKEY key, const char *sub, Root *root, std::string *path) {
    std::string base;
    if (key == HKEY_CLASSES_ROOT) {
        *root = Root::ClassesRoot;
    } else if (key == HKEY_CURRENT_USER) {
        *root = Root::CurrentUser;
    } else if (key) {
        auto *ok = reinterpret_cast<OpenKey *>(key);
        *root = ok->root;
        base = ok->path;
    } else {
        return false;
    }
    auto p = NormalisePath(base, sub);
    if (!p) return false;
    *path = *p;
    return true;
}

HKEY NewHandle(Root root, const std::string &path) { return reinterpret_cast<HKEY>(new OpenKey{root, path}); }

}  // namespace

extern "C" {

LONG RegOpenKeyExA(HKEY key, const char *subKey, DWORD, DWORD, HKEY *result) {
    Root root;
    std::string path;
    if (!result || !Resolve(key, subKey, &root, &path)) return kInvalid;
    *result = nullptr;
    HiveLock lock(root, false);
    if (lock.error()) return lock.error();
    Hive hive;
    if (LONG loaded = Load(lock.file(), &hive)) return loaded;
    if (!path.empty() && !hive.count(Lower(path))) return kNotFound;
    *result = NewHandle(root, path);
    return kOk;
}

LONG RegCreateKeyExA(HKEY key, const char *subKey, DWORD, char *, DWORD, DWORD, void *, HKEY *result,
                     DWORD *disposition) {
    Root root;
    std::string path;
    if (!result || !Resolve(key, subKey, &root, &path)) return kInvalid;
    *result = nullptr;
    HiveLock lock(root, true);
    if (lock.error()) return lock.error();
    Hive hive;
    if (LONG loaded = Load(lock.file(), &hive)) return loaded;
    bool created = false;
    // Create every missing key along the path.
    std::string prefix;
    size_t i = 0;
    while (!path.empty() && i <= path.size()) {
        size_t j = path.find('\\', i);
        if (j == std::string::npos) j = path.size();
        prefix = path.substr(0, j);
        Key &k = hive[Lower(prefix)];
        if (k.path.empty()) {
            k.path = prefix;
            created = true;
        }
        i = j + 1;
    }
    if (created) {
        if (LONG rc = Store(lock, hive, root)) return rc;
    }
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = NewHandle(root, path);
    return kOk;
}

LONG RegQueryValueExA(HKEY key, const char *name, DWORD *, DWORD *type, uint8_t *data, DWORD *size) {
    Root root;
    std::string path;
    if (!Resolve(key, nullptr, &root, &path)) return kInvalid;
    if (data && !size) return kInvalid;
    HiveLock lock(root, false);
    if (lock.error()) return lock.error();
    Hive hive;
    if (LONG loaded = Load(lock.file(), &hive)) return loaded;
    auto k = hive.find(Lower(path));
    if (k == hive.end()) return kNotFound;
    auto v = k->second.values.find(Lower(name ? name : ""));
    if (v == k->second.values.end()) return kNotFound;
    if (type) *type = v->second.type;
    DWORD need = v->second.type == REG_DWORD ? 4u : static_cast<DWORD>(v->second.text.size() + 1);
    if (!size) return kOk;
    if (!data) {
        *size = need;
        return kOk;
    }
    if (*size < need) {
        *size = need;
        return kMoreData;
    }
    if (v->second.type == REG_DWORD)
        std::memcpy(data, &v->second.number, 4);
    else
        std::memcpy(data, v->second.text.c_str(), need);
    *size = need;
    return kOk;
}

LONG RegSetValueExA(HKEY key, const char *name, DWORD, DWORD type, const uint8_t *data, DWORD size) {
    Root root;
    std::string path;
    if (!Resolve(key, nullptr, &root, &path)) return kInvalid;
    if (type != REG_SZ && type != REG_DWORD) return kInvalid;
    if (type == REG_DWORD && (size < 4 || !data)) return kInvalid;
    Value v;
    v.name = name ? name : "";
    v.type = type;
    if (type == REG_DWORD) {
        std::memcpy(&v.number, data, 4);
    } else if (data) {
        const char *text = reinterpret_cast<const char *>(data);
        v.text.assign(text, strnlen(text, size));
    }
    HiveLock lock(root, true);
    if (lock.error()) return lock.error();
    Hive hive;
    if (LONG loaded = Load(lock.file(), &hive)) return loaded;
    auto k = hive.find(Lower(path));
    if (k == hive.end()) return kNotFound;  // deleted by someone else meanwhile
    auto existing = k->second.values.find(Lower(v.name));
    if (existing != k->second.values.end()) v.name = existing->second.name;
    k->second.values[Lower(v.name)] = v;
    return Store(lock, hive, root);
}

LONG RegDeleteValueA(HKEY key, const char *name) {
    Root root;
    std::string path;
    if (!Resolve(key, nullptr, &root, &path)) return kInvalid;
    HiveLock lock(root, true);
    if (lock.error()) return lock.error();
    Hive hive;
    if (LONG loaded = Load(lock.file(), &hive)) return loaded;
    auto k = hive.find(Lower(path));
    if (k == hive.end()) return kNotFound;
    if (!k->second.values.erase(Lower(name ? name : ""))) return kNotFound;
    return Store(lock, hive, root);
}

LONG RegDeleteTreeA(HKEY key, const char *subKey) {
    Root root;
    std::string path;
    if (!Resolve(key, subKey, &root, &path)) return kInvalid;
    HiveLock lock(root, true);
    if (lock.error()) return lock.error();
    Hive hive;
    if (LONG loaded = Load(lock.file(), &hive)) return loaded;
    std::string lower = Lower(path);
    if (!lower.empty() && !hive.count(lower)) return kNotFound;
    for (auto it = hive.begin(); it != hive.end();) {
        bool inside = lower.empty() || it->first == lower ||
                      (it->first.size() > lower.size() && it->first.compare(0, lower.size(), lower) == 0 &&
                       it->first[lower.size()] == '\\');
        if (inside && !it->first.empty())
            it = hive.erase(it);
        else
            ++it;
    }
    if (lower.empty()) hive[""].values.clear();
    return Store(lock, hive, root);
}

LONG RegEnumKeyA(HKEY key, DWORD index, char *name, DWORD nameSize) {
    Root root;
    std::string path;
    if (!name || !nameSize || !Resolve(key, nullptr, &root, &path)) return kInvalid;
    HiveLock lock(root, false);
    if (lock.error()) return lock.error();
    Hive hive;
    if (LONG loaded = Load(lock.file(), &hive)) return loaded;
    std::string lower = Lower(path);
    if (!lower.empty() && !hive.count(lower)) return kNotFound;
    std::vector<std::string> children;
    for (const auto &[lk, k] : hive) {
        if (lk.empty() || lk == lower) continue;
        std::string rest;
        if (lower.empty())
            rest = k.path;
        else if (lk.size() > lower.size() && lk.compare(0, lower.size(), lower) == 0 && lk[lower.size()] == '\\')
            rest = k.path.substr(lower.size() + 1);
        else
            continue;
        if (rest.find('\\') == std::string::npos) children.push_back(rest);
    }
    if (index >= children.size()) return kNoMoreItems;
    const std::string &child = children[index];
    if (child.size() + 1 > nameSize) return kMoreData;
    std::memcpy(name, child.c_str(), child.size() + 1);
    return kOk;
}

LONG RegCloseKey(HKEY key) {
    if (!key) return kInvalid;
    if (key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER) return kOk;
    delete reinterpret_cast<OpenKey *>(key);
    return kOk;
}

}  // extern "C"
