#pragma once

#include "config.hpp"
#include "options.hpp"

namespace vtcli {

// Everything a command needs: the command line, the configuration file and
// the device settings drawn from both and the environment.
struct Context {
    Options options;
    ConfigFile file;
    Settings settings;
};

// Runs the parsed command; returns the process exit code (exit_codes.hpp).
int RunCommand(const Context &context);

int RunBoxes(const Context &context);
int RunBackup(const Context &context);
int RunInfo(const Context &context);
int RunRestore(const Context &context);
int RunVerify(const Context &context);
int RunLs(const Context &context);
int RunFind(const Context &context);
int RunDiff(const Context &context);
int RunExtract(const Context &context);
int RunUnlock(const Context &context);
int RunVersion(const Context &context);
int RunConvert(const Context &context);
int RunPrune(const Context &context);

}  // namespace vtcli
