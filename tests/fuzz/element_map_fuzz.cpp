// Element maps of the SNMP element provider: the map text as the server reads
// it beside its file, then the index and relations built from it.
#include "fuzz_target.h"
#include "map_reader.hpp"

VT_FUZZ_TARGET(element_map) {
    using namespace kx9;
    Schema schema;
    std::string error;
    const bool ok =
        ReadMapText("Fuzz.txt", std::string_view(reinterpret_cast<const char *>(data), size), &schema, &error);
    VT_FUZZ_CHECK(ok || !error.empty());
    VT_FUZZ_CHECK(schema.size() <= kMaxSchemaEntries);
    schema.FirstRoot();
    for (size_t i = 0; i < schema.size() && i < 512; ++i) {
        const MapEntry &entry = schema.at(i);
        VT_FUZZ_CHECK(entry.elementId != 0 && !entry.oid.empty() && entry.oid.size() <= kMaxOidParts);
        // Numbers are unique: a lookup finds this very entry.
        VT_FUZZ_CHECK(schema.Find(entry.elementId) == static_cast<int>(i));
        for (int child : schema.Children(static_cast<int>(i)))
            VT_FUZZ_CHECK(child > static_cast<int>(i) && static_cast<size_t>(child) < schema.size());
    }
    return 0;
}
