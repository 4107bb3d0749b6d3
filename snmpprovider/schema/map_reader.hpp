// Reading element maps: tab-separated lines, one element each.
//
//   Name  ElementId  Oid  SecondOid  Description  Number5  Number6  Syntax
//   Access  Value  Kind  [Index1  Index2  Index3  Index4]
//
// A line in which "--" comes before the first tab is a comment; blank lines
// are skipped. Every other line must carry at least the first eleven fields.
// A line longer than kMaxMapLine characters, a short line, a missing or zero
// element number, and an empty or malformed object identifier fail the whole
// load, with a diagnostic naming the file and the line.
#pragma once

#include <string>
#include <string_view>

#include "schema.hpp"

namespace kx9 {

constexpr size_t kMaxMapLine = 256;
constexpr int kMapFields = 11;

// The five maps, read in this order from the folder of the server file.
extern const char *const kMapFileNames[5];

// Parses a dotted-decimal identifier ("1.3.6.1.2.1"): one to kMaxOidParts
// decimal sub-identifiers below 2^32, separated by single dots.
bool ParseOid(std::string_view text, OidParts *oid);

// Reads the text of one map (its whole content) into the schema. `name`
// names the map in diagnostics. On failure *error says where and why; the
// entries before the failing line stay in the schema.
bool ReadMapText(std::string_view name, std::string_view text, Schema *schema, std::string *error);

// Reads one map file.
bool LoadMapFile(const std::string &path, Schema *schema, std::string *error);

// Reads the five maps from `folder` in order, stopping at the first failure,
// and builds the schema's index.
bool LoadMaps(const std::string &folder, Schema *schema, std::string *error);

}  // namespace kx9
