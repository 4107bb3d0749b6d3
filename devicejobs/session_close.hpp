// Ending a web session with a device that may not answer. The device answers
// the end of a session like any other page: one that froze leaves it
// unanswered for the page's whole time-out (minutes), and a program that
// waits for it freezes with it. The end is waited for a bounded time; a
// session whose end is given up is left to the device, which drops it after
// its own idle time. Nothing is held by that: a session without a job holds
// neither the panel lock nor an FTP account.
#pragma once

#include <chrono>

#include "vtBoxBRD.h"

namespace vtjobs {

// Ends session (a cleared record is left as it is) waiting at most bound for
// the device, and no longer once stop (a manual-reset event the caller owns;
// null: none) is set; the engine frees what the record held either way.
// The session's request cancel event is replaced for the call. True when the
// device was waited for to the end (it answered, or refused at once); false
// when the wait was given up and the session is left to the device.
bool CloseSession(VTMFPSESSION *session, std::chrono::seconds bound, HANDLE stop = nullptr);

}  // namespace vtjobs
