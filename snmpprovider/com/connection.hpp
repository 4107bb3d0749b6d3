// The connection parameters of a scalar object, read from its parent: a
// composite element whose children 995-999 hold them.
#pragma once

#include <cstdint>
#include <string>

#include "SNMPProvider.h"

namespace kx9 {

struct Connection {
    std::string address;
    std::string readCommunity = "public";
    std::string writeCommunity = "public";
    uint32_t timeout = 100;  // hundredths of a second
    uint32_t retries = 2;
};

// Reads the parameters through the parent's collection companion: the
// address from child 999 (a non-empty text; E_FAIL without one or when the
// parent is not composite), the communities from 996 and 995 (texts) and the
// time-out and retries from 997 and 998 (4-byte integers). A child that holds
// no such value is given the default, so that the parent shows what is used.
HRESULT ReadConnection(IDSE_ELEMENT *parent, Connection *out);

}  // namespace kx9
