// vtbox: command-line front end over the engine's exports.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "commands.hpp"
#include "options.hpp"

int main(int argc, char **argv) {
    vtcli::Options options;
    std::string error;
    if (!vtcli::ParseOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "vtbox: %s\n(vtbox --help lists the commands)\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(vtcli::HelpText(options.command).c_str(), stdout);
        return 0;
    }
    if (options.ftpPort) setenv("VTBOX_FTP_PORT", std::to_string(*options.ftpPort).c_str(), 1);
    return vtcli::RunCommand(options);
}
