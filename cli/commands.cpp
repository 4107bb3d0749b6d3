#include "commands.hpp"

#include <dlfcn.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "exit_codes.hpp"
#include "failure_report.hpp"
#include "json_output.hpp"
#include "output_name.hpp"
#include "vtBoxBRD.h"

namespace vtcli {

namespace {

// The file a symbol was loaded from and its version, read from the
// library's real name (libvtBoxBRD.so.1.2.3).
struct Library {
    std::string path, version;
};

Library LibraryOf(const void *symbol) {
    Library lib;
    Dl_info info{};
    if (dladdr(symbol, &info) == 0 || !info.dli_fname) return lib;
    char real[PATH_MAX];
    lib.path = realpath(info.dli_fname, real) ? real : info.dli_fname;
    size_t so = lib.path.rfind(".so.");
    lib.version = so == std::string::npos ? "unknown" : lib.path.substr(so + 4);
    return lib;
}

// backup, with the date and time fields of --output filled in.
int RunBackupNamed(const Context &c) {
    Context named = c;
    std::string error;
    RunNumber number;
    if (!ExpandOutputNameNow(c.options.output, &named.options.output, &error, &number))
        return ReportProblem(error, kExitUsage);
    return RunBackup(named, number);
}

}  // namespace

int RunVersion(const Context &c) {
    Library engine = LibraryOf(reinterpret_cast<const void *>(&vtBoxGetLastErrorText));
    Library platform = LibraryOf(reinterpret_cast<const void *>(&vtGetMessageText));
    if (c.options.json) {
        JsonObject out;
        out.Add("program", "vtbox")
            .Add("version", VTBOX_VERSION)
            .AddRaw("engine", JsonObject().Add("library", engine.path).Add("version", engine.version).str())
            .AddRaw("platform", JsonObject().Add("library", platform.path).Add("version", platform.version).str());
        PrintJsonLine(out.str());
    } else {
        std::printf("vtbox %s\nengine   libvtBoxBRD %s (%s)\nplatform libvtplatform %s (%s)\n", VTBOX_VERSION,
                    engine.version.c_str(), engine.path.c_str(), platform.version.c_str(), platform.path.c_str());
    }
    return 0;
}

namespace {

int RunNamedCommand(const Context &c) {
    const std::string &command = c.options.command;
    if (command == "boxes") return RunBoxes(c);
    if (command == "backup") return RunBackupNamed(c);
    if (command == "info") return RunInfo(c);
    if (command == "restore") return RunRestore(c);
    if (command == "verify") return RunVerify(c);
    if (command == "ls") return RunLs(c);
    if (command == "find") return RunFind(c);
    if (command == "diff") return RunDiff(c);
    if (command == "extract") return RunExtract(c);
    if (command == "unlock") return RunUnlock(c);
    if (command == "version") return RunVersion(c);
    if (command == "convert") return RunConvert(c);
    if (command == "prune") return RunPrune(c);
    std::fprintf(stderr, "vtbox: unknown command %s\n", command.c_str());
    return 2;
}

}  // namespace

int RunCommand(const Context &c) {
    const std::string &command = c.options.command;
    const int exitCode = RunNamedCommand(c);
    // backup and restore end in their summary; the plan of a dry run is its
    // own result.
    EndJsonOutput(command, exitCode, command == "backup" || (command == "restore" && !c.options.dryRun));
    return exitCode;
}

}  // namespace vtcli
