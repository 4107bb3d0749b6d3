// The schema: every map entry in map order, an ordered index by element
// number (each number once), and the relations the element objects need
// (tables, children). Appending costs the same whatever the schema holds.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "map_entry.hpp"

namespace kx9 {

class Schema {
public:
    // Appends an entry and finds its table: walking back from the entry
    // itself to the nearest "table" or "root-OID" entry, the entry lies in
    // that table when it is a table whose identifier begins the entry's.
    // Accessible entries outside tables are addressed as scalar instances,
    // so they get the sub-identifier 0 appended. An entry whose number the
    // schema already holds is not appended: false.
    bool Append(MapEntry entry);

    // The position of the entry with this number, or -1.
    int Find(int32_t elementId) const;
    const MapEntry *FindByElementId(int32_t elementId) const;

    size_t size() const { return entries_.size(); }
    const MapEntry &at(size_t position) const { return entries_.at(position); }

    // Where iteration over the whole schema starts: the first "root-OID"
    // entry, or size() when there is none.
    size_t FirstRoot() const;

    // The entries right after `position` whose identifiers lie under its
    // identifier, in map order.
    std::vector<int> Children(int position) const;

private:
    std::vector<MapEntry> entries_;
    std::map<int32_t, int> index_;  // element number -> position, ordered by number
    int lastGroup_ = -1;            // the last "table" or "root-OID" entry, where a walk back stops
};

}  // namespace kx9
