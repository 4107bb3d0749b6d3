// vtbox-snmp's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vtsnmp {

struct Options {
    std::string command;  // schema, get, walk, set, register, unregister
    std::string server;   // --server: the provider file to register and use
    std::string address;
    std::optional<std::string> community;       // read community
    std::optional<std::string> writeCommunity;  // write community
    std::optional<uint32_t> timeout;            // hundredths of a second
    std::optional<uint32_t> retries;
    bool json = false;
    bool help = false;
    std::vector<std::string> args;  // elements, or ELEMENT=VALUE for set
};

// Parses argv. On a usage error returns false with the message in *error.
bool ParseOptions(int argc, char **argv, Options *out, std::string *error);

std::string HelpText();

}  // namespace vtsnmp
