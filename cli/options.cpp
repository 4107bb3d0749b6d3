#include "options.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <set>

#include "exit_codes.hpp"

namespace vtcli {

namespace {

bool ParseNumber(const std::string &text, uint32_t max, uint32_t *out) {
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
    if (errno != 0 || v > max) return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

const std::vector<std::string> kCommands = {"boxes", "backup",  "restore", "info",    "verify",  "ls",   "find",
                                            "diff",  "extract", "unlock",  "version", "convert", "prune"};
const std::set<std::string> kDeviceCommands = {"boxes", "backup", "restore", "diff", "unlock"};

// One option: its long name, its short letter (or 0), whether it takes a
// value, and which commands take it (empty: every command).
struct OptionSpec {
    const char *name;
    char letter;
    bool value;
    std::set<std::string> commands;
    std::function<bool(Options *, const std::string &, std::string *)> apply;
};

bool Port(const std::string &name, const std::string &v, std::optional<uint32_t> *out, std::string *error) {
    uint32_t p = 0;
    if (!ParseNumber(v, 65535, &p) || p == 0) {
        *error = name + " takes a port number from 1 to 65535, not \"" + v + "\"";
        return false;
    }
    *out = p;
    return true;
}

bool Count(const std::string &name, const std::string &v, uint32_t *out, std::string *error) {
    if (!ParseNumber(v, 100000, out)) {
        *error = name + " takes a count from 0 to 100000, not \"" + v + "\"";
        return false;
    }
    return true;
}

const std::vector<OptionSpec> &Specs() {
    static const std::vector<OptionSpec> specs = {
        {"help", 'h', false, {}, [](Options *o, const std::string &, std::string *) { return o->help = true; }},
        {"version",
         0,
         false,
         {},
         [](Options *o, const std::string &, std::string *) {
             o->command = "version";
             return true;
         }},
        {"json",
         0,
         false,
         {"boxes", "backup", "restore", "info", "verify", "ls", "find", "diff", "extract", "version", "convert",
          "prune"},
         [](Options *o, const std::string &, std::string *) { return o->json = true; }},
        {"quiet", 'q', false, {}, [](Options *o, const std::string &, std::string *) { return o->quiet = true; }},
        {"no-progress",
         0,
         false,
         {"backup", "restore"},
         [](Options *o, const std::string &, std::string *) { return o->noProgress = true; }},
        {"verbose", 'v', false, {}, [](Options *o, const std::string &, std::string *) { return o->verbose = true; }},
        {"host", 0, true, kDeviceCommands,
         [](Options *o, const std::string &v, std::string *e) {
             if (v.empty()) {
                 *e = "--host needs the device's address";
                 return false;
             }
             o->host = v;
             return true;
         }},
        {"port", 0, true, kDeviceCommands,
         [](Options *o, const std::string &v, std::string *e) { return Port("--port", v, &o->port, e); }},
        {"ftp-port", 0, true, kDeviceCommands,
         [](Options *o, const std::string &v, std::string *e) { return Port("--ftp-port", v, &o->ftpPort, e); }},
        {"password-file", 0, true, kDeviceCommands,
         [](Options *o, const std::string &v, std::string *) {
             o->passwordFile = v;
             return true;
         }},
        {"password-command", 0, true, kDeviceCommands,
         [](Options *o, const std::string &v, std::string *) {
             o->passwordCommand = v;
             return true;
         }},
        {"timeout", 0, true, kDeviceCommands,
         [](Options *o, const std::string &v, std::string *e) {
             uint32_t s = 0;
             if (!ParseNumber(v, 3600, &s) || s == 0) {
                 *e = "--timeout takes seconds from 1 to 3600, not \"" + v + "\"";
                 return false;
             }
             o->timeout = s;
             return true;
         }},
        {"boxes",
         0,
         true,
         {"backup", "restore", "diff"},
         [](Options *o, const std::string &v, std::string *e) { return ParseBoxList(v, &o->boxes, &o->allBoxes, e); }},
        {"output",
         'o',
         true,
         {"backup", "extract"},
         [](Options *o, const std::string &v, std::string *) {
             o->output = v;
             return true;
         }},
        {"input",
         'i',
         true,
         {"restore", "info", "verify"},
         [](Options *o, const std::string &v, std::string *) {
             o->input = v;
             return true;
         }},
        {"mode",
         0,
         true,
         {"restore"},
         [](Options *o, const std::string &v, std::string *e) {
             if (v == "replace")
                 o->mode = 1;
             else if (v == "keep-both")
                 o->mode = 0;
             else {
                 *e = "--mode is replace or keep-both, not \"" + v + "\"";
                 return false;
             }
             o->modeGiven = true;
             return true;
         }},
        {"only",
         0,
         true,
         {"restore"},
         [](Options *o, const std::string &v, std::string *e) {
             if (v.empty()) {
                 *e = "--only needs a path in the backup file (BOX, BOX/FOLDER or BOX/FOLDER/DOCUMENT)";
                 return false;
             }
             o->only.push_back(v);
             return true;
         }},
        {"verify",
         0,
         false,
         {"backup"},
         [](Options *o, const std::string &, std::string *) { return o->verify = true; }},
        {"replace-read-only",
         0,
         false,
         {"backup"},
         [](Options *o, const std::string &, std::string *) { return o->replaceReadOnly = true; }},
        {"force", 0, false, {"unlock"}, [](Options *o, const std::string &, std::string *) { return o->force = true; }},
        {"from",
         0,
         true,
         {"convert"},
         [](Options *o, const std::string &v, std::string *) {
             o->fromVersion = v;
             return true;
         }},
        {"to",
         0,
         true,
         {"convert"},
         [](Options *o, const std::string &v, std::string *) {
             o->toVersion = v;
             return true;
         }},
        {"dry-run",
         'n',
         false,
         {"restore", "prune"},
         [](Options *o, const std::string &, std::string *) { return o->dryRun = true; }},
        {"keep-last",
         0,
         true,
         {"prune"},
         [](Options *o, const std::string &v, std::string *e) { return Count("--keep-last", v, &o->prune.last, e); }},
        {"keep-daily",
         0,
         true,
         {"prune"},
         [](Options *o, const std::string &v, std::string *e) { return Count("--keep-daily", v, &o->prune.daily, e); }},
        {"keep-weekly",
         0,
         true,
         {"prune"},
         [](Options *o, const std::string &v, std::string *e) {
             return Count("--keep-weekly", v, &o->prune.weekly, e);
         }},
        {"keep-monthly",
         0,
         true,
         {"prune"},
         [](Options *o, const std::string &v, std::string *e) {
             return Count("--keep-monthly", v, &o->prune.monthly, e);
         }},
    };
    return specs;
}

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
            *error = "convert summary takes no files; unexpected \"" + positional[2] + "\"";
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

// ls FILE [PATH], find FILE PATTERN, extract FILE PATH... -o DIR.
bool ParseBrowse(const std::vector<std::string> &positional, Options *o, std::string *error) {
    if (o->help) return true;
    const std::string &c = o->command;
    if (positional.size() < 2) {
        *error = c + " needs the backup file";
        return false;
    }
    o->input = positional[1];
    o->paths.assign(positional.begin() + 2, positional.end());
    if (c == "ls" && o->paths.size() > 1) {
        *error = "ls takes one path at most (BOX or BOX/FOLDER); unexpected \"" + o->paths[1] + "\"";
        return false;
    }
    if (c == "find" && o->paths.size() != 1) {
        *error = o->paths.empty() ? "find needs a pattern (\"*scan*\", quoted)"
                                  : "find takes one pattern (quote it); unexpected \"" + o->paths[1] + "\"";
        return false;
    }
    if (c == "extract" && (o->paths.empty() || o->output.empty())) {
        *error = "extract needs what to extract (BOX, BOX/FOLDER or BOX/FOLDER/DOCUMENT) and -o DIR";
        return false;
    }
    return true;
}

size_t EditDistance(const std::string &a, const std::string &b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[b.size()];
}

// An option met before its command is known, checked once the command is.
struct Given {
    const OptionSpec *known;
    std::string spelled;
};

}  // namespace

std::string ClosestMatch(const std::string &word, const std::vector<std::string> &candidates) {
    std::string best;
    size_t bestDistance = 0;
    for (const auto &c : candidates) {
        size_t d = EditDistance(word, c);
        // A prefix of a candidate counts as close too ("--out" for "--output").
        if (c.size() > word.size() && word.size() >= 3 && c.compare(0, word.size(), word) == 0) d = 1;
        if (best.empty() || d < bestDistance) {
            best = c;
            bestDistance = d;
        }
    }
    size_t allowed = std::max<size_t>(1, std::min<size_t>(2, word.size() / 3));
    return !best.empty() && bestDistance <= allowed ? best : std::string();
}

bool ParseBoxList(const std::string &text, std::vector<uint32_t> *boxes, bool *all, std::string *error) {
    boxes->clear();
    *all = false;
    if (text == "all") {
        *all = true;
        return true;
    }
    auto bad = [&] {
        *error = "--boxes takes box numbers from 1 to 999 and ranges, separated by commas (1-3,7), or \"all\": \"" +
                 text + "\"";
        return false;
    };
    std::set<uint32_t> seen;
    size_t i = 0;
    while (i <= text.size()) {
        size_t comma = text.find(',', i);
        if (comma == std::string::npos) comma = text.size();
        std::string part = text.substr(i, comma - i);
        size_t dash = part.find('-');
        uint32_t first = 0, last = 0;
        if (dash == std::string::npos) {
            if (!ParseNumber(part, 999, &first)) return bad();
            last = first;
        } else if (!ParseNumber(part.substr(0, dash), 999, &first) || !ParseNumber(part.substr(dash + 1), 999, &last) ||
                   last < first) {
            return bad();
        }
        if (first == 0) return bad();
        for (uint32_t n = first; n <= last; ++n)
            if (seen.insert(n).second) boxes->push_back(n);
        i = comma + 1;
    }
    return true;
}

bool ParseOptions(int argc, char **argv, Options *o, std::string *error) {
    std::vector<std::string> positional;
    std::vector<Given> given;
    std::vector<std::string> names;
    for (const auto &s : Specs()) names.push_back(std::string("--") + s.name);
    names.push_back("--password");

    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--") {
            for (++i; i < argc; ++i) positional.push_back(argv[i]);
            break;
        }
        if (a.size() < 2 || a[0] != '-') {
            positional.push_back(a);
            continue;
        }
        const OptionSpec *known = nullptr;
        std::string value;
        bool inlineValue = false;
        if (a[1] == '-') {
            std::string name = a.substr(2);
            size_t eq = name.find('=');
            if (eq != std::string::npos) {
                value = name.substr(eq + 1);
                name = name.substr(0, eq);
                inlineValue = true;
            }
            if (name == "password") {
                *error =
                    "the password is never taken from the command line: use --password-file, "
                    "--password-command, VTBOX_PASSWORD or the prompt";
                return false;
            }
            for (const auto &s : Specs())
                if (name == s.name) known = &s;
            if (!known) {
                std::string near = ClosestMatch("--" + name, names);
                *error = "unknown option --" + name + (near.empty() ? "" : "; did you mean " + near + "?");
                return false;
            }
        } else {
            if (a.size() != 2) {
                // "-ofile" is -o with its value, as in getopt.
                for (const auto &s : Specs())
                    if (s.letter == a[1] && s.value) known = &s;
                if (known) {
                    value = a.substr(2);
                    inlineValue = true;
                }
            } else {
                for (const auto &s : Specs())
                    if (s.letter == a[1]) known = &s;
            }
            if (!known) {
                *error = "unknown option " + a;
                return false;
            }
        }
        std::string spelled = a[1] == '-' ? "--" + std::string(known->name) : a.substr(0, 2);
        if (known->value && !inlineValue) {
            if (i + 1 >= argc) {
                *error = spelled + " needs a value";
                return false;
            }
            value = argv[++i];
        } else if (!known->value && inlineValue) {
            *error = spelled + " takes no value";
            return false;
        }
        if (!known->apply(o, value, error)) return false;
        given.push_back({known, spelled});
    }

    if (o->command == "version" && positional.empty()) positional.push_back("version");
    if (positional.empty()) {
        if (o->help) return true;
        *error = "no command given";
        return false;
    }
    if (o->command == "version" && positional[0] != "version") {
        *error = "--version takes no command";
        return false;
    }
    o->command = positional[0];
    if (std::find(kCommands.begin(), kCommands.end(), o->command) == kCommands.end()) {
        std::string near = ClosestMatch(o->command, kCommands);
        *error = "unknown command \"" + o->command + "\"" + (near.empty() ? "" : "; did you mean " + near + "?");
        return false;
    }
    for (const auto &g : given)
        if (!g.known->commands.empty() && !g.known->commands.count(o->command)) {
            *error = o->command + " does not take " + g.spelled;
            return false;
        }
    if (o->quiet && o->verbose) {
        *error = "--quiet and --verbose exclude each other";
        return false;
    }
    if (o->command == "convert") return ParseConvert(positional, o, error);
    if (o->help) return true;

    bool takesFile = o->command == "info" || o->command == "verify" || o->command == "diff";
    bool takesFolder = o->command == "prune";
    if ((takesFile || takesFolder) && positional.size() >= 2 && o->input.empty()) {
        o->input = positional[1];
        positional.erase(positional.begin() + 1);
    }
    if (o->command == "ls" || o->command == "find" || o->command == "extract") return ParseBrowse(positional, o, error);
    if (positional.size() > 1) {
        *error = o->command +
                 (takesFile     ? " takes one backup file"
                  : takesFolder ? " takes one folder"
                                : " takes no arguments") +
                 "; unexpected \"" + positional[1] + "\"";
        return false;
    }
    if (o->command == "backup" && ((o->boxes.empty() && !o->allBoxes) || o->output.empty())) {
        *error = "backup needs --boxes and --output";
        return false;
    }
    if (o->command == "restore" && (o->boxes.empty() && !o->allBoxes) == o->only.empty()) {
        *error = o->only.empty() ? "restore needs --boxes or --only" : "restore takes --boxes or --only, not both";
        return false;
    }
    if (o->command == "restore" && (o->input.empty() || !o->modeGiven)) {
        *error = "restore needs --input and --mode";
        return false;
    }
    if (takesFile && o->input.empty()) {
        *error = o->command + " needs the backup file";
        return false;
    }
    if (takesFolder && (o->input.empty() || !o->prune.any())) {
        *error = "prune needs the folder and at least one of --keep-last, --keep-daily, --keep-weekly, --keep-monthly";
        return false;
    }
    return true;
}

std::string HelpText(const std::string &command) {
    const std::string device =
        "Device options (also from the environment or the configuration file):\n"
        "  --host H               the device's address (name or IPv4)       VTBOX_HOST\n"
        "  --port N               the box web service port (default 8080)   VTBOX_PORT\n"
        "  --ftp-port N           the device's FTP port (default 21)        VTBOX_FTP_PORT\n"
        "  --timeout S            seconds to wait for the device's first answer (default 60)\n"
        "  --password-file F      the administrator password: first line of F (mode 600)\n"
        "                                                                   VTBOX_PASSWORD_FILE\n"
        "  --password-command C   the password: first line C prints         VTBOX_PASSWORD_COMMAND\n"
        "                         (within 30 s, VTBOX_PASSWORD_COMMAND_SECONDS, and 64 KiB;\n"
        "                         beyond either it is stopped and vtbox exits 2)\n"
        "The password comes from --password-file or --password-command, else from\n"
        "VTBOX_PASSWORD, the variables above, the configuration file, or a prompt;\n"
        "never from the command line. Flags beat the environment, which beats the\n"
        "file ($XDG_CONFIG_HOME/vtbox/vtbox.conf, else /etc/vtbox/vtbox.conf; lines\n"
        "\"key = value\" with the keys host, port, ftp-port, timeout, password,\n"
        "password-file, password-command). A file that holds a password must not be\n"
        "readable by others; the file and a password file are regular files of at\n"
        "most 64 KiB.\n";
    const std::string output =
        "Output options:\n"
        "  --json                 JSON on standard output (JSON lines for backup and restore);\n"
        "                         a run that stops before its result ends in the summary line\n"
        "  -q, --quiet            errors only\n"
        "  -v, --verbose          the engine's diagnostic lines too\n";
    const std::string codes = std::string("Exit codes:\n") + ExitCodeTable();
    if (command == "boxes")
        return "vtbox [device options] boxes [--json]\n"
               "  Lists the device's boxes: number, name, protection and last update.\n\n" +
               device + "\n" + output;
    if (command == "backup")
        return "vtbox [device options] backup --boxes 1,2,5|1-3,7|all -o|--output FILE [--verify] [--json]\n"
               "      [--replace-read-only] [--no-progress]\n"
               "  Backs the chosen boxes up into FILE (a zip file, mode 600). The device's panel\n"
               "  is locked and a temporary FTP account made for the job; both are undone when\n"
               "  it ends, also after a failure or Ctrl-C. With --verify the new file is read\n"
               "  back whole before it replaces an older FILE. A read-only FILE is refused\n"
               "  unless --replace-read-only is given. In FILE, %Y %m %d %H %M %S are the date\n"
               "  and time the backup starts, %N the run number: one after the highest that a\n"
               "  file of that name carries (001 at first), never one that exists, taken once\n"
               "  the file is complete without replacing any file (a job beside this one may\n"
               "  have taken it: then the next; the name printed is the one used). %% is a\n"
               "  percent sign:\n"
               "  --output box-%Y%m%d-%H%M.zip    --output nightly_%N.zip\n"
               "  --no-progress leaves the progress lines out: the result and errors stay.\n\n" +
               device + "\n" + output + "\n" + codes;
    if (command == "restore")
        return "vtbox [device options] restore -i|--input FILE --boxes 1,2|1-3|all\n"
               "      --mode replace|keep-both [--dry-run] [--json] [--no-progress]\n"
               "vtbox [device options] restore -i|--input FILE --only PATH [--only PATH ...]\n"
               "      --mode replace|keep-both [--dry-run] [--json] [--no-progress]\n"
               "  Writes the chosen boxes of a backup file back into the device. replace deletes\n"
               "  the device's documents of the same name; keep-both renames the restored ones.\n"
               "  --only restores just a box, a folder or a document (repeat it for more), by the\n"
               "  rules of a whole box: the device's other documents stay as they are, and a\n"
               "  document whose folder is gone brings its folder. PATH names the box by number\n"
               "  and folders and documents by name or number, as vtbox ls shows them:\n"
               "  --only \"3/Invoices/Scan 12\" or --only 3/F2/D17.\n"
               "  --dry-run (-n) shows what the restore would do, box by box, without locking or\n"
               "  writing anything.\n"
               "  --no-progress leaves the progress lines out: the result and errors stay.\n\n" +
               device + "\n" + output + "\n" + codes;
    if (command == "ls")
        return "vtbox ls FILE [BOX[/FOLDER]] [--json]\n"
               "  Lists what a backup file holds, without a device, one line an entry: boxes,\n"
               "  folders and documents with their paths by number (3/F2/D17) and by name\n"
               "  (3/Invoices/Scan 12), pages, size, last update (UTC) and kind (colour, wide\n"
               "  paper, copy mix). The file is read as verify reads it, a box at a time, and\n"
               "  each entry is written as it is read: a damaged file is refused (exit 8; a\n"
               "  damaged box after the boxes before it), and a path that is not in it exits 7.\n\n" +
               output + "\n" + codes;
    if (command == "find")
        return "vtbox find FILE PATTERN [--json]\n"
               "  Lists the folders and documents of every box of a backup file whose names\n"
               "  match PATTERN, blind to case: * any text, ? one character, [abc] one of a set\n"
               "  (quote the pattern: \"*invoice*\"). Exits 7 when nothing matches.\n\n" +
               output + "\n" + codes;
    if (command == "diff")
        return "vtbox [device options] diff FILE [--boxes 1,2|1-3|all] [--json]\n"
               "  Compares a backup file with the device, reading the device's lists only (no\n"
               "  lock, nothing written): per box, the folders and documents deleted since the\n"
               "  backup, new since, and changed (pages, size or last update). Exits 0 whether\n"
               "  or not anything differs; --json tells which.\n\n" +
               device + "\n" + output + "\n" + codes;
    if (command == "extract")
        return "vtbox extract FILE PATH [PATH ...] -o|--output DIR [--json]\n"
               "  Writes documents of a backup file into DIR, without a device: each document's\n"
               "  page files and record in a folder of its own named after it (the name made\n"
               "  safe; \"Report (2)\" when taken). PATH is a box, a folder or a document, as\n"
               "  ls prints it. Nothing in DIR is ever replaced; DIR is made if missing. Each\n"
               "  document is shown as it is written, a box at a time.\n\n" +
               output + "\n" + codes;
    if (command == "info")
        return "vtbox info FILE [--json]\n"
               "  Shows the description of a backup or archive file: source device, date, boxes.\n"
               "  It reads the description only; vtbox verify reads the whole file.\n\n" +
               output;
    if (command == "verify")
        return "vtbox verify FILE [--json]\n"
               "  Reads the whole backup file without a device: every archive and entry against\n"
               "  its CRC, the description against what the box archives hold, a record for\n"
               "  every document and folder. Exits 8 when something is wrong.\n\n" +
               output;
    if (command == "unlock")
        return "vtbox [device options] unlock [--force]\n"
               "  Releases the panel lock and the temporary FTP account that a job of this\n"
               "  computer left on the device: a vtbox or VAULTRABackupRestore job that was\n"
               "  killed (SIGKILL, power loss), or one that could not release the device.\n"
               "  Only a web session that still has the job's FTP account is released: a\n"
               "  restarted device, or another computer's job, may hold the session number\n"
               "  now. When nothing ties the session to the job and the device is locked,\n"
               "  unlock says what it found and exits 5; --force then releases the session\n"
               "  the job's record names all the same (the job holding it fails).\n\n" +
               device;
    if (command == "convert")
        return "vtbox convert backup SOURCE DESTINATION [--from VERSION] --to VERSION [--json]\n"
               "vtbox convert archive SOURCE DESTINATION [--from VERSION] --to VERSION [--json]\n"
               "vtbox convert summary --from VERSION --to VERSION [--json]\n"
               "  Converts a backup file or a document archive made on one engine version for\n"
               "  another, leaving out the documents the other cannot hold (colour, wide paper,\n"
               "  copies of mixed kind) as the settings file of the source version says, and\n"
               "  prints what was kept and removed, per box. SOURCE is never changed and an\n"
               "  existing DESTINATION is never replaced. Without --from the source version is\n"
               "  read from SOURCE's own description. summary tells what a conversion would\n"
               "  leave out without converting anything. Ctrl-C cancels cleanly. No device.\n"
               "  Settings files (\"<version>.ini\", every \"/\" as \"_\") are looked for beside\n"
               "  vtbox, in the current folder, in <prefix>/share/vtbox/conversion and in the\n"
               "  folders of VTBOX_CONVERSION_PATH.\n";
    if (command == "version")
        return "vtbox version [--json]\n  Versions of vtbox, the engine and the platform library.\n";
    if (command == "prune")
        return "vtbox prune DIR [--keep-last N] [--keep-daily N] [--keep-weekly N] [--keep-monthly N]\n"
               "      [-n|--dry-run] [--json]\n"
               "  Keeps the N newest backups and the newest backup of each of the N latest days,\n"
               "  weeks (Monday to Sunday) and months that have one, and removes the other\n"
               "  backups in DIR. The date is the one in each file's description. Files that\n"
               "  are not backups are left alone, and the newest backup is never removed.\n"
               "  A backup dated after now is kept and named, and counts for no rule.\n"
               "  --dry-run prints what would be kept and removed, and removes nothing.\n\n" +
               output;
    return "vtbox - backup and restore of a printer's document boxes\n\n"
           "Commands:\n"
           "  boxes     list the device's boxes\n"
           "  backup    back boxes up into a file\n"
           "  restore   write boxes, folders or documents of a backup file back into the\n"
           "            device (--dry-run: plan only)\n"
           "  info      describe a backup file\n"
           "  verify    read a whole backup file and report damage\n"
           "  ls        list the boxes, folders and documents of a backup file\n"
           "  find      find folders and documents of a backup file by name\n"
           "  diff      compare a backup file with the device\n"
           "  extract   write documents of a backup file into a local folder\n"
           "  unlock    release the device after a killed job\n"
           "  convert   convert a backup file or document archive for another engine version\n"
           "  version   show the versions (also --version)\n"
           "  prune     remove old backups from a folder\n"
           "  fleet     back up many devices of an inventory, with state and metrics\n"
           "            (vtbox fleet --help)\n\n"
           "vtbox COMMAND --help shows a command's options. Options may stand before or\n"
           "after the command, as --name value or --name=value.\n\n" +
           device + "\n" + output + "\n" + codes;
}

}  // namespace vtcli
