#include "snmp_layer.hpp"

// clang-format off
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/library/large_fd_set.h>
// clang-format on

#include <arpa/inet.h>
#include <dlfcn.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <mutex>

#include "vtplatform/diag.hpp"

namespace kx9::snmp {

namespace {

// net-snmp is built without its own locking: its request numbers, statistics
// and session set-up are process-wide. Every call into it is made under this
// lock; only the wait for a reply runs outside it.
std::mutex g_library;

// How often a waiting request looks at the cancel flag.
constexpr long kCancelSliceMicros = 50000;

bool IsHostChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
           c == '_';
}

bool ValidHostName(std::string_view host) {
    if (host.empty() || host.size() > 253 || host.front() == '-' || host.front() == '.') return false;
    for (char c : host)
        if (!IsHostChar(c)) return false;
    return true;
}

bool ValidIpv6(std::string_view host) {
    std::string_view addr = host.substr(0, host.find('%'));
    if (addr.size() < 2 || addr.size() > 45) return false;
    if (addr.size() != host.size()) {  // a zone: "fe80::1%eth0"
        std::string_view zone = host.substr(addr.size() + 1);
        if (zone.empty() || zone.size() > 32) return false;
        for (char c : zone)
            if (!IsHostChar(c)) return false;
    }
    in6_addr parsed;
    return inet_pton(AF_INET6, std::string(addr).c_str(), &parsed) == 1;
}

bool ParsePort(std::string_view text, unsigned *port) {
    if (text.empty() || text.size() > 5) return false;
    unsigned v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    if (v == 0 || v > 65535) return false;
    *port = v;
    return true;
}

bool IsPrintableUtf8(const std::string &s) {
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F) return false;
            ++i;
            continue;
        }
        size_t len = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
        if (len == 0 || i + len > s.size()) return false;
        for (size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        unsigned c1 = static_cast<unsigned char>(s[i + 1]);
        if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 > 0x9F) || (c == 0xF0 && c1 < 0x90) ||
            (c == 0xF4 && c1 > 0x8F))
            return false;  // overlong, surrogate or beyond U+10FFFF
        i += len;
    }
    return true;
}

std::string HexText(const std::string &bytes) {
    std::string out;
    char buf[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", static_cast<unsigned char>(bytes[i]));
        out += buf;
    }
    return out;
}

// Copies one binding of a reply into a Vb, checking every length first.
Vb CopyBinding(const netsnmp_variable_list *v) {
    OidParts name;
    for (size_t i = 0; i < v->name_length && i < kMaxOidParts; ++i) name.push_back(static_cast<uint32_t>(v->name[i]));
    Vb vb{Oid(std::move(name))};
    const bool hasNumber = v->val.integer && v->val_len >= sizeof(long);
    switch (v->type) {
    case ASN_INTEGER:
        if (hasNumber)
            vb.set_int32(static_cast<int32_t>(*v->val.integer));
        else
            vb.set_syntax_only(kVbNull);
        break;
    case ASN_COUNTER:
    case ASN_GAUGE:
    case ASN_TIMETICKS:
    case ASN_UINTEGER:
        if (hasNumber)
            vb.set_uint32(v->type, static_cast<uint32_t>(*v->val.integer));
        else
            vb.set_syntax_only(kVbNull);
        break;
    case ASN_OCTET_STR:
        vb.set_octets(v->val.string ? std::string(reinterpret_cast<const char *>(v->val.string), v->val_len) : "");
        break;
    case ASN_IPADDRESS:
        if (v->val.string && v->val_len == 4) {
            std::array<uint8_t, 4> a{v->val.string[0], v->val.string[1], v->val.string[2], v->val.string[3]};
            vb.set_ipaddress(a);
        } else {
            vb.set_syntax_only(kVbNull);
        }
        break;
    case ASN_OBJECT_ID: {
        OidParts value;
        size_t n = v->val.objid ? v->val_len / sizeof(oid) : 0;
        for (size_t i = 0; i < n && i < kMaxOidParts; ++i) value.push_back(static_cast<uint32_t>(v->val.objid[i]));
        vb.set_oid_value(Oid(std::move(value)));
        break;
    }
    case ASN_COUNTER64:
        if (v->val.counter64 && v->val_len >= sizeof(struct counter64))
            vb.set_counter64(uint64_t(v->val.counter64->high & 0xFFFFFFFFu) << 32 |
                             (v->val.counter64->low & 0xFFFFFFFFu));
        else
            vb.set_syntax_only(kVbNull);
        break;
    case ASN_OPAQUE:
        vb.set_raw(kVbOpaque,
                   v->val.string ? std::string(reinterpret_cast<const char *>(v->val.string), v->val_len) : "");
        break;
    default: vb.set_syntax_only(v->type);
    }
    return vb;
}

struct PendingRequest {
    bool done = false;
    int status = kError;
    Pdu *reply = nullptr;
};

int OnResponse(int op, netsnmp_session *, int, netsnmp_pdu *pdu, void *magic) {
    auto *state = static_cast<PendingRequest *>(magic);
    switch (op) {
    case NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE:
        if (!pdu || pdu->command != SNMP_MSG_RESPONSE) {
            state->status = kError;
        } else {
            try {
                Pdu copy;
                for (const netsnmp_variable_list *v = pdu->variables; v; v = v->next_variable)
                    copy.vbs().push_back(CopyBinding(v));
                copy.set_error(static_cast<int>(pdu->errstat), static_cast<int>(pdu->errindex));
                *state->reply = std::move(copy);
                state->status = kSuccess;
            } catch (const std::bad_alloc &) {
                state->status = kResourceUnavailable;
            }
        }
        break;
    case NETSNMP_CALLBACK_OP_TIMED_OUT: state->status = kTimeout; break;
    case NETSNMP_CALLBACK_OP_SEND_FAILED:
    case NETSNMP_CALLBACK_OP_DISCONNECT: state->status = kTransportFailed; break;
    default: return 1;  // a resend or a connect notice: the request goes on
    }
    state->done = true;
    return 1;
}

// Adds one binding of the request PDU.
bool AddBinding(netsnmp_pdu *pdu, int command, const Vb &vb) {
    const OidParts &parts = vb.get_oid().parts();
    if (parts.empty() || parts.size() > MAX_OID_LEN) return false;
    oid name[MAX_OID_LEN];
    for (size_t i = 0; i < parts.size(); ++i) name[i] = parts[i];
    if (command != SNMP_MSG_SET) return snmp_add_null_var(pdu, name, parts.size()) != nullptr;
    switch (vb.get_syntax()) {
    case kVbInt32: {
        long v = vb.int32_value();
        return snmp_pdu_add_variable(pdu, name, parts.size(), ASN_INTEGER, &v, sizeof v) != nullptr;
    }
    case kVbCounter32:
    case kVbGauge32:
    case kVbTimeTicks:
    case kVbUInt32: {
        u_long v = vb.uint32_value();
        return snmp_pdu_add_variable(pdu, name, parts.size(), static_cast<u_char>(vb.get_syntax()), &v, sizeof v) !=
               nullptr;
    }
    case kVbOctets:
    case kVbIpAddress:
        return snmp_pdu_add_variable(pdu, name, parts.size(), static_cast<u_char>(vb.get_syntax()), vb.octets().data(),
                                     vb.octets().size()) != nullptr;
    default: return false;
    }
}

// Keeps libnetsnmp in the process once the provider has used it: the library
// keeps process-wide state (its transports, its one-time set-up) that it
// cannot give back, so letting it unload with the provider would lose that
// memory at every unload and set it up again at every load.
void PinLibrary() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&snmp_sess_init), &info) && info.dli_fname &&
        dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE))
        return;
    vt::DebugPrint("KX9SNMPProvider: net-snmp could not be kept loaded; it unloads with the provider\n");
}

}  // namespace

const char *StatusText(int status) {
    switch (status) {
    case kSuccess: return "success";
    case kError: return "the reply could not be used";
    case kResourceUnavailable: return "out of memory or sockets";
    case kTimeout: return "no reply within the time-out and retries";
    case kInvalidAddress: return "the address is not valid";
    case kTransportFailed: return "the address could not be reached";
    case kCancelled: return "cancelled";
    }
    return "unknown status";
}

std::string Vb::get_printable_value() const {
    switch (syntax_) {
    case kVbOid: return oidValue_.get_printable();
    case kVbIpAddress:
        if (octets_.size() == 4) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", static_cast<unsigned char>(octets_[0]),
                          static_cast<unsigned char>(octets_[1]), static_cast<unsigned char>(octets_[2]),
                          static_cast<unsigned char>(octets_[3]));
            return buf;
        }
        return HexText(octets_);
    case kVbOctets:
    case kVbOpaque: return IsPrintableUtf8(octets_) ? octets_ : HexText(octets_);
    default: return {};
    }
}

GenAddress::GenAddress(std::string_view text) {
    std::string_view host = text, port;
    bool v6 = false;
    if (!text.empty() && text.front() == '[') {
        size_t close = text.find(']');
        if (close == std::string_view::npos) return;
        host = text.substr(1, close - 1);
        std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':' && rest.front() != '/') return;
            port = rest.substr(1);
            if (port.empty()) return;
        }
        v6 = true;
    } else if (size_t slash = text.rfind('/'); slash != std::string_view::npos) {
        host = text.substr(0, slash);
        port = text.substr(slash + 1);
        if (port.empty()) return;
        v6 = host.find(':') != std::string_view::npos;
    } else if (size_t colon = text.find(':'); colon != std::string_view::npos) {
        if (text.find(':', colon + 1) == std::string_view::npos) {
            host = text.substr(0, colon);
            port = text.substr(colon + 1);
            if (port.empty()) return;
        } else {
            v6 = true;  // a bare IPv6 address
        }
    }
    unsigned portNumber = 161;
    if (!port.empty() && !ParsePort(port, &portNumber)) return;
    if (v6 ? !ValidIpv6(host) : !ValidHostName(host)) return;
    peername_ = (v6 ? "udp6:[" : "udp:") + std::string(host) + (v6 ? "]:" : ":") + std::to_string(portNumber);
    valid_ = true;
}

Snmp::Snmp(int &status) {
    PinLibrary();
    status = kSuccess;
}

Snmp::~Snmp() = default;

int Snmp::get(Pdu &pdu, const CTarget &target) {
    return lastStatus_ = Request(SNMP_MSG_GET, pdu, target, target.readcommunity());
}

int Snmp::get_next(Pdu &pdu, const CTarget &target) {
    return lastStatus_ = Request(SNMP_MSG_GETNEXT, pdu, target, target.readcommunity());
}

int Snmp::set(Pdu &pdu, const CTarget &target) {
    return lastStatus_ = Request(SNMP_MSG_SET, pdu, target, target.writecommunity());
}

int Snmp::Request(int command, Pdu &pdu, const CTarget &target, const std::string &community) {
    if (cancelled_) return kCancelled;
    if (!target.address().valid()) return kInvalidAddress;
    if (pdu.vbs().empty()) return kError;

    std::string peer = target.address().peername();
    std::string communityCopy = community;
    void *session = nullptr;
    netsnmp_pdu *request = nullptr;
    {
        std::lock_guard<std::mutex> g(g_library);
        netsnmp_session s;
        snmp_sess_init(&s);
        s.version = SNMP_VERSION_1;
        s.peername = peer.data();
        s.community = reinterpret_cast<u_char *>(communityCopy.data());
        s.community_len = communityCopy.size();
        uint32_t hundredths = std::min(std::max(target.timeout(), 1u), kMaxTimeout);
        s.timeout = static_cast<long>(hundredths) * 10000;  // microseconds
        s.retries = static_cast<int>(std::min(target.retry(), kMaxRetries));
        session = snmp_sess_open(&s);  // copies what it keeps of s
        if (!session) return kTransportFailed;
        request = snmp_pdu_create(command);
        bool built = request != nullptr;
        for (const Vb &vb : pdu.vbs())
            if (built) built = AddBinding(request, command, vb);
        if (!built) {
            if (request) snmp_free_pdu(request);
            snmp_sess_close(session);
            return kError;
        }
    }

    PendingRequest state;
    state.reply = &pdu;
    {
        std::lock_guard<std::mutex> g(g_library);
        if (!snmp_sess_async_send(session, request, OnResponse, &state)) {
            snmp_free_pdu(request);  // not sent: still ours
            snmp_sess_close(session);
            return kTransportFailed;
        }
    }
    while (!state.done) {
        if (cancelled_) {
            state.status = kCancelled;
            break;
        }
        netsnmp_large_fd_set fds;
        netsnmp_large_fd_set_init(&fds, FD_SETSIZE);
        int numfds = 0, block = 0;
        struct timeval wait = {0, kCancelSliceMicros}, next = {0, 0};
        {
            std::lock_guard<std::mutex> g(g_library);
            snmp_sess_select_info2(session, &numfds, &fds, &next, &block);
        }
        if (!block && timercmp(&next, &wait, <)) wait = next;
        int ready = netsnmp_large_fd_set_select(numfds, &fds, nullptr, nullptr, &wait);
        int err = errno;
        {
            std::lock_guard<std::mutex> g(g_library);
            if (ready > 0)
                snmp_sess_read2(session, &fds);
            else if (ready == 0)
                snmp_sess_timeout(session);
        }
        netsnmp_large_fd_set_cleanup(&fds);
        if (ready < 0 && err != EINTR) {
            state.status = kTransportFailed;
            break;
        }
    }
    {
        std::lock_guard<std::mutex> g(g_library);
        snmp_sess_close(session);  // drops a request still waiting
    }
    return state.status;
}

}  // namespace kx9::snmp
