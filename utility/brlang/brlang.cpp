// The lookup that every language library exports; the texts come from the
// generated table linked beside it.
#include "brlang.h"

#include <algorithm>
#include <cstring>

#include "brlang_table.hpp"

extern "C" __attribute__((visibility("default"))) int32_t brLoadString(uint32_t id, char *buffer, int32_t bufferMax) {
    if (!buffer || bufferMax < 1) return 0;
    buffer[0] = '\0';
    const brlang::Entry *end = brlang::kEntries + brlang::kEntryCount;
    const brlang::Entry *hit = std::lower_bound(brlang::kEntries, end, id,
                                                [](const brlang::Entry &e, uint32_t wanted) { return e.id < wanted; });
    if (hit == end || hit->id != id) return 0;
    size_t length = std::strlen(hit->text);
    size_t room = static_cast<size_t>(bufferMax) - 1;
    if (length > room) {
        length = room;
        // Step back over continuation bytes so that no sequence is split.
        while (length > 0 && (static_cast<unsigned char>(hit->text[length]) & 0xC0) == 0x80) --length;
    }
    std::memcpy(buffer, hit->text, length);
    buffer[length] = '\0';
    return static_cast<int32_t>(length);
}
