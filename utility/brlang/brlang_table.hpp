// The texts of one language, sorted by id (made by make_strings.py).
#pragma once

#include <cstdint>

namespace brlang {

struct Entry {
    uint32_t id;
    const char *text;
};

extern const Entry kEntries[];
extern const unsigned kEntryCount;

}  // namespace brlang
