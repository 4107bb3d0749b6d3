// The command line: the command, its options and their values, checked
// against what each command takes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "prune.hpp"

namespace vtcli {

struct Options {
    std::string command;  // boxes, backup, restore, info, verify, ls, find, diff, extract, unlock, version, convert,
                          // prune
    // Device and password; unset when not given on the command line (the
    // environment and the configuration file may still give them).
    std::optional<std::string> host;
    std::optional<uint32_t> port;
    std::optional<uint32_t> ftpPort;
    std::optional<std::string> passwordFile;
    std::optional<std::string> passwordCommand;
    std::optional<uint32_t> timeout;  // seconds to wait for the device to answer at all
    bool json = false;
    bool quiet = false;
    bool noProgress = false;
    bool verbose = false;
    bool help = false;
    bool allBoxes = false;
    std::vector<uint32_t> boxes;
    std::string output;  // backup target, extract folder
    std::string input;   // restore source, the backup file of info, verify, ls, find, diff and extract, prune folder
    // ls: the path listed (at most one); find: the pattern; extract: the
    // paths of what is extracted.
    std::vector<std::string> paths;
    std::vector<std::string> only;  // restore --only: paths of the parts restored
    uint32_t mode = 0;              // restore: 1 replace, 0 keep both
    bool modeGiven = false;
    bool verify = false;           // backup --verify
    bool dryRun = false;           // restore and prune --dry-run
    bool replaceReadOnly = false;  // backup: a read-only target may be replaced
    bool force = false;            // unlock: release the session a job record names, tied to the job or not
    // convert: what (backup, archive, summary), the two files, the versions.
    std::string convertWhat;
    std::string source, destination;
    std::string fromVersion, toVersion;
    PruneRules prune;  // prune: the retention rules
};

// Parses argv. On a usage error returns false with the message in *error.
bool ParseOptions(int argc, char **argv, Options *out, std::string *error);

// "1,2,5", ranges "1-3,7", or "all".
bool ParseBoxList(const std::string &text, std::vector<uint32_t> *boxes, bool *all, std::string *error);

// The closest of the candidates to a mistyped word, or "" when none is close.
std::string ClosestMatch(const std::string &word, const std::vector<std::string> &candidates);

// The help text of a command ("" for the general help).
std::string HelpText(const std::string &command);

}  // namespace vtcli
