// SNMP through net-snmp, in the provider's own terms: an object identifier
// (Oid), a variable binding (Vb), a PDU, a device address (GenAddress), a
// community target (CTarget) and the session that sends (Snmp). Requests are
// synchronous, SNMPv1, one PDU at a time; the session can be cancelled, which
// ends a request in flight within kCancelSlice and fails every later one.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "map_entry.hpp"

namespace kx9::snmp {

// Results of a request. 0 is success; the rest are failures.
enum Status : int {
    kSuccess = 0,
    kError = -1,                // the reply could not be used
    kResourceUnavailable = -2,  // memory or sockets
    kTimeout = -5,              // no reply within the time-out and retries
    kInvalidAddress = -6,       // the address is not one we accept
    kTransportFailed = -7,      // the socket could not be opened or used
    kCancelled = -8,            // the session was cancelled
};
const char *StatusText(int status);

// Value syntaxes as they travel (the SMI's tags; net-snmp uses the same numbers).
enum VbSyntax : int {
    kVbNull = 5,
    kVbInt32 = 2,
    kVbOctets = 4,
    kVbOid = 6,
    kVbIpAddress = 64,
    kVbCounter32 = 65,
    kVbGauge32 = 66,
    kVbTimeTicks = 67,
    kVbOpaque = 68,
    kVbCounter64 = 70,
    kVbUInt32 = 71,
    kVbNoSuchObject = 0x80,
    kVbNoSuchInstance = 0x81,
    kVbEndOfMibView = 0x82,
};

class Oid {
public:
    Oid() = default;
    explicit Oid(OidParts parts) : parts_(std::move(parts)) {}
    const OidParts &parts() const { return parts_; }
    size_t len() const { return parts_.size(); }
    bool valid() const { return !parts_.empty(); }
    // "1.3.6.1.2.1.1.1.0"
    std::string get_printable() const { return OidText(parts_); }
    // True when prefix's sub-identifiers begin this identifier.
    bool StartsWith(const Oid &prefix) const { return OidStartsWith(parts_, prefix.parts_); }
    friend bool operator<(const Oid &a, const Oid &b) { return a.parts_ < b.parts_; }
    friend bool operator==(const Oid &a, const Oid &b) { return a.parts_ == b.parts_; }

private:
    OidParts parts_;
};

// One variable binding: an identifier and a typed value.
class Vb {
public:
    Vb() = default;
    explicit Vb(Oid oid) : oid_(std::move(oid)) {}

    const Oid &get_oid() const { return oid_; }
    void set_oid(Oid oid) { oid_ = std::move(oid); }
    int get_syntax() const { return syntax_; }

    void set_null() { syntax_ = kVbNull; }
    void set_int32(int32_t v) { syntax_ = kVbInt32, number_ = static_cast<uint32_t>(v); }
    // Counter32, Gauge32, TimeTicks or Unsigned32.
    void set_uint32(int syntax, uint32_t v) { syntax_ = syntax, number_ = v; }
    void set_octets(std::string bytes) { syntax_ = kVbOctets, octets_ = std::move(bytes); }
    void set_ipaddress(const std::array<uint8_t, 4> &a) { syntax_ = kVbIpAddress, octets_.assign(a.begin(), a.end()); }
    void set_oid_value(Oid value) { syntax_ = kVbOid, oidValue_ = std::move(value); }
    void set_counter64(uint64_t v) { syntax_ = kVbCounter64, counter64_ = v; }
    // Any other syntax the agent sent (no value kept).
    void set_syntax_only(int syntax) { syntax_ = syntax; }
    // Octets of another syntax (Opaque).
    void set_raw(int syntax, std::string bytes) { syntax_ = syntax, octets_ = std::move(bytes); }

    int32_t int32_value() const { return static_cast<int32_t>(number_); }
    uint32_t uint32_value() const { return number_; }
    const std::string &octets() const { return octets_; }  // octets, Opaque, IpAddress (4 bytes)
    const Oid &oid_value() const { return oidValue_; }
    uint64_t counter64_value() const { return counter64_; }

    // The printable form of an OID, IpAddress or octet string: dotted
    // decimal, dotted quad, and for octets their text when they are
    // printable UTF-8, else their bytes in hexadecimal ("00 1A 2B").
    std::string get_printable_value() const;

private:
    Oid oid_;
    int syntax_ = kVbNull;
    uint32_t number_ = 0;
    uint64_t counter64_ = 0;
    std::string octets_;
    Oid oidValue_;
};

class Pdu {
public:
    Pdu() = default;
    explicit Pdu(const Vb &vb) { vbs_.push_back(vb); }
    std::vector<Vb> &vbs() { return vbs_; }
    const std::vector<Vb> &vbs() const { return vbs_; }
    int get_error_status() const { return errorStatus_; }
    int get_error_index() const { return errorIndex_; }
    void set_error(int status, int index) { errorStatus_ = status, errorIndex_ = index; }

private:
    std::vector<Vb> vbs_;
    int errorStatus_ = 0;
    int errorIndex_ = 0;
};

// A device address: "host", "host:port", "host/port", "[v6]:port", a bare
// IPv6 address, or a dotted IPv4 address. The default port is 161. Nothing
// else is accepted (no transport prefixes, no paths).
class GenAddress {
public:
    explicit GenAddress(std::string_view text);
    bool valid() const { return valid_; }
    // The peer name net-snmp opens ("udp:host:port", "udp6:[a]:port").
    const std::string &peername() const { return peername_; }

private:
    bool valid_ = false;
    std::string peername_;
};

class CTarget {
public:
    explicit CTarget(const GenAddress &address) : address_(address) {}
    void set_readcommunity(std::string c) { read_ = std::move(c); }
    void set_writecommunity(std::string c) { write_ = std::move(c); }
    void set_timeout(uint32_t hundredths) { timeout_ = hundredths; }
    void set_retry(uint32_t retries) { retries_ = retries; }

    const GenAddress &address() const { return address_; }
    const std::string &readcommunity() const { return read_; }
    const std::string &writecommunity() const { return write_; }
    uint32_t timeout() const { return timeout_; }
    uint32_t retry() const { return retries_; }

private:
    GenAddress address_;
    std::string read_ = "public";
    std::string write_ = "public";
    uint32_t timeout_ = 100;
    uint32_t retries_ = 2;
};

// The limits a request is held to, whatever the caller asks for.
constexpr uint32_t kMaxTimeout = 360000;  // hundredths: one hour
constexpr uint32_t kMaxRetries = 100;

class Snmp {
public:
    // status is set to kSuccess, or to why the session cannot be used.
    explicit Snmp(int &status);
    ~Snmp();
    Snmp(const Snmp &) = delete;
    Snmp &operator=(const Snmp &) = delete;

    // GET, GETNEXT and SET of the PDU's bindings. The reply's bindings
    // replace the PDU's, with its error status and index. The read
    // community serves GET and GETNEXT, the write community SET.
    int get(Pdu &pdu, const CTarget &target);
    int get_next(Pdu &pdu, const CTarget &target);
    int set(Pdu &pdu, const CTarget &target);

    // Ends requests in flight and fails every later request with kCancelled.
    void cancel_all() { cancelled_ = true; }

    // The result of the last request sent through this session.
    int last_status() const { return lastStatus_; }

private:
    int Request(int command, Pdu &pdu, const CTarget &target, const std::string &community);
    std::atomic<bool> cancelled_{false};
    std::atomic<int> lastStatus_{kSuccess};
};

}  // namespace kx9::snmp
