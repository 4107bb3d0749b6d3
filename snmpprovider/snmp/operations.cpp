#include "operations.hpp"

#include <cstdio>

#include "SNMPProvider.h"
#include "map_reader.hpp"

namespace kx9 {

namespace {

int StateOf(int status) {
    switch (status) {
    case snmp::kSuccess: return DSE_ELEMENT_NO_ERROR;
    case snmp::kTimeout: return DSE_ELEMENT_OPTIMEOUT;
    case snmp::kInvalidAddress:
    case snmp::kTransportFailed: return DSE_ELEMENT_OP_TRANSPORT_ERROR;
    default: return DSE_ELEMENT_OP_GEN_ERROR;
    }
}

snmp::CTarget TargetFor(const Operation &op, bool write) {
    snmp::CTarget target{snmp::GenAddress(op.address)};
    if (write)
        target.set_writecommunity(op.community);
    else
        target.set_readcommunity(op.community);
    target.set_timeout(op.timeout);
    target.set_retry(op.retries);
    return target;
}

bool ParseIpAddress(const std::string &text, std::array<uint8_t, 4> *out) {
    unsigned a, b, c, d;
    char tail;
    if (std::sscanf(text.c_str(), "%3u.%3u.%3u.%3u%c", &a, &b, &c, &d, &tail) != 4) return false;
    if (a > 255 || b > 255 || c > 255 || d > 255) return false;
    *out = {static_cast<uint8_t>(a), static_cast<uint8_t>(b), static_cast<uint8_t>(c), static_cast<uint8_t>(d)};
    return true;
}

// The binding to SET for a stored value, or false when it cannot be sent.
bool ValueBinding(const Variant &value, int syntax, snmp::Vb *vb) {
    const VARIANT &v = value.get();
    if (v.vt == VT_BSTR) {
        std::string text = value.Utf8();
        if (syntax != kSyntaxIpAddress) {
            vb->set_octets(text);
            return true;
        }
        std::array<uint8_t, 4> address;
        if (!ParseIpAddress(text, &address)) return false;
        vb->set_ipaddress(address);
        return true;
    }
    int32_t number = v.vt == VT_I4 ? v.lVal : 0;
    switch (syntax) {
    case kSyntaxCounter32:
    case kSyntaxGauge32:
    case kSyntaxTimeTicks:
    case kSyntaxUnsigned32:
        // These travel as their own types; an INTEGER would be refused.
        vb->set_uint32(syntax, static_cast<uint32_t>(number));
        break;
    default: vb->set_int32(number);
    }
    return true;
}

// Appends where a changed value of a column goes: the instance the table
// read found it at, else its place in the lists. False when neither says.
bool AddInstance(const Operation &op, const ValueLists::Change &change, OidParts *oid) {
    if (!op.inTable) return true;
    if (change.hasInstance) {
        OidParts instance;
        if (!ParseOid(change.instance, &instance) || oid->size() + instance.size() > kMaxOidParts) return false;
        oid->insert(oid->end(), instance.begin(), instance.end());
        return true;
    }
    switch (op.indexSlots) {
    case 0: return true;
    case 1: oid->push_back(static_cast<uint32_t>(change.index + 1)); return true;
    case 2:
        oid->push_back(static_cast<uint32_t>(change.list + 1));
        oid->push_back(static_cast<uint32_t>(change.index + 1));
        return true;
    default: return false;  // no place in the lists says where such a value belongs
    }
}

}  // namespace

std::string DateAndTimeText(const std::string &o) {
    auto u = [&](size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(o[i])); };
    if ((o.size() == 8 || o.size() == 11) && (o.size() == 8 || o[8] == '+' || o[8] == '-')) {
        char buf[64];
        int n = std::snprintf(buf, sizeof buf, "%u-%u-%u,%u:%u:%u.%u", u(0) << 8 | u(1), u(2), u(3), u(4), u(5), u(6),
                              u(7));
        if (o.size() == 11) std::snprintf(buf + n, sizeof buf - n, ",%c%u:%u", o[8], u(9), u(10));
        return buf;
    }
    std::string hex;
    for (size_t i = 0; i < o.size(); ++i) {
        char b[4];
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", u(i));
        hex += b;
    }
    return hex;
}

Variant ConvertValue(const snmp::Vb &vb, int entrySyntax) {
    switch (vb.get_syntax()) {
    case snmp::kVbInt32:
    case snmp::kVbUInt32:
    case snmp::kVbCounter32:
    case snmp::kVbGauge32:
    case snmp::kVbTimeTicks: return Variant::Int(vb.int32_value());
    case snmp::kVbOctets:
        if (entrySyntax == kSyntaxDateAndTime) return Variant::Text(DateAndTimeText(vb.octets()));
        return Variant::Text(vb.get_printable_value());
    case snmp::kVbOid:
    case snmp::kVbIpAddress: return Variant::Text(vb.get_printable_value());
    default: return Variant();
    }
}

int SingleRead(snmp::Snmp &session, const Operation &op, ValueSet *out) {
    OidParts oid;
    if (!ParseOid(op.oid, &oid)) return DSE_ELEMENT_OP_GEN_ERROR;
    snmp::Pdu pdu{snmp::Vb(snmp::Oid(oid))};
    int status = session.get(pdu, TargetFor(op, false));
    if (status != snmp::kSuccess) return StateOf(status);
    if (pdu.get_error_status() != 0 || pdu.vbs().empty()) return DSE_ELEMENT_OP_GEN_ERROR;
    StoredValue value;
    value.value = ConvertValue(pdu.vbs().front(), op.syntax);
    (*out)[0].push_back(std::move(value));
    return DSE_ELEMENT_NO_ERROR;
}

int TableRead(snmp::Snmp &session, const Operation &op, ValueSet *out) {
    OidParts columnParts;
    if (!ParseOid(op.oid, &columnParts)) return DSE_ELEMENT_OP_GEN_ERROR;
    const snmp::Oid column(columnParts);
    const snmp::CTarget target = TargetFor(op, false);
    snmp::Oid cursor = column;
    int list = 0;
    bool grouped = false;
    uint32_t group = 0;
    for (size_t count = 0; count < kMaxWalkValues; ++count) {
        snmp::Pdu pdu{snmp::Vb(cursor)};
        int status = session.get_next(pdu, target);
        if (status != snmp::kSuccess) return StateOf(status);
        if (pdu.get_error_status() != 0) break;  // past the end of the agent's view (SNMPv1)
        if (pdu.vbs().empty()) return DSE_ELEMENT_OP_GEN_ERROR;
        const snmp::Vb &vb = pdu.vbs().front();
        const snmp::Oid &found = vb.get_oid();
        if (!found.StartsWith(column) || found.len() == column.len()) break;
        if (vb.get_syntax() == snmp::kVbEndOfMibView) break;
        if (!(cursor < found)) break;  // an agent that does not move forward would never end
        OidParts instance(found.parts().begin() + static_cast<long>(column.len()), found.parts().end());
        if (instance.size() > 1) {
            if (grouped && instance[0] != group) ++list;
            group = instance[0];
            grouped = true;
            if (list >= kValueLists) break;
        }
        StoredValue value;
        value.value = ConvertValue(vb, op.syntax);
        value.hasInstance = true;
        value.instance = OidText(instance);
        (*out)[list].push_back(std::move(value));
        cursor = found;
    }
    return DSE_ELEMENT_NO_ERROR;
}

int Write(snmp::Snmp &session, const Operation &op, ValueLists &lists) {
    OidParts base;
    if (!ParseOid(op.oid, &base)) return DSE_ELEMENT_OP_GEN_ERROR;
    const snmp::CTarget target = TargetFor(op, true);
    int result = DSE_ELEMENT_NO_ERROR;
    for (const ValueLists::Change &change : lists.Changed()) {
        OidParts oid = base;
        if (!AddInstance(op, change, &oid)) {
            if (result == DSE_ELEMENT_NO_ERROR) result = DSE_ELEMENT_OP_GEN_ERROR;
            continue;
        }
        snmp::Vb vb{snmp::Oid(oid)};
        if (!ValueBinding(change.value, op.syntax, &vb)) {
            if (result == DSE_ELEMENT_NO_ERROR) result = DSE_ELEMENT_OP_GEN_ERROR;
            continue;
        }
        snmp::Pdu pdu{vb};
        int status = session.set(pdu, target);
        int state = status != snmp::kSuccess      ? StateOf(status)
                    : pdu.get_error_status() != 0 ? DSE_ELEMENT_OP_GEN_ERROR
                                                  : DSE_ELEMENT_NO_ERROR;
        if (state == DSE_ELEMENT_NO_ERROR)
            lists.MarkWritten(change);
        else if (result == DSE_ELEMENT_NO_ERROR)
            result = state;
    }
    return result;
}

}  // namespace kx9
