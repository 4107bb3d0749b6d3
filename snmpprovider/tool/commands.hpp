// The commands of vtbox-snmp. Each returns the exit code: 0 when every
// element was read or written, 1 otherwise.
#pragma once

#include "host.hpp"
#include "options.hpp"

namespace vtsnmp {

int RunSchema(Session &session, const Options &o);
int RunGet(Session &session, const Options &o);
int RunWalk(Session &session, const Options &o);
int RunSet(Session &session, const Options &o);

}  // namespace vtsnmp
