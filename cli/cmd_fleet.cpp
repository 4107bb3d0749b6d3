// vtbox fleet: many devices of one inventory. Its own command line, after
// the word "fleet": check, backup, status and verify of an inventory file.
#include "cmd_fleet.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "exit_codes.hpp"
#include "fleet_inventory.hpp"
#include "fleet_run.hpp"
#include "json_output.hpp"
#include "options.hpp"

namespace vtcli {

namespace {

constexpr uint32_t kMaxJobs = 64;  // as the inventory's jobs

const char *kFleetHelp =
    "vtbox fleet - many devices of one inventory\n\n"
    "  vtbox fleet check  INVENTORY [--json]\n"
    "      read and resolve the inventory without touching a device: one row per\n"
    "      device with every setting it will use and where that came from\n"
    "  vtbox fleet backup INVENTORY [--jobs N] [--group G]... [--device NAME]...\n"
    "                     [--verify] [--json] [--metrics FILE]\n"
    "      back every enabled device up, each by a vtbox of its own, N at once\n"
    "      (default: the inventory's jobs, else 4); prune each device's folder by\n"
    "      its keep rules after a success; one report at the end\n"
    "  vtbox fleet status INVENTORY [--json]\n"
    "      each device's last success and its age, last outcome and newest file;\n"
    "      exit 13 when a device has no good backup within its stale-after\n"
    "  vtbox fleet verify INVENTORY [--group G]... [--device NAME]... [--json]\n"
    "                     [--metrics FILE]\n"
    "      read each device's newest backup whole (no device contact)\n\n"
    "Exit codes: 0 every device done, 2 a bad inventory or command line, 5 another\n"
    "fleet run of the inventory is under way, 12 one or more devices failed,\n"
    "13 (status) one or more devices stale, 130 Ctrl-C, 143 SIGTERM.\n"
    "The inventory's format, the state file, the metrics and the hooks: man vtbox-fleet.\n";

int Usage(const std::string &message) {
    std::fprintf(stderr, "vtbox: %s\n(vtbox fleet --help shows the fleet's commands)\n", message.c_str());
    return kExitUsage;
}

}  // namespace

int RunFleetCommand(int argc, char **argv) {
    // argv[0] is vtbox, argv[1] "fleet".
    std::vector<std::string> args(argv + 2, argv + argc);
    if (args.empty()) return Usage("fleet needs a command: check, backup, status or verify");
    for (const std::string &a : args)
        if (a == "--help" || a == "-h") {
            std::fputs(kFleetHelp, stdout);
            return kExitDone;
        }
    const std::string sub = args[0];
    const std::vector<std::string> subs = {"check", "backup", "status", "verify"};
    if (std::find(subs.begin(), subs.end(), sub) == subs.end()) {
        std::string near = ClosestMatch(sub, subs);
        return Usage("fleet has no command \"" + sub + "\"" + (near.empty() ? "" : "; did you mean " + near + "?"));
    }
    fleet::RunOptions options;
    std::string inventoryPath;
    for (size_t i = 1; i < args.size(); ++i) {
        std::string a = args[i], value;
        const size_t eq = a.find('=');
        const bool inlineValue = a.rfind("--", 0) == 0 && eq != std::string::npos;
        if (inlineValue) {
            value = a.substr(eq + 1);
            a = a.substr(0, eq);
        }
        auto takesValue = [&](const char *name) -> bool {
            if (a != name) return false;
            if (!inlineValue) {
                if (i + 1 >= args.size()) return false;
                value = args[++i];
            }
            return true;
        };
        const bool running = sub == "backup" || sub == "verify";
        if (a == "--json" && !inlineValue) {
            options.json = true;
        } else if (sub == "backup" && a == "--verify" && !inlineValue) {
            options.verify = true;
        } else if (sub == "backup" && a == "--jobs") {
            if (!takesValue("--jobs")) return Usage("--jobs needs a number");
            char *end = nullptr;
            errno = 0;
            unsigned long n = std::strtoul(value.c_str(), &end, 10);
            if (value.empty() || *end || errno || n < 1 || n > kMaxJobs || value[0] == '-')
                return Usage("--jobs takes a number from 1 to " + std::to_string(kMaxJobs) + ", not \"" + value + "\"");
            options.jobs = static_cast<uint32_t>(n);
        } else if (running && a == "--group") {
            if (!takesValue("--group") || value.empty()) return Usage("--group needs a group's name");
            options.groups.push_back(value);
        } else if (running && a == "--device") {
            if (!takesValue("--device") || value.empty()) return Usage("--device needs a device's name");
            options.devices.push_back(value);
        } else if (running && a == "--metrics") {
            if (!takesValue("--metrics") || value.empty()) return Usage("--metrics needs a file");
            options.metrics = std::filesystem::absolute(value).string();
        } else if (a.rfind("-", 0) == 0 && a.size() > 1) {
            return Usage("fleet " + sub + " takes no option " + a);
        } else if (inventoryPath.empty()) {
            inventoryPath = a;
        } else {
            return Usage("fleet " + sub + " takes one inventory, not also \"" + a + "\"");
        }
    }
    if (inventoryPath.empty()) return Usage("fleet " + sub + " needs the inventory file");
    Output().json = options.json;

    fleet::Inventory inventory;
    std::string error;
    if (!fleet::LoadInventory(std::filesystem::absolute(inventoryPath).string(), &inventory, &error)) {
        std::fprintf(stderr, "vtbox: %s\n", error.c_str());
        if (options.json) {
            JsonObject o;
            o.Add("type", "summary")
                .Add("command", "fleet " + sub)
                .Add("outcome", "failed")
                .Add("exitCode", int{kExitUsage})
                .Add("text", error);
            PrintJsonLine(o.str());
        }
        return kExitUsage;
    }
    if (sub == "check") {
        std::fputs(fleet::CheckReport(inventory, options.json).c_str(), stdout);
        return kExitDone;
    }
    if (sub == "status") return fleet::RunFleetStatus(inventory, options.json);
    // Each device's job runs this very program.
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return Usage("cannot find the vtbox program itself (/proc/self/exe)");
    options.program.assign(self, static_cast<size_t>(n));
    return sub == "backup" ? fleet::RunFleetBackup(inventory, options) : fleet::RunFleetVerify(inventory, options);
}

}  // namespace vtcli
