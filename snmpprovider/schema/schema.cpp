#include "schema.hpp"

#include <algorithm>
#include <utility>

namespace kx9 {

int ElementTypeOfKind(int kind) {
    switch (kind) {
    case kKindDynamic:
    case kKindStatic:
    case kKindFixed: return 0;  // DSE_SCALAR
    case kKindTable: return 2;  // DSE_COLLECTION
    default: return 1;          // DSE_COMPOSITE: rows, roots and unknown kinds
    }
}

int MapEntry::IndexSlotsInUse() const {
    int n = 0;
    while (n < static_cast<int>(index.size()) && index[n] != kIndexNone) ++n;
    return n;
}

std::string OidText(const OidParts &oid) {
    std::string text;
    for (size_t i = 0; i < oid.size(); ++i) {
        if (i) text += '.';
        text += std::to_string(oid[i]);
    }
    return text;
}

bool OidStartsWith(const OidParts &oid, const OidParts &prefix) {
    return prefix.size() <= oid.size() && std::equal(prefix.begin(), prefix.end(), oid.begin());
}

bool Schema::Append(MapEntry entry) {
    const int self = static_cast<int>(entries_.size());
    auto [slot, fresh] = index_.emplace(entry.elementId, self);
    if (!fresh) return false;
    try {
        entries_.push_back(std::move(entry));
    } catch (...) {
        index_.erase(slot);
        throw;
    }
    MapEntry &e = entries_.back();
    // The walk back from the entry itself ends at the entry when it is a
    // table or a root, else at the last one before it.
    if (e.kind == kKindTable || e.kind == kKindRoot) lastGroup_ = self;
    const int k = lastGroup_;
    if (k >= 0 && entries_[k].kind == kKindTable && OidStartsWith(e.oid, entries_[k].oid)) {
        e.inTable = true;
        e.table = k;
    } else if (e.access == kAccessReadOnly || e.access == kAccessReadWrite || e.access == kAccessReadCreate) {
        e.oid.push_back(0);
    }
    return true;
}

int Schema::Find(int32_t elementId) const {
    auto it = index_.find(elementId);
    return it == index_.end() ? -1 : it->second;
}

const MapEntry *Schema::FindByElementId(int32_t elementId) const {
    int pos = Find(elementId);
    return pos < 0 ? nullptr : &entries_[pos];
}

size_t Schema::FirstRoot() const {
    for (size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].kind == kKindRoot) return i;
    return entries_.size();
}

std::vector<int> Schema::Children(int position) const {
    std::vector<int> out;
    if (position < 0 || static_cast<size_t>(position) >= entries_.size()) return out;
    const OidParts &parent = entries_[position].oid;
    for (size_t i = position + 1; i < entries_.size(); ++i) {
        const OidParts &oid = entries_[i].oid;
        if (oid.size() <= parent.size() || !OidStartsWith(oid, parent)) break;
        out.push_back(static_cast<int>(i));
    }
    return out;
}

}  // namespace kx9
