// Reading a description (Backup.XML or Archive.XML) from its bytes, as
// vtBoxGetXMLInfo does once it has unpacked it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "session/boundary.hpp"
#include "vtBoxBRD.h"

namespace vtbox {

// Fills info from the bytes of a description of the given kind (1: backup,
// 2: document archive). For a backup, boxes receives the VTBOXBK array and
// count its length; for an archive, count is the number of documents. Raises
// 13 for bytes that are no XML document, 11 for a missing value or a box list
// shorter than its count, 8 when memory runs out, and the refusal of an engine
// version the engine does not support.
void ReadDescription(const char *data, size_t size, int kind, VTBACKUPINFO *info, uint32_t *count,
                     GlobalBlock *boxes);

}  // namespace vtbox
