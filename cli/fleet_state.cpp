#include "fleet_state.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <sstream>

#include <toml++/toml.h>

#include "replace_file.hpp"
#include "state_folder.hpp"
#include "text_output.hpp"
#include "vtplatform/local_file.hpp"
#include "vtplatform/text.hpp"

namespace vtcli::fleet {

namespace {

// The first key of every state file: another format (or a later one) is
// never read as this one.
constexpr const char *kStateFormat = "vtbox-fleet-state 1";
// A device's entry is a few hundred bytes (its reason cut to
// kMaxReasonBytes, a file name within PATH_MAX): 16 MiB holds thousands of
// devices at their longest, and a larger file is none of ours; it is
// refused before it is read, so that a file planted or grown there cannot
// fill memory.
constexpr size_t kMaxStateBytes = 16 * 1024 * 1024;
// A reason is a line of vtbox's words; a longer one (a device's text that
// went on) is cut, so that every state that is written can be read back.
constexpr size_t kMaxReasonBytes = 1024;
// The inventory's name stands in the state file's name; cut, so that name,
// hash and the temporary file's suffix stay within a file name's 255 bytes.
constexpr size_t kMaxStemBytes = 128;
// How much of a foreign file's own words (its format, its inventory) a
// report quotes.
constexpr size_t kMaxQuotedBytes = 256;

// TOML holds only UTF-8: a file name or a reason that is not (a name from
// the disk, a device's bytes) is written with U+FFFD in their place, so that
// the file reads back.
std::string Utf8(const std::string &text) { return vt::Utf16ToUtf8(vt::Utf8ToUtf16(text)); }

std::string Quoted(const std::string &text) {
    return "\"" + PlainText(text.substr(0, vt::Utf8PrefixLength(text, kMaxQuotedBytes))) + "\"";
}

uint32_t Fnv1a32(const std::string &text) {
    uint32_t hash = 2166136261u;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 16777619u;
    }
    return hash;
}

// Reading one device's entry: a key that is missing keeps its default; one
// of the wrong type or out of its range spoils the whole file.
class EntryReader {
public:
    EntryReader(const toml::table &table, std::string where) : table_(table), where_(std::move(where)) {}

    bool Integer(const char *key, int64_t low, int64_t high, int64_t *out, std::string *why) const {
        const toml::node *node = table_.get(key);
        if (!node) return true;
        const auto value = node->value_exact<int64_t>();
        if (!value || *value < low || *value > high) {
            *why =
                where_ + "." + key + " is not an integer from " + std::to_string(low) + " to " + std::to_string(high);
            return false;
        }
        *out = *value;
        return true;
    }

    bool Text(const char *key, std::string *out, std::string *why) const {
        const toml::node *node = table_.get(key);
        if (!node) return true;
        const auto value = node->value_exact<std::string>();
        if (!value) {
            *why = where_ + "." + key + " is not a string";
            return false;
        }
        *out = *value;
        return true;
    }

    bool Seconds(const char *key, double *out, std::string *why) const {
        const toml::node *node = table_.get(key);
        if (!node) return true;
        const auto value = node->value<double>();
        if (!value || !std::isfinite(*value) || *value < 0) {
            *why = where_ + "." + key + " is not a number of seconds";
            return false;
        }
        *out = *value;
        return true;
    }

private:
    const toml::table &table_;
    std::string where_;
};

constexpr int64_t kTimeMin = std::numeric_limits<int64_t>::min();
constexpr int64_t kTimeMax = std::numeric_limits<int64_t>::max();

// A sub-table of a device's entry, or null with *why when the key holds
// something else.
const toml::table *SubTable(const toml::table &entry, const char *key, const std::string &where, bool *ok,
                            std::string *why) {
    const toml::node *node = entry.get(key);
    if (node && !node->is_table()) {
        *why = where + "." + key + " is not a table";
        *ok = false;
    }
    return node ? node->as_table() : nullptr;
}

bool ReadAttempt(const toml::table &table, const std::string &where, Attempt *a, std::string *why) {
    const EntryReader r(table, where);
    int64_t value = a->time;
    if (!r.Integer("time", kTimeMin, kTimeMax, &value, why)) return false;
    a->time = static_cast<std::time_t>(value);
    value = a->exitCode;
    if (!r.Integer("exit-code", std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), &value, why))
        return false;
    a->exitCode = static_cast<int>(value);
    return r.Text("outcome", &a->outcome, why) && r.Text("reason", &a->reason, why) &&
           r.Seconds("seconds", &a->seconds, why);
}

bool ReadDevice(const std::string &name, const toml::table &entry, DeviceState *out, std::string *why) {
    const std::string where = "device." + name;
    bool ok = true;
    const toml::table *last = SubTable(entry, "last", where, &ok, why);
    const toml::table *success = SubTable(entry, "success", where, &ok, why);
    const toml::table *verify = SubTable(entry, "verify", where, &ok, why);
    if (!ok) return false;
    if (last && !ReadAttempt(*last, where + ".last", &out->last, why)) return false;
    if (verify && !ReadAttempt(*verify, where + ".verify", &out->verify, why)) return false;
    if (success) {
        const EntryReader r(*success, where + ".success");
        Success &s = out->success;
        int64_t value = s.time;
        if (!r.Integer("time", kTimeMin, kTimeMax, &value, why)) return false;
        s.time = static_cast<std::time_t>(value);
        value = 0;
        if (!r.Integer("size", 0, kTimeMax, &value, why)) return false;
        s.size = static_cast<uint64_t>(value);
        if (!r.Integer("documents", -1, kTimeMax, &s.documents, why) || !r.Text("file", &s.file, why) ||
            !r.Seconds("seconds", &s.seconds, why))
            return false;
    }
    return true;
}

// The state as the backup folders tell it: each device's newest backup as
// its last success, nothing known of its last attempt.
FleetState Rebuilt(const Inventory &inventory) {
    FleetState state;
    for (const DeviceConfig &device : inventory.devices) state.devices[device.name].success = SuccessFromFolder(device);
    return state;
}

std::string Rebuilding(const std::string &path, const std::string &what) {
    return "state file " + path + " " + what + "; the state is rebuilt from the backup folders";
}

double SavedSeconds(double seconds) { return std::isfinite(seconds) && seconds > 0 ? seconds : 0.0; }

}  // namespace

std::string StatePath(const Inventory &inventory) {
    const std::string folder = vtjobs::StateFolder();
    if (folder.empty()) return {};
    std::string stem = std::filesystem::path(inventory.path).stem().string();
    stem.resize(vt::Utf8PrefixLength(stem, kMaxStemBytes));
    char hash[16];
    std::snprintf(hash, sizeof hash, "%08x", static_cast<unsigned>(Fnv1a32(inventory.path)));
    return folder + "/fleet/" + stem + "-" + hash + ".state";
}

std::string LockPath(const Inventory &inventory) {
    const std::string state = StatePath(inventory);
    return state.substr(0, state.size() - std::strlen(".state")) + ".lock";
}

FleetState LoadState(const Inventory &inventory, std::string *problem) {
    problem->clear();
    const std::string path = StatePath(inventory);
    if (path.empty()) {
        *problem =
            "no state folder (none of STATE_DIRECTORY, XDG_STATE_HOME and HOME is set); the state is rebuilt "
            "from the backup folders";
        return Rebuilt(inventory);
    }
    std::string text, error;
    if (!vt::ReadLocalFile(path, kMaxStateBytes, vt::LinkRule::Refuse, &text, &error)) {
        if (errno == ENOENT) return {};
        *problem = Rebuilding(path, "is not read (" + error + ")");
        return Rebuilt(inventory);
    }
    toml::table root;
    try {
        root = toml::parse(std::string_view(text), std::string_view(path));
    } catch (const toml::parse_error &e) {
        *problem = Rebuilding(path, "is damaged (line " + std::to_string(e.source().begin.line) + ": " +
                                        std::string(e.description()) + ")");
        return Rebuilt(inventory);
    }
    const auto format = root["format"].value_exact<std::string>();
    if (!format || *format != kStateFormat) {
        *problem = Rebuilding(
            path, "is foreign (" + (format ? "its format is " + Quoted(*format) : std::string("it names no format")) +
                      ", not \"" + kStateFormat + "\")");
        return Rebuilt(inventory);
    }
    const auto owner = root["inventory"].value_exact<std::string>();
    if (!owner || *owner != Utf8(inventory.path)) {
        *problem = Rebuilding(path, "is foreign (" +
                                        (owner ? "it was written for the inventory " + Quoted(*owner)
                                               : std::string("it names no inventory")) +
                                        ", not " + Quoted(inventory.path) + ")");
        return Rebuilt(inventory);
    }
    FleetState state;
    const toml::node *devices = root.get("device");
    if (devices && !devices->is_table()) {
        *problem = Rebuilding(path, "is damaged (device is not a table)");
        return Rebuilt(inventory);
    }
    if (const toml::node *run = root.get("run")) {
        std::string why;
        int64_t started = 0, ended = 0, count = 0, failed = 0;
        const bool ok = run->is_table();
        static const toml::table kNone;
        const EntryReader r(ok ? *run->as_table() : kNone, "run");
        if (!ok || !r.Integer("started", kTimeMin, kTimeMax, &started, &why) ||
            !r.Integer("ended", kTimeMin, kTimeMax, &ended, &why) ||
            !r.Integer("devices", 0, std::numeric_limits<uint32_t>::max(), &count, &why) ||
            !r.Integer("failed", 0, std::numeric_limits<uint32_t>::max(), &failed, &why) ||
            !r.Seconds("seconds", &state.run.seconds, &why)) {
            *problem = Rebuilding(path, "is damaged (" + (ok ? why : std::string("run is not a table")) + ")");
            return Rebuilt(inventory);
        }
        state.run.started = static_cast<std::time_t>(started);
        state.run.ended = static_cast<std::time_t>(ended);
        state.run.devices = static_cast<uint32_t>(count);
        state.run.failed = static_cast<uint32_t>(failed);
    }
    for (const DeviceConfig &device : inventory.devices) {
        const toml::node *entry = devices ? devices->as_table()->get(device.name) : nullptr;
        if (!entry) continue;
        std::string why;
        if (!entry->is_table()) why = "device." + device.name + " is not a table";
        DeviceState read;
        if (!why.empty() || !ReadDevice(device.name, *entry->as_table(), &read, &why)) {
            *problem = Rebuilding(path, "is damaged (" + why + ")");
            return Rebuilt(inventory);
        }
        state.devices[device.name] = read;
    }
    return state;
}

Success SuccessFromFolder(const DeviceConfig &device) {
    Success newest;
    const std::string folder = device.Folder();
    std::unique_ptr<DIR, int (*)(DIR *)> dir(opendir(folder.c_str()), closedir);
    if (!dir) return newest;
    std::string newestName;
    struct timespec newestTime = {};
    while (const struct dirent *e = readdir(dir.get())) {
        const std::string name = e->d_name;
        if (name.size() <= 4 || name.compare(name.size() - 4, 4, ".zip") != 0) continue;
        // A link is not a backup of this folder; whatever it points to is
        // not taken for one.
        struct stat st;
        if (fstatat(dirfd(dir.get()), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
        const bool newer = newestName.empty() || st.st_mtim.tv_sec > newestTime.tv_sec ||
                           (st.st_mtim.tv_sec == newestTime.tv_sec &&
                            (st.st_mtim.tv_nsec > newestTime.tv_nsec ||
                             (st.st_mtim.tv_nsec == newestTime.tv_nsec && name > newestName)));
        if (!newer) continue;
        newestName = name;
        newestTime = st.st_mtim;
        newest.size = static_cast<uint64_t>(st.st_size);
    }
    if (newestName.empty()) return newest;
    newest.time = newestTime.tv_sec;
    newest.file = folder + "/" + newestName;
    newest.documents = -1;
    return newest;
}

bool SaveState(const Inventory &inventory, const FleetState &state, std::string *error) {
    const std::string path = StatePath(inventory);
    if (path.empty()) {
        *error = "no state folder (none of STATE_DIRECTORY, XDG_STATE_HOME and HOME is set)";
        return false;
    }
    if (!vtjobs::MakePrivateFolders(path.substr(0, path.rfind('/')), error)) return false;
    toml::table root;
    root.insert("format", kStateFormat);
    root.insert("inventory", Utf8(inventory.path));
    toml::table devices;
    for (const auto &[name, device] : state.devices) {
        const Success &s = device.success;
        auto attempt = [](const Attempt &a) {
            std::string reason = Utf8(a.reason);
            reason.resize(vt::Utf8PrefixLength(reason, kMaxReasonBytes));
            return toml::table{{"time", static_cast<int64_t>(a.time)},
                               {"outcome", Utf8(a.outcome)},
                               {"exit-code", static_cast<int64_t>(a.exitCode)},
                               {"reason", reason},
                               {"seconds", SavedSeconds(a.seconds)}};
        };
        toml::table success{
            {"time", static_cast<int64_t>(s.time)},
            {"file", Utf8(s.file)},
            {"size", static_cast<int64_t>(std::min<uint64_t>(s.size, std::numeric_limits<int64_t>::max()))},
            {"documents", std::max<int64_t>(s.documents, -1)},
            {"seconds", SavedSeconds(s.seconds)}};
        toml::table entry{{"last", attempt(device.last)}, {"success", std::move(success)}};
        if (device.verify.time) entry.insert("verify", attempt(device.verify));
        devices.insert(Utf8(name), std::move(entry));
    }
    root.insert("device", std::move(devices));
    if (state.run.ended)
        root.insert("run", toml::table{{"started", static_cast<int64_t>(state.run.started)},
                                       {"ended", static_cast<int64_t>(state.run.ended)},
                                       {"devices", static_cast<int64_t>(state.run.devices)},
                                       {"failed", static_cast<int64_t>(state.run.failed)},
                                       {"seconds", SavedSeconds(state.run.seconds)}});
    std::ostringstream out;
    out << root << "\n";
    const std::string text = out.str();
    if (text.size() > kMaxStateBytes) {
        *error = path + ": the state would be larger than " + std::to_string(kMaxStateBytes) + " bytes";
        return false;
    }
    return ReplaceFile(path, text, 0600, error);
}

bool IsStale(const DeviceConfig &device, const DeviceState &state, std::time_t now) {
    if (state.success.time == 0) return true;
    if (now <= state.success.time) return false;
    return static_cast<uint64_t>(now - state.success.time) > device.staleAfterSeconds.value;
}

}  // namespace vtcli::fleet
