// A small string table for the lookup tests.
#include "brlang_table.hpp"

namespace brlang {
const Entry kEntries[] = {{1, "Ready"},
                          {2,
                           "Z\xC3\xBC"
                           "rich"}};
const unsigned kEntryCount = 2;
}  // namespace brlang
