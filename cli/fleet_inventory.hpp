// A fleet's inventory: one TOML file naming many devices, with defaults and
// groups, resolved into the settings each device's backup uses and where
// each of them came from. Reading it never touches a device.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vtcli::fleet {

// Where a resolved setting came from: the built-in default, [defaults], the
// device's group, or the device's own table; a run setting from [fleet].
enum class Origin { Builtin, Defaults, Group, Device, Fleet };

struct Source {
    Origin origin = Origin::Builtin;
    std::string group;  // the group's name when origin is Group
    int line = 0;       // the line of the key in the inventory; 0 for a built-in value
};

template <class T>
struct Setting {
    T value{};
    Source from;
};

// The settings of one device, every one resolved (device beats its group,
// which beats [defaults], which beats the built-in value).
struct DeviceConfig {
    std::string name;   // unique; letters, digits, '.', '_' and '-'
    std::string host;   // required
    std::string group;  // "" when the device names none
    int line = 0;       // the line of its [[device]] table
    Setting<bool> enabled;
    Setting<uint32_t> port;            // the box web service's port (8080)
    Setting<uint32_t> ftpPort;         // 21
    Setting<uint32_t> timeoutSeconds;  // the device's first answer (60)
    // The password, at most one of the three, taken from the most specific
    // level that gives any of them; %n (name) and %h (host) already filled
    // in the file's path and the command.
    Setting<std::string> password;
    Setting<std::string> passwordFile;
    Setting<std::string> passwordCommand;  // run by /bin/sh -c, as vtbox runs it
    Setting<std::string> boxes;            // "all" or a list vtbox's --boxes takes ("1-3,7")
    Setting<std::string> backupRoot;       // absolute; the device's files go in backupRoot/name
    Setting<std::string> fileName;         // vtbox's output-name pattern inside that folder
    Setting<uint32_t> keepLast, keepDaily, keepWeekly, keepMonthly;
    Setting<uint64_t> staleAfterSeconds;     // 36 h
    Setting<uint64_t> timeLimitSeconds;      // device-time-limit, 6 h
    Setting<uint32_t> retries;               // 2
    Setting<uint64_t> retryDelaySeconds;     // 10 min
    Setting<uint64_t> hookTimeLimitSeconds;  // 60 s
    Setting<bool> verify;                    // read the new file back whole
    // Hooks: argument lists (no shell), empty when not set.
    Setting<std::vector<std::string>> onSuccess, onFailure, onFinish;

    std::string Folder() const { return backupRoot.value + "/" + name; }
};

// Settings of the whole run, from the [fleet] table.
struct RunConfig {
    Setting<uint32_t> jobs;            // 4
    Setting<std::string> metricsFile;  // "" for none
    Setting<std::vector<std::string>> onRunEnd;
    Setting<uint64_t> hookTimeLimitSeconds;  // for on-run-end
};

struct Inventory {
    std::string path;  // absolute
    std::vector<std::string> groups;
    std::vector<DeviceConfig> devices;  // in the file's order
    RunConfig run;
};

// Reads and resolves the inventory. False with "FILE:LINE: KEY: what is
// wrong" (or "FILE:LINE: what is wrong" for TOML that does not parse, "FILE:
// what is wrong" where no line applies) in *error for anything that is not a
// sound inventory.
bool LoadInventory(const std::string &path, Inventory *out, std::string *error);

// "1h30m", "36h", "2d", "90s", "45m" or a bare number of seconds; false for
// anything else or above a year.
bool ParseDuration(const std::string &text, uint64_t *seconds);
// The shortest of those forms ("1d12h", "10m").
std::string FormatDuration(uint64_t seconds);

// How "fleet check" shows where a value came from: "built-in",
// "defaults:12", "group berlin:20", "device:31", "fleet:3" (a run setting).
std::string SourceText(const Source &source);

// What "fleet check" prints: one row per device with every setting and its
// source, in text or (json) one JSON object a line.
std::string CheckReport(const Inventory &inventory, bool json);

}  // namespace vtcli::fleet
