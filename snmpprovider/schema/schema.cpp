#include "schema.hpp"

#include <algorithm>

namespace kx9 {

int ElementTypeOfKind(int kind) {
    switch (kind) {
    case kKindDynamic:
    case kKindStatic:
    case kKindFixed:
        return 0;  // DSE_SCALAR
    case kKindTable:
        return 2;  // DSE_COLLECTION
    default:
        return 1;  // DSE_COMPOSITE: rows, roots and unknown kinds
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

void Schema::Append(MapEntry entry) {
    entries_.push_back(std::move(entry));
    const int self = static_cast<int>(entries_.size()) - 1;
    int k = self;
    while (k >= 0 && entries_[k].kind != kKindTable && entries_[k].kind != kKindRoot) --k;
    MapEntry &e = entries_[self];
    if (k >= 0 && entries_[k].kind == kKindTable && OidStartsWith(e.oid, entries_[k].oid)) {
        e.inTable = true;
        e.table = k;
    } else if (e.access == kAccessReadOnly || e.access == kAccessReadWrite || e.access == kAccessReadCreate) {
        e.oid.push_back(0);
    }
}

void Schema::BuildIndex() {
    index_.resize(entries_.size());
    for (size_t i = 0; i < entries_.size(); ++i) index_[i] = static_cast<int>(i);
    std::stable_sort(index_.begin(), index_.end(),
                     [this](int a, int b) { return entries_[a].elementId < entries_[b].elementId; });
}

int Schema::Find(int32_t elementId) const {
    if (index_.size() != entries_.size()) {
        for (size_t i = 0; i < entries_.size(); ++i)
            if (entries_[i].elementId == elementId) return static_cast<int>(i);
        return -1;
    }
    auto it = std::lower_bound(index_.begin(), index_.end(), elementId,
                               [this](int pos, int32_t id) { return entries_[pos].elementId < id; });
    return it != index_.end() && entries_[*it].elementId == elementId ? *it : -1;
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
