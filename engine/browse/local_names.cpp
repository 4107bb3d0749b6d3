#include "browse/local_names.hpp"

#include "vtplatform/diag.hpp"
#include "vtplatform/text.hpp"

namespace vtbox {

namespace {

// The length of the well-formed UTF-8 sequence at name[i], 0 when there is none.
size_t SequenceLength(std::string_view name, size_t i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    size_t len = c < 0x80                 ? 1
                 : c >= 0xC2 && c <= 0xDF ? 2
                 : c >= 0xE0 && c <= 0xEF ? 3
                 : c >= 0xF0 && c <= 0xF4 ? 4
                                          : 0;
    if (len == 0 || i + len > name.size()) return 0;
    for (size_t k = 1; k < len; ++k)
        if ((static_cast<unsigned char>(name[i + k]) & 0xC0) != 0x80) return 0;
    // Overlong forms and surrogates are no characters.
    const unsigned char d = static_cast<unsigned char>(len > 1 ? name[i + 1] : 0);
    if ((c == 0xE0 && d < 0xA0) || (c == 0xED && d >= 0xA0) || (c == 0xF0 && d < 0x90) || (c == 0xF4 && d >= 0x90))
        return 0;
    return len;
}

// Whether the character at name[i] (len bytes) is a bidirectional control:
// U+061C, U+200E, U+200F, U+202A..U+202E or U+2066..U+2069. Kept in a file
// name, it shows the name in another order in every file manager and shell
// ("gpj.exe" read backwards).
bool IsBidiControl(std::string_view name, size_t i, size_t len) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(name[i + k]); };
    if (len == 2) return byte(0) == 0xD8 && byte(1) == 0x9C;
    if (len != 3 || byte(0) != 0xE2) return false;
    const unsigned cp = 0x2000u | (static_cast<unsigned>(byte(1) & 0x3F) << 6) | (byte(2) & 0x3F);
    return cp == 0x200E || cp == 0x200F || (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

}  // namespace

std::string SafeLocalName(std::string_view name, std::string_view fallback) {
    std::string out;
    for (size_t i = 0; i < name.size();) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        const size_t len = SequenceLength(name, i);
        const bool control =
            c < 0x20 || c == 0x7F || (c == 0xC2 && len == 2 && static_cast<unsigned char>(name[i + 1]) < 0xA0);
        if (len == 0 || control || IsBidiControl(name, i, len) || c == '/' || c == '\\') {
            out += '_';
            i += len == 0 ? 1 : len;
            continue;
        }
        out.append(name, i, len);
        i += len;
    }
    if (out.empty()) out = SafeLocalName(fallback, "_");
    if (out[0] == '.') out.insert(0, "_");
    out.resize(vt::Utf8PrefixLength(out, kMaxLocalNameBytes));
    return out;
}

std::string NumberedLocalName(const std::string &name, unsigned n) { return name + vt::Format(" (%u)", n); }

}  // namespace vtbox
