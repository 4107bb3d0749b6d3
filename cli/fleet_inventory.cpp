#include "fleet_inventory.hpp"

#include <sys/stat.h>

#include <toml++/toml.h>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iterator>
#include <map>
#include <set>
#include <string_view>

#include "json_output.hpp"
#include "options.hpp"
#include "output_name.hpp"
#include "text_output.hpp"
#include "vtplatform/local_file.hpp"

namespace vtcli::fleet {

namespace {

// An inventory is a few lines a device; 1 MiB holds the largest fleet we
// take (below) with room for comments, and a larger file (or one that grows
// while it is read) is refused before the parser builds it in memory.
constexpr size_t kMaxInventoryBytes = 1024 * 1024;
// Devices and groups in one inventory: far beyond any site's fleet, and a
// bound on the state file, the metrics file and the report one run makes.
constexpr size_t kMaxDevices = 10000;
constexpr size_t kMaxGroups = 10000;
// A name is a folder, a file name's part and a metric label: short enough
// for all three.
constexpr size_t kMaxNameLength = 64;
// A host name is at most 253 characters in the DNS; an address is shorter.
constexpr size_t kMaxHostLength = 253;
// A path the system takes (PATH_MAX).
constexpr size_t kMaxPathLength = 4096;
// A file's name (NAME_MAX), and the widest run number vtbox gives one.
constexpr size_t kMaxFileNameLength = 255;
constexpr size_t kRunNumberDigits = 9;
// No setting of a fleet waits or looks back longer than a year; a larger
// number is a mistake (a time in milliseconds, a stray digit).
constexpr uint64_t kMaxDurationSeconds = 365ull * 24 * 3600;
// The device's first answer, as vtbox's --timeout takes it.
constexpr uint64_t kMaxTimeoutSeconds = 3600;
// The same bound vtbox's --keep-* options have.
constexpr uint64_t kMaxKeep = 100000;
// Tries of one device in one run: beyond this a device is not coming back
// tonight, and retries times retry-delay must stay within a night's run.
constexpr uint64_t kMaxRetries = 100;
// Devices backed up at once: each is a vtbox process and a device session.
constexpr uint64_t kMaxJobs = 64;

// How a value is read and checked.
enum class Kind {
    Flag,
    Number,
    Duration,
    Text,
    Host,
    Name,
    Boxes,
    AbsolutePath,
    FileName,
    Command,
    Path,
    OptionalPath
};

struct KeyRule {
    const char *key;
    Kind kind;
    uint64_t min = 0, max = 0;  // Number and Duration
    bool deviceOnly = false;    // name, host, group
};

const std::vector<KeyRule> &DeviceKeys() {
    static const std::vector<KeyRule> keys = {
        {"name", Kind::Name, 0, 0, true},
        {"host", Kind::Host, 0, 0, true},
        {"group", Kind::Name, 0, 0, true},
        {"enabled", Kind::Flag},
        {"port", Kind::Number, 1, 65535},
        {"ftp-port", Kind::Number, 1, 65535},
        {"timeout", Kind::Duration, 1, kMaxTimeoutSeconds},
        {"password", Kind::Text},
        {"password-file", Kind::Path},
        {"password-command", Kind::Text},
        {"boxes", Kind::Boxes},
        {"backup-root", Kind::AbsolutePath},
        {"file-name", Kind::FileName},
        {"keep-last", Kind::Number, 0, kMaxKeep},
        {"keep-daily", Kind::Number, 0, kMaxKeep},
        {"keep-weekly", Kind::Number, 0, kMaxKeep},
        {"keep-monthly", Kind::Number, 0, kMaxKeep},
        {"stale-after", Kind::Duration, 1, kMaxDurationSeconds},
        {"device-time-limit", Kind::Duration, 1, kMaxDurationSeconds},
        {"retries", Kind::Number, 0, kMaxRetries},
        {"retry-delay", Kind::Duration, 0, kMaxDurationSeconds},
        {"hook-time-limit", Kind::Duration, 1, kMaxDurationSeconds},
        {"verify", Kind::Flag},
        {"on-success", Kind::Command},
        {"on-failure", Kind::Command},
        {"on-finish", Kind::Command},
    };
    return keys;
}

const std::vector<KeyRule> &FleetKeys() {
    static const std::vector<KeyRule> keys = {
        {"jobs", Kind::Number, 1, kMaxJobs},
        {"metrics-file", Kind::OptionalPath},
        {"on-run-end", Kind::Command},
        {"hook-time-limit", Kind::Duration, 1, kMaxDurationSeconds},
    };
    return keys;
}

const char *const kPasswordKeys[] = {"password", "password-file", "password-command"};

// A value as read from one level, checked for its key.
struct Value {
    bool flag = false;
    uint64_t number = 0;
    std::string text;
    std::vector<std::string> words;
    int line = 0;
};

// One level's keys: [defaults], a group, a device or [fleet].
struct Level {
    Origin origin = Origin::Builtin;
    std::string group;
    int line = 0;  // the table's own line
    std::map<std::string, Value> values;

    const Value *Find(const std::string &key) const {
        auto it = values.find(key);
        return it == values.end() ? nullptr : &it->second;
    }
};

// What LoadInventory refuses, where.
struct Refusal {
    int line;
    std::string key;
    std::string what;
};

[[noreturn]] void Refuse(int line, const std::string &key, const std::string &what) { throw Refusal{line, key, what}; }

int LineOf(const toml::source_region &region) { return static_cast<int>(region.begin.line); }

const char *TypeName(const toml::node &node) {
    switch (node.type()) {
    case toml::node_type::string: return "a string";
    case toml::node_type::integer: return "an integer";
    case toml::node_type::floating_point: return "a floating-point number";
    case toml::node_type::boolean: return "true or false";
    case toml::node_type::date: return "a date";
    case toml::node_type::time: return "a time";
    case toml::node_type::date_time: return "a date and time";
    case toml::node_type::array: return "an array";
    case toml::node_type::table: return "a table";
    default: return "nothing";
    }
}

bool SafeName(const std::string &name) {
    if (name.empty() || name.size() > kMaxNameLength || name == "." || name == "..") return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
               c == '-';
    });
}

// A host is a name or an address: it goes into a password command through
// %h, so it holds nothing a shell would take for more than a word.
bool SafeHost(const std::string &host) {
    if (host.empty() || host.size() > kMaxHostLength || host[0] == '-') return false;
    return std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
               c == '-' || c == ':' || c == '[' || c == ']';
    });
}

bool HasControl(const std::string &text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7f;
    });
}

std::string Quoted(const std::string &text) { return "\"" + PlainText(text) + "\""; }

// %n becomes the device's name and (with host) %h its host; %% stays as it
// is for vtbox's own fields (file-name) or becomes one % (keep false);
// anything else is left alone (a command's own %, as in date +%s).
std::string Fill(const std::string &text, const std::string &name, const std::string *host, bool keepPercent) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char next = text[i + 1];
        if (next == 'n')
            out += name;
        else if (next == 'h' && host)
            out += *host;
        else if (next == '%')
            out += keepPercent ? "%%" : "%";
        else {
            out += text[i];
            continue;
        }
        ++i;
    }
    return out;
}

// The pattern without its %N fields, counted in *count.
std::string WithoutRunNumber(const std::string &pattern, size_t *count) {
    std::string out;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 'N') {
            ++*count;
            ++i;
            continue;
        }
        out += pattern[i];
        if (pattern[i] == '%' && i + 1 < pattern.size()) out += pattern[++i];
    }
    return out;
}

std::string CheckedText(const std::string &key, const toml::node &node, int line) {
    const auto *s = node.as_string();
    if (!s) Refuse(line, key, std::string("must be a string, not ") + TypeName(node));
    const std::string &text = s->get();
    if (text.empty()) Refuse(line, key, "must not be empty");
    if (HasControl(text)) Refuse(line, key, "holds a control character: " + Quoted(text));
    return text;
}

// "1h30m", "36h", ... or an integer number of seconds, within the key's range.
uint64_t CheckedDuration(const KeyRule &rule, const toml::node &node, int line) {
    uint64_t seconds = 0;
    if (const auto *i = node.as_integer()) {
        if (i->get() < 0 || static_cast<uint64_t>(i->get()) > kMaxDurationSeconds)
            Refuse(line, rule.key,
                   "must be from " + FormatDuration(rule.min) + " to " + FormatDuration(rule.max) + ", not " +
                       std::to_string(i->get()) + " seconds");
        seconds = static_cast<uint64_t>(i->get());
    } else if (const auto *s = node.as_string()) {
        if (!ParseDuration(s->get(), &seconds))
            Refuse(line, rule.key,
                   "must be a duration such as \"90s\", \"45m\", \"36h\", \"2d\" or \"1h30m\", at most a year, not " +
                       Quoted(s->get()));
    } else {
        Refuse(line, rule.key,
               std::string("must be a duration (\"36h\") or a number of seconds, not ") + TypeName(node));
    }
    if (seconds < rule.min || seconds > rule.max)
        Refuse(line, rule.key,
               "must be from " + FormatDuration(rule.min) + " to " + FormatDuration(rule.max) + ", not " +
                   FormatDuration(seconds));
    return seconds;
}

Value ReadValue(const KeyRule &rule, const toml::node &node, int line) {
    Value v;
    v.line = line;
    const std::string key = rule.key;
    switch (rule.kind) {
    case Kind::Flag: {
        const auto *b = node.as_boolean();
        if (!b) Refuse(line, key, std::string("must be true or false, not ") + TypeName(node));
        v.flag = b->get();
        break;
    }
    case Kind::Number: {
        const auto *i = node.as_integer();
        if (!i) Refuse(line, key, std::string("must be an integer, not ") + TypeName(node));
        if (i->get() < 0 || static_cast<uint64_t>(i->get()) < rule.min || static_cast<uint64_t>(i->get()) > rule.max)
            Refuse(line, key,
                   "must be from " + std::to_string(rule.min) + " to " + std::to_string(rule.max) + ", not " +
                       std::to_string(i->get()));
        v.number = static_cast<uint64_t>(i->get());
        break;
    }
    case Kind::Duration: v.number = CheckedDuration(rule, node, line); break;
    case Kind::Text: v.text = CheckedText(key, node, line); break;
    case Kind::OptionalPath:
        // "" says none.
        if (const auto *s = node.as_string(); s && s->get().empty()) break;
        [[fallthrough]];
    case Kind::Path:
        // Absolute: a fleet runs from a timer, whose current folder is nobody's choice.
        v.text = CheckedText(key, node, line);
        if (v.text[0] != '/') Refuse(line, key, "must be an absolute path, not " + Quoted(v.text));
        if (v.text.size() > kMaxPathLength) Refuse(line, key, "is longer than a path may be");
        break;
    case Kind::Name:
        v.text = CheckedText(key, node, line);
        if (!SafeName(v.text))
            Refuse(line, key,
                   Quoted(v.text) + " is not a safe name: 1 to " + std::to_string(kMaxNameLength) +
                       " letters, digits, '.', '_' and '-', not \".\" or \"..\"");
        break;
    case Kind::Host:
        v.text = CheckedText(key, node, line);
        if (!SafeHost(v.text)) Refuse(line, key, Quoted(v.text) + " is not a host name or address");
        break;
    case Kind::Boxes: {
        v.text = CheckedText(key, node, line);
        std::vector<uint32_t> boxes;
        bool all = false;
        std::string why;
        if (!ParseBoxList(v.text, &boxes, &all, &why))
            Refuse(line, key,
                   "takes box numbers from 1 to 999 and ranges, separated by commas (\"1-3,7\"), or \"all\", not " +
                       Quoted(v.text));
        break;
    }
    case Kind::AbsolutePath:
        v.text = CheckedText(key, node, line);
        if (v.text[0] != '/') Refuse(line, key, "must be an absolute path, not " + Quoted(v.text));
        if (v.text.size() > kMaxPathLength) Refuse(line, key, "is longer than a path may be");
        while (v.text.size() > 1 && v.text.back() == '/') v.text.pop_back();
        break;
    case Kind::FileName: {
        v.text = CheckedText(key, node, line);
        if (v.text.find('/') != std::string::npos)
            Refuse(line, key, "is a file name inside the device's folder, without '/': " + Quoted(v.text));
        // What vtbox will make of it for a device of the longest name, with
        // the run number at its widest (checked here, never looked up in a
        // folder).
        size_t runNumbers = 0;
        const std::string filled =
            WithoutRunNumber(Fill(v.text, std::string(kMaxNameLength, 'x'), nullptr, true), &runNumbers);
        if (runNumbers > 1) Refuse(line, key, "holds %N twice; one run number is enough");
        std::string name, why;
        std::tm when{};
        when.tm_year = 100;
        when.tm_mday = 1;
        if (!ExpandOutputName(filled, when, &name, &why)) {
            // vtbox's words quote the pattern it was given: show the one in the file.
            if (size_t at = why.find(filled); at != std::string::npos) why.replace(at, filled.size(), v.text);
            Refuse(line, key, why);
        }
        if (name == "." || name == "..") Refuse(line, key, "names no file: " + Quoted(v.text));
        if (name.size() + runNumbers * kRunNumberDigits > kMaxFileNameLength)
            Refuse(line, key,
                   "makes names longer than a file name may be (" + std::to_string(kMaxFileNameLength) +
                       " bytes) for a device of a " + std::to_string(kMaxNameLength) + "-character name");
        break;
    }
    case Kind::Command: {
        const auto *a = node.as_array();
        if (!a)
            Refuse(line, key,
                   std::string("must be an array of strings (a program and its arguments), not ") + TypeName(node));
        if (a->empty()) Refuse(line, key, "must name a program: [\"/path/to/program\", \"argument\", ...]");
        for (const auto &word : *a) {
            const auto *s = word.as_string();
            if (!s) Refuse(line, key, std::string("must hold strings only, not ") + TypeName(word));
            if (HasControl(s->get())) Refuse(line, key, "holds a control character: " + Quoted(s->get()));
            v.words.push_back(s->get());
        }
        const std::string &program = v.words.front();
        if (program.empty() || (program[0] != '/' && program.find('/') != std::string::npos))
            Refuse(line, key,
                   "must start with an absolute path or a program's name found in PATH, not " + Quoted(program));
        break;
    }
    }
    return v;
}

// The keys of a level, checked; an unknown key with the closest known one.
Level ReadLevel(const std::string &path, const toml::table &table, const std::vector<KeyRule> &rules, Origin origin,
                const std::string &group, bool othersMayRead, const std::string &mode) {
    Level level;
    level.origin = origin;
    level.group = group;
    level.line = LineOf(table.source());
    std::vector<std::string> allowed;
    for (const auto &s : rules)
        if (!s.deviceOnly || origin == Origin::Device) allowed.push_back(s.key);
    for (auto &&[k, node] : table) {
        const std::string key(k.str());
        const int line = k.source().begin.line ? LineOf(k.source()) : LineOf(node.source());
        const KeyRule *rule = nullptr;
        for (const auto &s : rules)
            if (key == s.key) rule = &s;
        if (!rule) {
            const std::string near = ClosestMatch(key, allowed);
            Refuse(line, key, "unknown key" + (near.empty() ? std::string() : "; did you mean " + near + "?"));
        }
        if (rule->deviceOnly && origin != Origin::Device) Refuse(line, key, "belongs in a [[device]] table only");
        level.values[key] = ReadValue(*rule, node, line);
    }
    // One source of the password a level.
    const Value *first = nullptr;
    const char *firstKey = nullptr;
    for (const char *key : kPasswordKeys) {
        const Value *v = level.Find(key);
        if (!v) continue;
        if (first) {
            const bool later = v->line >= first->line;
            Refuse(later ? v->line : first->line, later ? key : firstKey,
                   std::string("give one of password, password-file and password-command at one level; ") +
                       (later ? firstKey : key) + " is given here too (line " +
                       std::to_string(later ? first->line : v->line) + ")");
        }
        first = v;
        firstKey = key;
    }
    if (const Value *v = level.Find("password"); v && othersMayRead)
        Refuse(v->line, "password",
               "the inventory holds a password and can be read by others (mode " + mode +
                   "); make it private with: chmod 600 " + path + ", or use password-file or password-command");
    return level;
}

template <class T, class Get>
void Resolve(Setting<T> *out, const char *key, T builtin, const std::vector<const Level *> &levels, Get get) {
    for (const Level *level : levels)
        if (const Value *v = level->Find(key)) {
            out->value = get(*v);
            out->from = Source{level->origin, level->group, v->line};
            return;
        }
    out->value = builtin;
    out->from = Source{};
}

void ResolveNumber(Setting<uint32_t> *out, const char *key, uint32_t builtin,
                   const std::vector<const Level *> &levels) {
    Resolve(out, key, builtin, levels, [](const Value &v) { return static_cast<uint32_t>(v.number); });
}

void ResolveSeconds(Setting<uint64_t> *out, const char *key, uint64_t builtin,
                    const std::vector<const Level *> &levels) {
    Resolve(out, key, builtin, levels, [](const Value &v) { return v.number; });
}

void ResolveText(Setting<std::string> *out, const char *key, const std::string &builtin,
                 const std::vector<const Level *> &levels) {
    Resolve(out, key, builtin, levels, [](const Value &v) { return v.text; });
}

void ResolveWords(Setting<std::vector<std::string>> *out, const char *key, const std::vector<const Level *> &levels) {
    Resolve(out, key, std::vector<std::string>(), levels, [](const Value &v) { return v.words; });
}

void ResolveFlag(Setting<bool> *out, const char *key, bool builtin, const std::vector<const Level *> &levels) {
    Resolve(out, key, builtin, levels, [](const Value &v) { return v.flag; });
}

// A device's settings: its own table, then its group's, then [defaults].
void ResolveDevice(const std::vector<const Level *> &levels, DeviceConfig *d) {
    ResolveFlag(&d->enabled, "enabled", true, levels);
    ResolveNumber(&d->port, "port", 8080, levels);
    ResolveNumber(&d->ftpPort, "ftp-port", 21, levels);
    Setting<uint64_t> timeout;
    ResolveSeconds(&timeout, "timeout", 60, levels);
    d->timeoutSeconds = Setting<uint32_t>{static_cast<uint32_t>(timeout.value), timeout.from};

    // The password comes whole from the most specific level that gives one.
    const Level *passwordLevel = nullptr;
    for (const Level *level : levels)
        if (!passwordLevel &&
            (level->Find("password") || level->Find("password-file") || level->Find("password-command")))
            passwordLevel = level;
    if (!passwordLevel)
        Refuse(d->line, "password",
               "device " + d->name +
                   " has no password: give password-file, password-command or password for it, "
                   "its group or [defaults]");
    const std::vector<const Level *> passwordLevels = {passwordLevel};
    ResolveText(&d->password, "password", "", passwordLevels);
    ResolveText(&d->passwordFile, "password-file", "", passwordLevels);
    ResolveText(&d->passwordCommand, "password-command", "", passwordLevels);
    d->passwordFile.value = Fill(d->passwordFile.value, d->name, &d->host, false);
    d->passwordCommand.value = Fill(d->passwordCommand.value, d->name, &d->host, false);

    ResolveText(&d->boxes, "boxes", "all", levels);
    ResolveText(&d->backupRoot, "backup-root", "", levels);
    if (d->backupRoot.value.empty())
        Refuse(d->line, "backup-root",
               "device " + d->name + " has no backup-root: give it in [defaults], its group or its table");
    ResolveText(&d->fileName, "file-name", "%n-%Y%m%d-%N.zip", levels);
    d->fileName.value = Fill(d->fileName.value, d->name, nullptr, true);
    ResolveNumber(&d->keepLast, "keep-last", 0, levels);
    ResolveNumber(&d->keepDaily, "keep-daily", 7, levels);
    ResolveNumber(&d->keepWeekly, "keep-weekly", 5, levels);
    ResolveNumber(&d->keepMonthly, "keep-monthly", 12, levels);
    ResolveSeconds(&d->staleAfterSeconds, "stale-after", 36 * 3600, levels);
    ResolveSeconds(&d->timeLimitSeconds, "device-time-limit", 6 * 3600, levels);
    ResolveNumber(&d->retries, "retries", 2, levels);
    ResolveSeconds(&d->retryDelaySeconds, "retry-delay", 10 * 60, levels);
    ResolveSeconds(&d->hookTimeLimitSeconds, "hook-time-limit", 60, levels);
    ResolveFlag(&d->verify, "verify", false, levels);
    ResolveWords(&d->onSuccess, "on-success", levels);
    ResolveWords(&d->onFailure, "on-failure", levels);
    ResolveWords(&d->onFinish, "on-finish", levels);
}

const toml::table &TableOf(const std::string &key, const toml::node &node, int line, const char *how) {
    const auto *t = node.as_table();
    if (!t) Refuse(line, key, std::string("must be a table (") + how + "), not " + TypeName(node));
    return *t;
}

void Load(const std::string &path, const std::string &text, bool othersMayRead, const std::string &mode,
          Inventory *inv) {
    toml::table doc;
    try {
        doc = toml::parse(text, path);
    } catch (const toml::parse_error &e) {
        Refuse(LineOf(e.source()), "", std::string(e.description()));
    }

    const toml::table *defaults = nullptr, *groups = nullptr, *fleet = nullptr;
    const toml::array *devices = nullptr;
    int devicesLine = 0;
    for (auto &&[k, node] : doc) {
        const std::string key(k.str());
        const int line = LineOf(k.source());
        if (key == "defaults")
            defaults = &TableOf(key, node, line, "[defaults]");
        else if (key == "group")
            groups = &TableOf(key, node, line, "[group.NAME]");
        else if (key == "fleet")
            fleet = &TableOf(key, node, line, "[fleet]");
        else if (key == "device") {
            devices = node.as_array();
            devicesLine = line;
            if (!devices || !devices->is_array_of_tables())
                Refuse(line, key, std::string("must be [[device]] tables, not ") + TypeName(node));
        } else {
            std::string hint;
            for (const auto &s : DeviceKeys())
                if (key == s.key) hint = "; it belongs in [defaults], a [group.NAME] or a [[device]] table";
            for (const auto &s : FleetKeys())
                if (hint.empty() && key == s.key) hint = "; it belongs in [fleet]";
            if (hint.empty()) {
                const std::string near = ClosestMatch(key, {"defaults", "group", "device", "fleet"});
                hint = near.empty() ? "; the inventory holds [defaults], [group.NAME], [[device]] and [fleet]"
                                    : "; did you mean " + near + "?";
            }
            Refuse(line, key, "unknown key" + hint);
        }
    }

    // [fleet]: the run's own settings.
    Level run;
    if (fleet) run = ReadLevel(path, *fleet, FleetKeys(), Origin::Fleet, "", othersMayRead, mode);
    const std::vector<const Level *> runLevels = {&run};
    ResolveNumber(&inv->run.jobs, "jobs", 4, runLevels);
    ResolveText(&inv->run.metricsFile, "metrics-file", "", runLevels);
    ResolveWords(&inv->run.onRunEnd, "on-run-end", runLevels);
    ResolveSeconds(&inv->run.hookTimeLimitSeconds, "hook-time-limit", 60, runLevels);

    Level defaultLevel;
    if (defaults) defaultLevel = ReadLevel(path, *defaults, DeviceKeys(), Origin::Defaults, "", othersMayRead, mode);

    std::map<std::string, Level> groupLevels;
    if (groups) {
        if (groups->size() > kMaxGroups)
            Refuse(LineOf(groups->source()), "group",
                   "more than " + std::to_string(kMaxGroups) + " groups in one inventory");
        for (auto &&[k, node] : *groups) {
            const std::string name(k.str());
            const int line = LineOf(k.source());
            const toml::table &table = TableOf("group." + name, node, line, "[group.NAME]");
            if (!SafeName(name))
                Refuse(line, "group." + name,
                       Quoted(name) + " is not a safe group name: 1 to " + std::to_string(kMaxNameLength) +
                           " letters, digits, '.', '_' and '-', not \".\" or \"..\"");
            groupLevels[name] = ReadLevel(path, table, DeviceKeys(), Origin::Group, name, othersMayRead, mode);
            inv->groups.push_back(name);
        }
    }

    if (!devices || devices->empty())
        Refuse(0, "", "the inventory names no device (a [[device]] table with its name and host)");
    if (devices->size() > kMaxDevices)
        Refuse(devicesLine, "device", "more than " + std::to_string(kMaxDevices) + " devices in one inventory");

    std::map<std::string, int> names;  // name -> its line
    inv->devices.reserve(devices->size());
    for (const auto &node : *devices) {
        const toml::table &table = *node.as_table();
        const Level own = ReadLevel(path, table, DeviceKeys(), Origin::Device, "", othersMayRead, mode);
        DeviceConfig d;
        d.line = own.line;
        const Value *name = own.Find("name");
        if (!name) Refuse(d.line, "name", "a device needs a name");
        d.name = name->text;
        if (auto [it, fresh] = names.emplace(d.name, name->line); !fresh)
            Refuse(name->line, "name",
                   "device " + Quoted(d.name) + " is named at line " + std::to_string(it->second) +
                       " already; each device's name is its own");
        const Value *host = own.Find("host");
        if (!host) Refuse(d.line, "host", "device " + d.name + " needs a host");
        d.host = host->text;

        std::vector<const Level *> levels = {&own};
        if (const Value *group = own.Find("group")) {
            auto it = groupLevels.find(group->text);
            if (it == groupLevels.end()) {
                const std::string near = ClosestMatch(group->text, inv->groups);
                Refuse(group->line, "group",
                       "there is no [group." + group->text + "] in the inventory" +
                           (near.empty() ? std::string() : "; did you mean " + near + "?"));
            }
            d.group = group->text;
            levels.push_back(&it->second);
        }
        levels.push_back(&defaultLevel);
        ResolveDevice(levels, &d);
        inv->devices.push_back(std::move(d));
    }
}

// A hook's argument list as a reader would type it.
std::string Words(const std::vector<std::string> &words) {
    if (words.empty()) return "(none)";
    std::string out;
    for (const auto &w : words) {
        if (!out.empty()) out += ' ';
        const bool plain = !w.empty() && std::all_of(w.begin(), w.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) ||
                   std::string_view("_./:=@%+,-").find(c) != std::string_view::npos;
        });
        if (plain) {
            out += w;
            continue;
        }
        out += '\'';
        for (char c : w) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
        out += '\'';
    }
    return PlainText(out);
}

// One row of the check: the inventory's key, its value for a reader, the
// value for JSON, where it came from.
struct Row {
    std::string key, text, json;
    Source from;
};

template <class T>
Row MakeRow(const char *key, const Setting<T> &s, std::string text, std::string json) {
    return Row{key, std::move(text), std::move(json), s.from};
}

Row NumberRow(const char *key, const Setting<uint32_t> &s) {
    return MakeRow(key, s, std::to_string(s.value), std::to_string(s.value));
}

Row DurationRow(const char *key, const Setting<uint64_t> &s) {
    return MakeRow(key, s, FormatDuration(s.value), std::to_string(s.value));
}

Row FlagRow(const char *key, const Setting<bool> &s) {
    return MakeRow(key, s, s.value ? "true" : "false", s.value ? "true" : "false");
}

Row TextRow(const char *key, const Setting<std::string> &s, const std::string &none = "") {
    return MakeRow(key, s, s.value.empty() && !none.empty() ? none : PlainText(s.value), JsonString(s.value));
}

Row WordsRow(const char *key, const Setting<std::vector<std::string>> &s) {
    std::vector<std::string> items;
    for (const auto &w : s.value) items.push_back(JsonString(w));
    return MakeRow(key, s, Words(s.value), JsonArray(items));
}

std::vector<Row> DeviceRows(const DeviceConfig &d) {
    std::vector<Row> rows = {FlagRow("enabled", d.enabled), NumberRow("port", d.port), NumberRow("ftp-port", d.ftpPort),
                             MakeRow("timeout", d.timeoutSeconds, FormatDuration(d.timeoutSeconds.value),
                                     std::to_string(d.timeoutSeconds.value))};
    // The password itself is never shown: only where it comes from.
    if (!d.passwordFile.value.empty())
        rows.push_back(TextRow("password-file", d.passwordFile));
    else if (!d.passwordCommand.value.empty())
        rows.push_back(TextRow("password-command", d.passwordCommand));
    else
        rows.push_back(MakeRow("password", d.password, "(inline)", JsonString("(inline)")));
    rows.push_back(TextRow("boxes", d.boxes));
    rows.push_back(TextRow("backup-root", d.backupRoot));
    rows.push_back(TextRow("file-name", d.fileName));
    rows.push_back(NumberRow("keep-last", d.keepLast));
    rows.push_back(NumberRow("keep-daily", d.keepDaily));
    rows.push_back(NumberRow("keep-weekly", d.keepWeekly));
    rows.push_back(NumberRow("keep-monthly", d.keepMonthly));
    rows.push_back(DurationRow("stale-after", d.staleAfterSeconds));
    rows.push_back(DurationRow("device-time-limit", d.timeLimitSeconds));
    rows.push_back(NumberRow("retries", d.retries));
    rows.push_back(DurationRow("retry-delay", d.retryDelaySeconds));
    rows.push_back(DurationRow("hook-time-limit", d.hookTimeLimitSeconds));
    rows.push_back(FlagRow("verify", d.verify));
    rows.push_back(WordsRow("on-success", d.onSuccess));
    rows.push_back(WordsRow("on-failure", d.onFailure));
    rows.push_back(WordsRow("on-finish", d.onFinish));
    return rows;
}

std::vector<Row> RunRows(const RunConfig &r) {
    return {NumberRow("jobs", r.jobs), TextRow("metrics-file", r.metricsFile, "(none)"),
            WordsRow("on-run-end", r.onRunEnd), DurationRow("hook-time-limit", r.hookTimeLimitSeconds)};
}

void TextBlock(const std::string &title, const std::vector<Row> &rows, std::string *out) {
    size_t keyWidth = 0, valueWidth = 0;
    for (const auto &r : rows) {
        keyWidth = std::max(keyWidth, r.key.size());
        valueWidth = std::max(valueWidth, r.text.size());
    }
    *out += title + "\n";
    for (const auto &r : rows) {
        *out += "  " + r.key + std::string(keyWidth - r.key.size() + 2, ' ') + r.text +
                std::string(valueWidth - r.text.size() + 2, ' ') + SourceText(r.from) + "\n";
    }
}

std::string JsonSettings(JsonObject object, const std::vector<Row> &rows) {
    for (const auto &r : rows)
        object.AddRaw(r.key.c_str(), "{\"value\":" + r.json + ",\"from\":" + JsonString(SourceText(r.from)) + "}");
    return object.str();
}

}  // namespace

bool ParseDuration(const std::string &text, uint64_t *seconds) {
    static const struct {
        char unit;
        uint64_t seconds;
    } kUnits[] = {{'d', 86400}, {'h', 3600}, {'m', 60}, {'s', 1}};
    if (text.empty()) return false;
    // A bare number is seconds.
    if (std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        if (text.size() > 9) return false;
        *seconds = std::stoull(text);
        return *seconds <= kMaxDurationSeconds;
    }
    uint64_t total = 0;
    size_t next = 0;  // units come largest first, each once
    size_t i = 0;
    while (i < text.size()) {
        size_t digits = 0;
        uint64_t n = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            // Nine digits of any unit are beyond a year already.
            if (++digits > 9) return false;
            n = n * 10 + static_cast<uint64_t>(text[i++] - '0');
        }
        if (digits == 0 || i == text.size()) return false;
        size_t u = next;
        while (u < std::size(kUnits) && kUnits[u].unit != text[i]) ++u;
        if (u == std::size(kUnits)) return false;
        total += n * kUnits[u].seconds;
        if (total > kMaxDurationSeconds) return false;
        next = u + 1;
        ++i;
    }
    *seconds = total;
    return true;
}

std::string FormatDuration(uint64_t seconds) {
    if (seconds == 0) return "0s";
    static const struct {
        char unit;
        uint64_t seconds;
    } kUnits[] = {{'d', 86400}, {'h', 3600}, {'m', 60}, {'s', 1}};
    std::string out;
    for (const auto &u : kUnits) {
        if (seconds >= u.seconds) out += std::to_string(seconds / u.seconds) + u.unit;
        seconds %= u.seconds;
    }
    return out;
}

std::string SourceText(const Source &source) {
    switch (source.origin) {
    case Origin::Builtin: return "built-in";
    case Origin::Defaults: return "defaults:" + std::to_string(source.line);
    case Origin::Group: return "group " + source.group + ":" + std::to_string(source.line);
    case Origin::Device: return "device:" + std::to_string(source.line);
    case Origin::Fleet: return "fleet:" + std::to_string(source.line);
    }
    return "built-in";
}

bool LoadInventory(const std::string &path, Inventory *out, std::string *error) {
    std::string text, why;
    struct stat st {};
    if (!vt::ReadLocalFile(path, kMaxInventoryBytes, vt::LinkRule::Follow, &text, &why, &st)) {
        *error = path + ": cannot read the inventory: " + why;
        return false;
    }
    char mode[8];
    std::snprintf(mode, sizeof mode, "%03o", static_cast<unsigned>(st.st_mode & 0777));
    Inventory inv;
    std::error_code ec;
    inv.path = std::filesystem::absolute(path, ec).lexically_normal().string();
    if (ec) inv.path = path;
    try {
        Load(path, text, (st.st_mode & 077) != 0, mode, &inv);
    } catch (const Refusal &r) {
        *error = path;
        if (r.line > 0) *error += ":" + std::to_string(r.line);
        *error += ": ";
        if (!r.key.empty()) *error += r.key + ": ";
        // The parser's words may quote the file.
        *error = PlainText(*error + r.what);
        return false;
    }
    *out = std::move(inv);
    return true;
}

std::string CheckReport(const Inventory &inventory, bool json) {
    std::string out;
    if (json) {
        JsonObject run;
        run.Add("type", "fleet").Add("inventory", inventory.path);
        out += JsonSettings(run, RunRows(inventory.run)) + "\n";
        for (const auto &d : inventory.devices) {
            JsonObject device;
            device.Add("type", "device")
                .Add("name", d.name)
                .Add("line", d.line)
                .Add("host", d.host)
                .Add("group", d.group);
            device.Add("folder", d.Folder());
            out += JsonSettings(device, DeviceRows(d)) + "\n";
        }
        return out;
    }
    TextBlock("fleet (" + PlainText(inventory.path) + ")", RunRows(inventory.run), &out);
    for (const auto &d : inventory.devices) {
        out += "\n";
        std::string title = d.name + "  host " + d.host;
        if (!d.group.empty()) title += "  group " + d.group;
        title += "  (line " + std::to_string(d.line) + ")";
        TextBlock(title, DeviceRows(d), &out);
    }
    return out;
}

}  // namespace vtcli::fleet
