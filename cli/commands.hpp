#pragma once

#include "options.hpp"

namespace vtcli {

// Runs the parsed command; returns the process exit code (0 success,
// 1 failure).
int RunCommand(const Options &options);

int RunBoxes(const Options &options);
int RunBackup(const Options &options);
int RunInfo(const Options &options);
int RunRestore(const Options &options);
int RunPrune(const Options &options);

}  // namespace vtcli
