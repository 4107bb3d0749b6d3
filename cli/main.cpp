// vtbox: command-line front end over the engine's exports.
#include <cstdio>
#include <exception>
#include <cstdlib>
#include <string>

#include "commands.hpp"
#include "options.hpp"

static int RunProgram(int argc, char **argv) {
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

// Nothing may end the program with an exception: a failure the code did not
// foresee (a broken temp folder, no memory) is said plainly and fails.
int main(int argc, char **argv) {
    try {
        return RunProgram(argc, argv);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "vtbox: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "vtbox: an unexpected failure\n");
    }
    return 1;
}
