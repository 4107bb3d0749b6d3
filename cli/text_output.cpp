#include "text_output.hpp"

#include <cstdio>

namespace vtcli {

namespace {
// The length of the well-formed UTF-8 sequence at text[i], 0 when there is
// none (overlong forms and surrogates are none).
size_t Utf8Length(const std::string &text, size_t i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
    if (len == 0 || i + len > text.size()) return 0;
    for (size_t k = 1; k < len; ++k)
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
    const unsigned char d = static_cast<unsigned char>(text[i + 1]);
    if ((c == 0xE0 && d < 0xA0) || (c == 0xED && d >= 0xA0) || (c == 0xF0 && d < 0x90) || (c == 0xF4 && d >= 0x90))
        return 0;
    return len;
}

// The code point of the bidirectional control at text[i] (a sequence of
// len bytes), 0 for any other character: U+061C, U+200E, U+200F,
// U+202A..U+202E and U+2066..U+2069 reorder what follows them on the
// screen, so that a name can show as another ("gpj.exe" read backwards).
unsigned BidiControl(const std::string &text, size_t i, size_t len) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[i + k]); };
    if (len == 2 && byte(0) == 0xD8 && byte(1) == 0x9C) return 0x061C;
    if (len != 3 || byte(0) != 0xE2) return 0;
    const unsigned cp = 0x2000u | (static_cast<unsigned>(byte(1) & 0x3F) << 6) | (byte(2) & 0x3F);
    if (cp == 0x200E || cp == 0x200F || (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069)) return cp;
    return 0;
}
}  // namespace

void PrintError(const std::string &what, uint32_t code, const std::string &detail) {
    char text[512];
    if (vtGetMessageText(code, text, sizeof text) == 0) std::snprintf(text, sizeof text, "unknown error");
    std::string line = "vtbox: " + what + " failed: error " + std::to_string(code) + ": " + text;
    // The detail names files and the device's own words: escaped like them.
    if (!detail.empty()) line += " (" + PlainText(detail) + ")";
    std::fprintf(stderr, "%s\n", line.c_str());
}

std::string JsonString(const std::string &text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else if (c < 0x80) {
                out += static_cast<char>(c);
            } else {
                // Copy a well-formed UTF-8 sequence; anything else becomes U+FFFD.
                size_t len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
                bool ok = len > 0 && i + len <= text.size();
                for (size_t k = 1; ok && k < len; ++k) ok = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
                if (ok && BidiControl(text, i, len) != 0) {
                    // Kept, but written as an escape: JSON lines are read on terminals too.
                    char buf[16];
                    std::snprintf(buf, sizeof buf, "\\u%04x", BidiControl(text, i, len));
                    out += buf;
                    i += len - 1;
                } else if (ok) {
                    out.append(text, i, len);
                    i += len - 1;
                } else {
                    out += "\xef\xbf\xbd";
                }
            }
        }
    }
    return out + "\"";
}

std::string PlainText(const std::string &text) {
    std::string out;
    auto escape = [&](unsigned char c) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\x%02X", c);
        out += buf;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            escape(c);
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (size_t len = Utf8Length(text, i); len == 0) {
            escape(c);
        } else if (c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
            escape(c);  // U+0080..U+009F, the C1 controls
            escape(static_cast<unsigned char>(text[i + 1]));
            ++i;
        } else if (unsigned bidi = BidiControl(text, i, len); bidi != 0) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "\\u%04X", bidi);
            out += buf;
            i += len - 1;
        } else {
            out.append(text, i, len);
            i += len - 1;
        }
    }
    return out;
}

std::string FormatTime(const SYSTEMTIME &t, bool isoUtc) {
    char buf[64];
    std::snprintf(buf, sizeof buf, isoUtc ? "%04u-%02u-%02uT%02u:%02u:%02uZ" : "%04u-%02u-%02u %02u:%02u:%02u", t.wYear,
                  t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    return buf;
}

}  // namespace vtcli
