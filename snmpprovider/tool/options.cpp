#include "options.hpp"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <set>

namespace vtsnmp {

namespace {

const std::set<std::string> kCommands = {"schema", "get", "walk", "set", "register", "unregister"};

// Seconds ("2", "0.5") to hundredths, from 0.01 s to one hour.
bool ParseSeconds(const std::string &text, uint32_t *hundredths) {
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) return false;
    errno = 0;
    char *end = nullptr;
    double seconds = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != 0 || !(seconds >= 0.01 && seconds <= 3600)) return false;
    *hundredths = static_cast<uint32_t>(std::lround(seconds * 100));
    return true;
}

bool ParseCount(const std::string &text, uint32_t max, uint32_t *out) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    unsigned long v = std::strtoul(text.c_str(), nullptr, 10);
    if (v > max) return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

}  // namespace

bool ParseOptions(int argc, char **argv, Options *o, std::string *error) {
    auto value = [&](int &i, const std::string &name, std::string *out) {
        if (i + 1 >= argc) {
            *error = name + " needs a value";
            return false;
        }
        *out = argv[++i];
        return true;
    };
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i], v;
        if (a == "--help" || a == "-h") {
            o->help = true;
        } else if (a == "--json") {
            o->json = true;
        } else if (a == "--server") {
            if (!value(i, a, &o->server)) return false;
        } else if (a == "--address") {
            if (!value(i, a, &o->address)) return false;
        } else if (a == "--community") {
            if (!value(i, a, &v)) return false;
            o->community = v;
        } else if (a == "--write-community") {
            if (!value(i, a, &v)) return false;
            o->writeCommunity = v;
        } else if (a == "--timeout") {
            uint32_t t = 0;
            if (!value(i, a, &v)) return false;
            if (!ParseSeconds(v, &t)) {
                *error = "--timeout takes seconds from 0.01 to 3600, for example 2 or 0.5";
                return false;
            }
            o->timeout = t;
        } else if (a == "--retries") {
            uint32_t r = 0;
            if (!value(i, a, &v)) return false;
            if (!ParseCount(v, 100, &r)) {
                *error = "--retries takes a count from 0 to 100";
                return false;
            }
            o->retries = r;
        } else if (a.size() > 1 && a[0] == '-' && a.find('=') == std::string::npos) {
            *error = "unknown option " + a;
            return false;
        } else {
            positional.push_back(a);
        }
    }
    if (positional.empty()) {
        if (!o->help) *error = "no command given";
        return o->help;
    }
    o->command = positional[0];
    o->args.assign(positional.begin() + 1, positional.end());
    if (!kCommands.count(o->command)) {
        *error = "unknown command \"" + o->command + "\"";
        return false;
    }
    if (o->help) return true;
    bool device = o->command == "get" || o->command == "walk" || o->command == "set";
    if (device && o->address.empty()) {
        *error = o->command + " needs --address (the device's host name or IP address, with an optional :port)";
        return false;
    }
    if (device && o->args.empty()) {
        *error = o->command + (o->command == "set" ? " needs ELEMENT=VALUE" : " needs at least one element");
        return false;
    }
    if (o->command == "walk" && o->args.size() != 1) {
        *error = "walk takes one table or column";
        return false;
    }
    if (!device && !o->args.empty()) {
        *error = "unexpected argument \"" + o->args[0] + "\"";
        return false;
    }
    return true;
}

std::string HelpText() {
    return "vtbox-snmp - read and write a device's elements through the SNMP element provider\n\n"
           "  vtbox-snmp schema [--json]\n"
           "      the elements the maps define: number, name, object identifier, type, access\n"
           "  vtbox-snmp get --address A [options] ELEMENT...\n"
           "      reads elements (by number or name); a table column is read whole\n"
           "  vtbox-snmp walk --address A [options] TABLE\n"
           "      reads every column of a table (or one column)\n"
           "  vtbox-snmp set --address A [options] ELEMENT=VALUE...\n"
           "      writes scalar elements with the write community\n"
           "  vtbox-snmp register | unregister\n"
           "      writes or removes the provider's registry keys\n\n"
           "Options:\n"
           "  --address A            host name or IP address, with an optional :port (default 161)\n"
           "  --community C          read community (default public)\n"
           "  --write-community C    write community (default public)\n"
           "  --timeout SECONDS      wait for each reply (default 1)\n"
           "  --retries N            requests sent again after no reply (default 2)\n"
           "  --json                 output for scripts\n"
           "  --server FILE          the provider to register and use (default: the one registered,\n"
           "                         else libKX9SNMPProvider.so beside this program or installed)\n"
           "The registry store is VTBOX_REGISTRY_DIR (see the README); VTBOX_DEBUG=stderr shows\n"
           "the provider's diagnostics.\n";
}

}  // namespace vtsnmp
