#include "options.hpp"

#include <cerrno>
#include <cstdlib>
#include <set>

namespace vtcli {

namespace {

bool ParseNumber(const std::string &text, uint32_t max, uint32_t *out) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
    if (errno != 0 || v > max) return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

const std::set<std::string> kCommands = {"boxes", "backup", "restore", "info", "prune"};

}  // namespace

bool ParseBoxList(const std::string &text, std::vector<uint32_t> *boxes, bool *all, std::string *error) {
    boxes->clear();
    *all = false;
    if (text == "all") {
        *all = true;
        return true;
    }
    std::set<uint32_t> seen;
    size_t i = 0;
    while (i <= text.size()) {
        size_t comma = text.find(',', i);
        if (comma == std::string::npos) comma = text.size();
        std::string part = text.substr(i, comma - i);
        uint32_t n = 0;
        if (!ParseNumber(part, 999, &n) || n == 0) {
            *error = "box numbers are 1 to 999, separated by commas, or \"all\": \"" + text + "\"";
            return false;
        }
        if (seen.insert(n).second) boxes->push_back(n);
        i = comma + 1;
    }
    return true;
}

bool ParseOptions(int argc, char **argv, Options *o, std::string *error) {
    auto need = [&](int &i, const std::string &name, std::string *value) {
        if (i + 1 >= argc) {
            *error = name + " needs a value";
            return false;
        }
        *value = argv[++i];
        return true;
    };
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        std::string v;
        if (a == "--help" || a == "-h") {
            o->help = true;
        } else if (a == "--host") {
            if (!need(i, a, &o->host)) return false;
        } else if (a == "--port") {
            if (!need(i, a, &v)) return false;
            if (!ParseNumber(v, 65535, &o->port) || o->port == 0) {
                *error = "--port takes a port number from 1 to 65535";
                return false;
            }
        } else if (a == "--ftp-port") {
            uint32_t p = 0;
            if (!need(i, a, &v)) return false;
            if (!ParseNumber(v, 65535, &p) || p == 0) {
                *error = "--ftp-port takes a port number from 1 to 65535";
                return false;
            }
            o->ftpPort = p;
        } else if (a == "--password-file") {
            if (!need(i, a, &o->passwordFile)) return false;
        } else if (a == "--password") {
            *error = "the password is never taken from the command line: use VTBOX_PASSWORD, --password-file or the prompt";
            return false;
        } else if (a == "--json") {
            o->json = true;
        } else if (a == "--boxes") {
            if (!need(i, a, &v) || !ParseBoxList(v, &o->boxes, &o->allBoxes, error)) return false;
        } else if (a == "--output" || a == "-o") {
            if (!need(i, a, &o->output)) return false;
        } else if (a == "--input" || a == "-i") {
            if (!need(i, a, &o->input)) return false;
        } else if (a == "--mode") {
            if (!need(i, a, &v)) return false;
            if (v == "replace") o->mode = 1;
            else if (v == "keep-both") o->mode = 0;
            else {
                *error = "--mode is replace or keep-both";
                return false;
            }
            o->modeGiven = true;
        } else if (a == "--keep-last" || a == "--keep-daily" || a == "--keep-weekly" || a == "--keep-monthly") {
            uint32_t *rule = a == "--keep-last" ? &o->prune.last
                             : a == "--keep-daily" ? &o->prune.daily
                             : a == "--keep-weekly" ? &o->prune.weekly
                                                    : &o->prune.monthly;
            if (!need(i, a, &v)) return false;
            if (!ParseNumber(v, 100000, rule)) {
                *error = a + " takes a count from 0 to 100000";
                return false;
            }
        } else if (a == "--dry-run") {
            o->dryRun = true;
        } else if (!a.empty() && a[0] == '-') {
            *error = "unknown option " + a;
            return false;
        } else {
            positional.push_back(a);
        }
    }
    if (positional.empty()) {
        if (!o->help) *error = "no command given";
        return o->help;
    }
    o->command = positional[0];
    if (!kCommands.count(o->command)) {
        *error = "unknown command \"" + o->command + "\"";
        return false;
    }
    if ((o->command == "info" || o->command == "prune") && positional.size() == 2 && o->input.empty()) {
        o->input = positional[1];
    } else if (positional.size() > 1) {
        *error = "unexpected argument \"" + positional[1] + "\"";
        return false;
    }
    if (o->help) return true;
    if (o->command != "info" && o->command != "prune" && o->host.empty()) {
        *error = "--host is needed to reach the device";
        return false;
    }
    if (o->command == "backup" && ((o->boxes.empty() && !o->allBoxes) || o->output.empty())) {
        *error = "backup needs --boxes and --output";
        return false;
    }
    if (o->command == "restore" && ((o->boxes.empty() && !o->allBoxes) || o->input.empty() || !o->modeGiven)) {
        *error = "restore needs --input, --boxes and --mode";
        return false;
    }
    if (o->command == "info" && o->input.empty()) {
        *error = "info needs the backup file";
        return false;
    }
    if (o->command == "prune" && (o->input.empty() || !o->prune.any())) {
        *error = "prune needs the folder and at least one of --keep-last, --keep-daily, --keep-weekly, --keep-monthly";
        return false;
    }
    return true;
}

std::string HelpText(const std::string &command) {
    const std::string common =
        "Global options:\n"
        "  --host H            the device's address (name or IPv4)\n"
        "  --port N            the box web service port (default 8080)\n"
        "  --ftp-port N        the device's FTP port (default 21, or VTBOX_FTP_PORT)\n"
        "  --password-file F   read the administrator password from the first line of F\n"
        "The password comes from VTBOX_PASSWORD, --password-file, or a prompt; never\n"
        "from the command line.\n";
    if (command == "boxes")
        return "vtbox --host H [--port N] boxes [--json]\n"
               "  Lists the device's boxes: number, name, protection and last update.\n\n" + common;
    if (command == "backup")
        return "vtbox --host H [--port N] [--ftp-port N] backup --boxes 1,2,5|all --output FILE\n"
               "  Backs the chosen boxes up into FILE (a zip file). The device's panel is locked\n"
               "  and a temporary FTP account made for the job; both are undone when it ends,\n"
               "  also after a failure or Ctrl-C. In FILE, %Y %m %d %H %M %S are the date and\n"
               "  time the backup starts (%% is a percent sign): --output box-%Y%m%d-%H%M.zip\n\n" + common;
    if (command == "restore")
        return "vtbox --host H [--port N] [--ftp-port N] restore --input FILE --boxes 1,2|all\n"
               "      --mode replace|keep-both\n"
               "  Writes the chosen boxes of a backup file back into the device. replace deletes\n"
               "  the device's documents of the same name; keep-both renames the restored ones.\n\n" + common;
    if (command == "info")
        return "vtbox info FILE [--json]\n"
               "  Shows the description of a backup or archive file: source device, date, boxes.\n";
    if (command == "prune")
        return "vtbox prune DIR [--keep-last N] [--keep-daily N] [--keep-weekly N] [--keep-monthly N]\n"
               "      [--dry-run] [--json]\n"
               "  Keeps the N newest backups and the newest backup of each of the N latest days,\n"
               "  weeks (Monday to Sunday) and months that have one, and removes the other\n"
               "  backups in DIR. The date is the one in each file's description. Files that\n"
               "  are not backups are left alone, and the newest backup is never removed.\n"
               "  --dry-run prints what would be kept and removed, and removes nothing.\n";
    return "vtbox - backup and restore of a printer's document boxes\n\n"
           "Commands:\n"
           "  boxes     list the device's boxes\n"
           "  backup    back boxes up into a file\n"
           "  restore   write boxes of a backup file back into the device\n"
           "  info      describe a backup file\n"
           "  prune     remove old backups from a folder\n\n"
           "vtbox COMMAND --help shows a command's options.\n\n" + common;
}

}  // namespace vtcli
