// One element of the schema, as a line of an element map describes it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kx9 {

// Sub-identifiers are 32-bit on the wire; an identifier has at most 128 of them.
using OidParts = std::vector<uint32_t>;
constexpr size_t kMaxOidParts = 128;

enum Syntax : int {
    kSyntaxUnset = -1,
    kSyntaxInteger = 2,
    kSyntaxBits = 3,
    kSyntaxString = 4,
    kSyntaxOid = 6,
    kSyntaxIpAddress = 64,
    kSyntaxCounter32 = 65,
    kSyntaxGauge32 = 66,
    kSyntaxTimeTicks = 67,
    kSyntaxOpaque = 68,
    kSyntaxCounter64 = 70,
    kSyntaxUnsigned32 = 71,
    kSyntaxDateAndTime = 79,
};

enum Access : int {
    kAccessReadOnly = 0,
    kAccessReadWrite = 1,
    kAccessReadCreate = 2,
    kAccessNotAccessible = 3,
};

enum Kind : int {
    kKindDynamic = 0,
    kKindStatic = 1,
    kKindFixed = 2,
    kKindTable = 3,
    kKindRow = 4,
    kKindRoot = 5,
};

// The element type a kind gives (DSE_ELEMENT_TYPE: 0 scalar, 1 composite, 2 collection).
int ElementTypeOfKind(int kind);

constexpr int32_t kIndexNone = -1;

struct MapEntry {
    std::string name;
    int32_t elementId = 0;
    OidParts oid;
    OidParts secondOid;
    std::u16string description;
    int32_t number5 = 0;
    int32_t number6 = 0;
    int syntax = kSyntaxUnset;
    int access = kAccessNotAccessible;
    std::string value;  // a "string" entry's value bytes
    int kind = kKindRow;
    std::array<int32_t, 4> index{kIndexNone, kIndexNone, kIndexNone, kIndexNone};

    // Set while loading: the entry lies under a table entry (position `table`
    // in the schema list; a table is marked as lying under itself).
    bool inTable = false;
    int table = -1;

    // Where the entry was read (the map's name and line), for diagnostics.
    std::string map;
    size_t line = 0;

    // The count of leading index slots that are not "none".
    int IndexSlotsInUse() const;
};

// "1.3.6.1" for an identifier.
std::string OidText(const OidParts &oid);

// True when prefix's sub-identifiers begin oid (equal identifiers included).
bool OidStartsWith(const OidParts &oid, const OidParts &prefix);

}  // namespace kx9
