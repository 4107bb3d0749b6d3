// The element operations on a device: the single-object read, the table
// walk and the write, with the conversion of received values to VARIANTs.
// Each runs on the thread that calls it, through the provider's session, and
// answers a DSE_ELEMENT_STATE.
#pragma once

#include <cstdint>
#include <string>

#include "map_entry.hpp"
#include "snmp_layer.hpp"
#include "value_lists.hpp"

namespace kx9 {

// What one operation needs: the object identifier text, the device address
// and community, the time-out (hundredths) and retries, the entry's syntax,
// and for writes where in its table the entry lies.
struct Operation {
    std::string oid;
    std::string address;
    std::string community;
    uint32_t timeout = 100;
    uint32_t retries = 2;
    int syntax = kSyntaxUnset;
    bool inTable = false;
    int indexSlots = 0;
};

// A walk stops after this many values of one column, whatever the agent sends.
constexpr size_t kMaxWalkValues = 65536;

// The VARIANT a received binding becomes: numbers as VT_I4 (unsigned ones
// with their bits kept), text and printable forms as VT_BSTR, anything else
// empty. entrySyntax kSyntaxDateAndTime renders octets as a date and time.
Variant ConvertValue(const snmp::Vb &vb, int entrySyntax);

// "2024-5-28,12:34:15.0,+2:0" for the 8 or 11 octets of a DateAndTime;
// other lengths in hexadecimal.
std::string DateAndTimeText(const std::string &octets);

// GET of one object; its value goes to the first list of *out.
int SingleRead(snmp::Snmp &session, const Operation &op, ValueSet *out);

// GETNEXT walk of one column. Values go to the first list; for instances of
// more than one sub-identifier each new first sub-identifier starts the next
// list. The walk ends at the column's end, at an error status, when the agent
// does not move forward, or where a sixth list would begin (the first five
// groups are kept whole). Values read before a failure are kept.
int TableRead(snmp::Snmp &session, const Operation &op, ValueSet *out);

// SET of every value marked changed, one request each. A value in a table
// goes to the instance the table read found it at (in a sparse table its
// place in the lists says nothing of its row); one the host added beyond
// what was read is addressed by its place: list i, index j is instance
// ".i+1.j+1" with two index slots in use and ".j+1" with one. A value written
// is unmarked; every value is tried. Answers the state of the first failure,
// or success.
int Write(snmp::Snmp &session, const Operation &op, ValueLists &lists);

}  // namespace kx9
