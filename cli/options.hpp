// The command line: global options, the command and its options.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "prune.hpp"

namespace vtcli {

struct Options {
    std::string host;
    uint32_t port = 8080;
    std::optional<uint32_t> ftpPort;
    std::string passwordFile;
    std::string command;  // boxes, backup, restore, info
    bool json = false;
    bool help = false;
    bool allBoxes = false;
    std::vector<uint32_t> boxes;
    std::string output;   // backup target
    std::string input;    // restore source, info file, prune folder
    uint32_t mode = 0;    // restore: 1 replace, 0 keep both
    bool modeGiven = false;
    PruneRules prune;     // prune: the retention rules
    bool dryRun = false;  // prune: remove nothing
};

// Parses argv. On a usage error returns false with the message in *error.
bool ParseOptions(int argc, char **argv, Options *out, std::string *error);

// "1,2,5" or "all".
bool ParseBoxList(const std::string &text, std::vector<uint32_t> *boxes, bool *all, std::string *error);

// The help text of a command ("" for the general help).
std::string HelpText(const std::string &command);

}  // namespace vtcli
