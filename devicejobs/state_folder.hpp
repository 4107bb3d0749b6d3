// Where vtbox and the utility keep what outlives a program on this computer:
// the records of jobs that hold a device, the history of jobs, the fleet's
// state.
#pragma once

#include <string>

namespace vtjobs {

// $STATE_DIRECTORY (systemd's StateDirectory=; the first folder when the unit
// names several) when set, else $XDG_STATE_HOME/vtbox, else
// ~/.local/state/vtbox; empty when none is set. A relative value is no folder
// (as the XDG rules say).
std::string StateFolder();

// Makes the folder and those above it that are missing, mode 0700. False
// with the reason in *error when given.
bool MakePrivateFolders(const std::string &path, std::string *error = nullptr);

}  // namespace vtjobs
