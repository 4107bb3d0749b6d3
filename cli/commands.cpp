#include <cstdio>

#include "commands.hpp"
#include "output_name.hpp"

namespace vtcli {

namespace {

// backup, with the date and time fields of --output filled in.
int RunBackupNamed(const Options &o) {
    Options named = o;
    std::string error;
    if (!ExpandOutputNameNow(o.output, &named.output, &error)) {
        std::fprintf(stderr, "vtbox: %s\n", error.c_str());
        return 2;
    }
    return RunBackup(named);
}

}  // namespace

int RunCommand(const Options &o) {
    if (o.command == "boxes") return RunBoxes(o);
    if (o.command == "backup") return RunBackupNamed(o);
    if (o.command == "info") return RunInfo(o);
    if (o.command == "restore") return RunRestore(o);
    if (o.command == "prune") return RunPrune(o);
    std::fprintf(stderr, "vtbox: unknown command %s\n", o.command.c_str());
    return 1;
}

}  // namespace vtcli
