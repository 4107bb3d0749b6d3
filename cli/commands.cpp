#include <cstdio>

#include "commands.hpp"

namespace vtcli {

int RunCommand(const Options &o) {
    if (o.command == "boxes") return RunBoxes(o);
    if (o.command == "backup") return RunBackup(o);
    if (o.command == "info") return RunInfo(o);
    if (o.command == "restore") return RunRestore(o);
    if (o.command == "convert") return RunConvert(o);
    std::fprintf(stderr, "vtbox: unknown command %s\n", o.command.c_str());
    return 1;
}

}  // namespace vtcli
