// Sizes as the windows show them: the boxes of a backup file and their total
// on the restore page, a backup file written, and the free space under the
// backup file dialog.
#pragma once

#include <QString>
#include <cstdint>

namespace vtutil {

// A box's size in KB: "2 MB" from 2048 KB on (whole MB, cut), else "1500 KB",
// never below "1 KB".
QString BoxSizeText(uint32_t kb);

// The total label: "Total:" then "3 MB" from 2048 KB on, else the KB; an
// empty choice reads 0 KB, any chosen box at least 1 KB.
QString TotalSizeText(uint64_t kb, bool anyChecked);

// A file's size: "1.5 MB" (a tenth of a MB) from 1 MB on, else "850 KB"
// (whole KB, rounded up).
QString FileSizeText(int64_t bytes);

// "Free space on  <root>  is  <n>  MB" (KB below 2 MB); root is the file
// system's mount point.
QString FreeSpaceText(const QString &root, uint64_t bytesFree);

}  // namespace vtutil
