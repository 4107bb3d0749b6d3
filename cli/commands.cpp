#include <cstdio>

#include "commands.hpp"

namespace vtcli {

int RunCommand(const Options &o) {
    if (o.command == "boxes") return RunBoxes(o);
    if (o.command == "backup") return RunBackup(o);
    if (o.command == "info") return RunInfo(o);
    std::fprintf(stderr, "vtbox: the %s command is not part of this build yet\n", o.command.c_str());
    return 1;
}

}  // namespace vtcli
