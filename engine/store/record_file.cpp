#include "store/record_file.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "session/result.hpp"
#include "vtplatform/text.hpp"

namespace vtbox {

std::u16string ReadRecordName(const std::string &path, uint32_t *number) {
    if (number) {
        *number = 0;
        if (path.size() >= 7) *number = static_cast<uint32_t>(std::strtoul(path.substr(path.size() - 7, 3).c_str(), nullptr, 10));
    }
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) Raise(vt::Code::FileNotFound, "cannot read the record " + path);
    unsigned char bytes[kRecordNameBytes] = {};
    size_t got = 0;
    if (std::fseek(f, static_cast<long>(kRecordNameOffset), SEEK_SET) == 0)
        got = std::fread(bytes, 1, sizeof bytes, f);
    std::fclose(f);
    std::u16string name;
    for (size_t i = 0; i + 1 < got; i += 2) {
        char16_t unit = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
        if (unit == 0) break;
        name += unit;
    }
    return name;
}

std::string ReadRecordNameUtf8(const std::string &path) { return vt::Utf16ToUtf8(ReadRecordName(path)); }

}  // namespace vtbox
