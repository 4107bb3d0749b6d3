// Names and texts from a device or a backup file as vtbox prints them in its
// tables (PlainText) and its JSON (JsonString): nothing that reaches the
// terminal may be a control character or broken UTF-8. The same names as
// find matches them, and as extract makes local names of them.
#include "browse/local_names.hpp"
#include "fuzz_target.h"
#include "name_pattern.hpp"
#include "text_output.hpp"

namespace {

// Well-formed UTF-8 with no C0, DEL, C1 or bidirectional control character.
bool Printable(const std::string &s, bool allow_c0) {
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            if ((c < 0x20 && !allow_c0) || c == 0x7F) return false;
            ++i;
            continue;
        }
        size_t len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
        if (len == 0 || i + len > s.size()) return false;
        for (size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        if (c == 0xC2 && static_cast<unsigned char>(s[i + 1]) < 0xA0) return false;
        const unsigned char d = static_cast<unsigned char>(s[i + 1]);
        const unsigned char e = len >= 3 ? static_cast<unsigned char>(s[i + 2]) : 0;
        // Overlong forms and surrogates are no characters.
        if ((c == 0xE0 && d < 0xA0) || (c == 0xED && d >= 0xA0) || (c == 0xF0 && d < 0x90) || (c == 0xF4 && d >= 0x90))
            return false;
        // No bidirectional control: U+061C, U+200E, U+200F, U+202A..U+202E, U+2066..U+2069.
        if (len == 2 && c == 0xD8 && d == 0x9C) return false;
        if (c == 0xE2 && d == 0x80 && (e == 0x8E || e == 0x8F || (e >= 0xAA && e <= 0xAE))) return false;
        if (c == 0xE2 && d == 0x81 && e >= 0xA6 && e <= 0xA9) return false;
        i += len;
    }
    return true;
}

}  // namespace

VT_FUZZ_TARGET(plain_text) {
    std::string text(reinterpret_cast<const char *>(data), size);
    std::string plain = vtcli::PlainText(text);
    VT_FUZZ_CHECK(Printable(plain, false));
    // Text that needs no escape comes out as it went in.
    if (Printable(text, false)) VT_FUZZ_CHECK(plain == text);
    std::string json = vtcli::JsonString(text);
    VT_FUZZ_CHECK(json.size() >= 2 && json.front() == '"' && json.back() == '"');
    for (char c : json) VT_FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20);

    // A local name: one name, printable, never hidden, within its bound.
    const std::string local = vtbox::SafeLocalName(text, "D0000001");
    VT_FUZZ_CHECK(!local.empty() && local.size() <= vtbox::kMaxLocalNameBytes && local[0] != '.');
    VT_FUZZ_CHECK(local.find('/') == std::string::npos && local.find('\\') == std::string::npos);
    VT_FUZZ_CHECK(Printable(local, false));
    // A name matches "*", and itself when it holds no pattern character.
    VT_FUZZ_CHECK(vtcli::MatchesName("*", text));
    if (text.find_first_of("*?[\\") == std::string::npos) VT_FUZZ_CHECK(vtcli::MatchesName(text, text));
    return 0;
}
