// Where the log of automatic backup lives: "BKRT_Log.txt" in the user's
// state folder for vtbox ($XDG_STATE_HOME/vtbox, else ~/.local/state/vtbox).
#pragma once

#include <QString>

namespace vtutil {

QString UtilityLogPath();

}  // namespace vtutil
