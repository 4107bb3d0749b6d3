#pragma once

#include "config.hpp"
#include "options.hpp"
#include "output_name.hpp"

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
// The backup to context.options.output; with a run number (%N), the file
// takes the number at the end, never replacing a file (TakeRunNumber).
int RunBackup(const Context &context, const RunNumber &number);
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
