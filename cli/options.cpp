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

const std::set<std::string> kCommands = {"boxes", "backup", "restore", "info", "convert"};

// convert backup|archive SRC DST, convert summary.
bool ParseConvert(const std::vector<std::string> &positional, Options *o, std::string *error) {
    if (positional.size() < 2 && o->help) return true;
    if (positional.size() < 2) {
        *error = "convert needs backup, archive or summary";
        return false;
    }
    o->convertWhat = positional[1];
    if (o->convertWhat == "summary") {
        if (positional.size() > 2) {
            *error = "unexpected argument \"" + positional[2] + "\"";
            return false;
        }
        if (o->help) return true;
        if (o->fromVersion.empty() || o->toVersion.empty()) {
            *error = "convert summary needs --from and --to";
            return false;
        }
        return true;
    }
    if (o->convertWhat != "backup" && o->convertWhat != "archive") {
        *error = "convert takes backup, archive or summary, not \"" + o->convertWhat + "\"";
        return false;
    }
    if (o->help) return true;
    if (positional.size() != 4) {
        *error = "convert " + o->convertWhat + " needs the source file and the destination file";
        return false;
    }
    o->source = positional[2];
    o->destination = positional[3];
    if (o->toVersion.empty()) {
        *error = "convert " + o->convertWhat + " needs --to (the engine version to convert for)";
        return false;
    }
    return true;
}

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
        } else if (a == "--from") {
            if (!need(i, a, &o->fromVersion)) return false;
        } else if (a == "--to") {
            if (!need(i, a, &o->toVersion)) return false;
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
    if (o->command == "convert") return ParseConvert(positional, o, error);
    if (o->command == "info" && positional.size() == 2 && o->input.empty()) {
        o->input = positional[1];
    } else if (positional.size() > 1) {
        *error = "unexpected argument \"" + positional[1] + "\"";
        return false;
    }
    if (o->help) return true;
    if (o->command != "info" && o->host.empty()) {
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
               "  also after a failure or Ctrl-C.\n\n" + common;
    if (command == "restore")
        return "vtbox --host H [--port N] [--ftp-port N] restore --input FILE --boxes 1,2|all\n"
               "      --mode replace|keep-both\n"
               "  Writes the chosen boxes of a backup file back into the device. replace deletes\n"
               "  the device's documents of the same name; keep-both renames the restored ones.\n\n" + common;
    if (command == "convert")
        return "vtbox convert backup SOURCE DESTINATION [--from VERSION] --to VERSION\n"
               "vtbox convert archive SOURCE DESTINATION [--from VERSION] --to VERSION\n"
               "vtbox convert summary --from VERSION --to VERSION [--json]\n"
               "  Converts a backup file or a document archive made on one engine version for\n"
               "  another, leaving out the documents the other cannot hold (colour, wide paper,\n"
               "  copies of mixed kind) as the settings file of the source version says, and\n"
               "  prints what was kept and removed, per box. SOURCE is never changed and an\n"
               "  existing DESTINATION is never replaced. Without --from the source version is\n"
               "  read from SOURCE's own description. summary tells what a conversion would\n"
               "  leave out without converting anything. Ctrl-C cancels cleanly.\n"
               "  Settings files (\"<version>.ini\", every \"/\" as \"_\") are looked for beside\n"
               "  vtbox, in the current folder, in <prefix>/share/vtbox/conversion and in the\n"
               "  folders of VTBOX_CONVERSION_PATH.\n";
    if (command == "info")
        return "vtbox info FILE [--json]\n"
               "  Shows the description of a backup or archive file: source device, date, boxes.\n";
    return "vtbox - backup and restore of a printer's document boxes\n\n"
           "Commands:\n"
           "  boxes     list the device's boxes\n"
           "  backup    back boxes up into a file\n"
           "  restore   write boxes of a backup file back into the device\n"
           "  info      describe a backup file\n"
           "  convert   convert a backup file or document archive for another engine version\n\n"
           "vtbox COMMAND --help shows a command's options.\n\n" + common;
}

}  // namespace vtcli
