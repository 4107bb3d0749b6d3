// vtbox-snmp: a host of the SNMP element provider, over its public header.
#include <cstdio>
#include <exception>
#include <string>

#include "commands.hpp"
#include "options.hpp"
#include "vtplatform.h"

namespace {

// The provider's diagnostics, shown when something fails.
void Collect(const char *text, void *context) { *static_cast<std::string *>(context) += text; }

// register and unregister: the server's own entry points, nothing created.
int Registration(const vtsnmp::Options &o) {
    std::string server = vtsnmp::ServerFile(o.server), error;
    if (server.empty()) {
        std::fprintf(stderr, "vtbox-snmp: libKX9SNMPProvider.so was not found; name it with --server\n");
        return 1;
    }
    if (vtsnmp::CallRegistration(server, o.command == "register", &error)) return 0;
    std::fprintf(stderr, "vtbox-snmp: %s\n", error.c_str());
    return 1;
}

}  // namespace

static int RunProgram(int argc, char **argv) {
    vtsnmp::Options o;
    std::string error;
    if (!vtsnmp::ParseOptions(argc, argv, &o, &error)) {
        std::fprintf(stderr, "vtbox-snmp: %s\n(vtbox-snmp --help lists the commands)\n", error.c_str());
        return 2;
    }
    if (o.help) {
        std::fputs(vtsnmp::HelpText().c_str(), stdout);
        return 0;
    }
    std::string diagnostics;
    vtSetDebugHook(&Collect, &diagnostics);
    int rc;
    {
        // The session's objects are released before the hook goes.
        vtsnmp::Session session;
        if (o.command == "register" || o.command == "unregister") {
            rc = Registration(o);
        } else if (!session.Open(o.server, &error)) {
            std::fprintf(stderr, "vtbox-snmp: %s\n%s", error.c_str(), diagnostics.c_str());
            rc = 1;
        } else if (o.command == "schema") {
            rc = vtsnmp::RunSchema(session, o);
        } else if (o.command == "get") {
            rc = vtsnmp::RunGet(session, o);
        } else if (o.command == "walk") {
            rc = vtsnmp::RunWalk(session, o);
        } else {
            rc = vtsnmp::RunSet(session, o);
        }
    }
    vtSetDebugHook(nullptr, nullptr);
    return rc;
}

// Nothing may end the program with an exception: a failure the code did not
// foresee (a broken temp folder, no memory) is said plainly and fails.
int main(int argc, char **argv) {
    try {
        return RunProgram(argc, argv);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "vtbox-snmp: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "vtbox-snmp: an unexpected failure\n");
    }
    return 1;
}
