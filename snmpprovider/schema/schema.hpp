// The schema: every map entry in map order, an ordered index by element
// number, and the relations the element objects need (tables, children).
#pragma once

#include <cstdint>
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
    // so they get the sub-identifier 0 appended.
    void Append(MapEntry entry);

    // Orders the index by element number; entries with equal numbers keep
    // their map order, so a lookup finds the first of them.
    void BuildIndex();

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
    std::vector<int> index_;  // positions ordered by element number
};

}  // namespace kx9
