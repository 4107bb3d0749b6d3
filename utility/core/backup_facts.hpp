// What the restore page tells about a chosen backup file, from its
// description: when it was made and on which device. The description comes
// from a file and is untrusted: its texts are shown bounded and on one line.
#pragma once

#include <QString>

#include "vtBoxBRD.h"

namespace vtutil {

// The most characters of a description's text that the page shows; a longer
// one ends in "...". The device's own values (engine versions such as
// "Korvo-B V1.3.0.0", MAC addresses) are far shorter.
inline constexpr qsizetype kShownFieldChars = 64;

struct BackupFacts {
    QString made;           // "Wednesday, March 05, 2025, 10:05"; empty when the date is not a date
    QString engineVersion;  // as shown
    QString macAddress;     // as shown
};

BackupFacts DescribeBackup(const VTBACKUPINFO &info);

// A text field of a record as shown: at most size bytes up to the first NUL,
// as UTF-8, control characters as blanks, at most kShownFieldChars long.
QString ShownField(const char *field, size_t size);

// A text field of a record as it is, for comparing: at most size bytes up to
// the first NUL, as UTF-8.
QString FieldText(const char *field, size_t size);

}  // namespace vtutil
