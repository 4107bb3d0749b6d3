// vtbox fleet: the command line after the word "fleet".
#pragma once

namespace vtcli {

// argv as main() has it, argv[1] being "fleet". The exit code.
int RunFleetCommand(int argc, char **argv);

}  // namespace vtcli
