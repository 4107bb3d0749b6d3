// Writes Backup.XML, the description of a backup file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "vtBoxBRD.h"

namespace vtbox {

class DescriptionWriter {
public:
    // Creates or truncates the file; raises the system error on failure.
    explicit DescriptionWriter(const std::string &path);
    ~DescriptionWriter();
    DescriptionWriter(const DescriptionWriter &) = delete;
    DescriptionWriter &operator=(const DescriptionWriter &) = delete;

    void WriteHeader();
    // local: the backup's local date and time; utcOffsetMinutes: local time
    // minus UTC at that moment.
    void WriteDevice(const VTENGVERSION &version, const SYSTEMTIME &local, int utcOffsetMinutes);
    void BeginBoxes(uint32_t count);
    void WriteBox(const VTBOXEX &box);
    // Closes the list and the document (the last line has no line end) and
    // the file; raises the system error when the file could not be written.
    void Finish();

private:
    void Line(const std::string &text);
    FILE *file_;
    std::string path_;
};

// "GMT+09:00", "GMT-05:00", "GMT+05:30".
std::string TimeZoneText(int utcOffsetMinutes);

// Text with the XML markup characters as entity references.
std::string EscapeXml(const std::string &text);

}  // namespace vtbox
