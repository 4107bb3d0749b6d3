// Element maps of the SNMP element provider: the map text as the server reads
// it beside its file, then the index and relations built from it.
#include "fuzz_target.h"
#include "map_reader.hpp"

VT_FUZZ_TARGET(element_map) {
  using namespace kx9;
  Schema schema;
  std::string error;
  const bool ok = ReadMapText("Fuzz.txt", std::string_view(reinterpret_cast<const char*>(data), size), &schema, &error);
  VT_FUZZ_CHECK(ok || !error.empty());
  schema.BuildIndex();
  schema.FirstRoot();
  for (size_t i = 0; i < schema.size() && i < 512; ++i) {
    const MapEntry& entry = schema.at(i);
    VT_FUZZ_CHECK(entry.elementId != 0 && !entry.oid.empty() && entry.oid.size() <= kMaxOidParts);
    // A lookup finds an entry with that number (the first of equal ones).
    const int found = schema.Find(entry.elementId);
    VT_FUZZ_CHECK(found >= 0 && static_cast<size_t>(found) <= i);
    VT_FUZZ_CHECK(schema.at(static_cast<size_t>(found)).elementId == entry.elementId);
    for (int child : schema.Children(static_cast<int>(i)))
      VT_FUZZ_CHECK(child > static_cast<int>(i) && static_cast<size_t>(child) < schema.size());
  }
  return 0;
}
