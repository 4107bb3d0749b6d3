// Reading element maps: tab-separated lines, one element each.
//
//   Name  ElementId  Oid  SecondOid  Description  Number5  Number6  Syntax
//   Access  Value  Kind  [Index1  Index2  Index3  Index4]
//
// A line in which "--" comes before the first tab is a comment; blank lines
// are skipped. Every other line must carry at least the first eleven fields.
// A line longer than kMaxMapLine characters, a short line, a missing or zero
// element number, a number an earlier line (of any map) already gave, and an
// empty or malformed object identifier fail the whole load, with a
// diagnostic naming the file and the line.
//
// A map is read only from a regular file of at most kMaxMapBytes, checked
// before a byte of it is read: a device, a FIFO or a folder in a map's place
// would otherwise be read without end.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "schema.hpp"

namespace kx9 {

constexpr size_t kMaxMapLine = 256;
constexpr int kMapFields = 11;

// A map file is at most 16 MiB: some 160,000 lines as long as those of the
// maps we ship (which hold 35 KB together).
constexpr size_t kMaxMapBytes = size_t{16} << 20;

// The five maps together define at most this many elements. An entry takes
// several hundred bytes in memory and a short line 20 in the file, so the bytes alone
// would let five maps of short lines take gigabytes.
constexpr size_t kMaxSchemaEntries = 100000;

// The five maps, read in this order from the folder of the server file.
extern const char *const kMapFileNames[5];

// Parses a dotted-decimal identifier ("1.3.6.1.2.1"): one to kMaxOidParts
// decimal sub-identifiers below 2^32, separated by single dots.
bool ParseOid(std::string_view text, OidParts *oid);

// Reads the text of one map (its whole content) into the schema. `name`
// names the map in diagnostics. On failure *error says where and why; the
// entries before the failing line stay in the schema.
bool ReadMapText(std::string_view name, std::string_view text, Schema *schema, std::string *error);

// Reads one map file: a regular file (links followed) of at most
// kMaxMapBytes, refused unread otherwise.
bool LoadMapFile(const std::string &path, Schema *schema, std::string *error);

// Reads the five maps from `folder` in order, stopping at the first failure.
bool LoadMaps(const std::string &folder, Schema *schema, std::string *error);

}  // namespace kx9
