// vtbox: command-line front end over the engine's exports.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <new>
#include <string>

#include "cmd_fleet.hpp"
#include "commands.hpp"
#include "exit_codes.hpp"
#include "failure_report.hpp"
#include "json_output.hpp"
#include "options.hpp"

// The command being run, for the summary of a failure nothing foresaw.
static std::string g_command;

static int RunProgram(int argc, char **argv) {
    // The fleet has a command line of its own.
    if (argc >= 2 && std::string(argv[1]) == "fleet") {
        g_command = "fleet";
        return vtcli::RunFleetCommand(argc, argv);
    }
    vtcli::Context c;
    std::string error;
    if (!vtcli::ParseOptions(argc, argv, &c.options, &error)) {
        std::fprintf(stderr, "vtbox: %s\n(vtbox --help lists the commands)\n", error.c_str());
        return vtcli::kExitUsage;
    }
    if (c.options.help) {
        std::fputs(vtcli::HelpText(c.options.command).c_str(), stdout);
        return vtcli::kExitDone;
    }
    // The engine moves the process's current folder while it works: every
    // path is made absolute first.
    std::error_code ec;
    if (!c.options.input.empty()) c.options.input = std::filesystem::absolute(c.options.input, ec).string();
    if (!c.options.output.empty()) c.options.output = std::filesystem::absolute(c.options.output, ec).string();
    vtcli::OutputMode &mode = vtcli::Output();
    mode.json = c.options.json;
    mode.quiet = c.options.quiet;
    mode.noProgress = c.options.noProgress;
    mode.verbose = c.options.verbose;
    // The engine's diagnostic lines go to standard error with -v.
    if (mode.verbose) setenv("VTBOX_DEBUG", "stderr", 1);
    // A script reading --json is told of every end, Ctrl-C included.
    vtcli::SummaryOnTerminationSignal(c.options.command);

    const std::string &command = c.options.command;
    g_command = command;
    if (command == "boxes" || command == "backup" || command == "restore" || command == "diff" || command == "unlock") {
        if (!vtcli::LoadConfigFile(&c.file, &error) ||
            !vtcli::ResolveSettings(c.options, c.file, &c.settings, &error)) {
            vtcli::ReportProblem(error, vtcli::kExitUsage);
            vtcli::EndJsonOutput(command, vtcli::kExitUsage, true);
            return vtcli::kExitUsage;
        }
        // The engine reads the FTP port from here.
        setenv("VTBOX_FTP_PORT", std::to_string(c.settings.ftpPort).c_str(), 1);
    }
    return vtcli::RunCommand(c);
}

// Nothing may end the program with an exception: a failure the code did not
// foresee (a broken temp folder, no memory) is said plainly and fails.
int main(int argc, char **argv) {
    // A file-size limit (ulimit -f) makes a write fail with EFBIG, which the
    // engine reports as a full disk, instead of ending the program on the spot
    // with the device locked and the work folder left behind.
    std::signal(SIGXFSZ, SIG_IGN);
    try {
        return RunProgram(argc, argv);
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "vtbox: not enough memory to go on\n");
        vtcli::NoteFailure(0, "not enough memory to go on", std::string());
    } catch (const std::exception &e) {
        std::fprintf(stderr, "vtbox: %s\n", e.what());
        vtcli::NoteFailure(0, e.what(), std::string());
    } catch (...) {
        std::fprintf(stderr, "vtbox: an unexpected failure\n");
        vtcli::NoteFailure(0, "an unexpected failure", std::string());
    }
    try {
        vtcli::EndJsonOutput(g_command, vtcli::kExitFailure, true);
    } catch (...) {}
    return vtcli::kExitFailure;
}
