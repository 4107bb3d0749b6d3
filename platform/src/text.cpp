#include "vtplatform/text.hpp"

#include <cstdint>
#include <cstring>

namespace vt {

namespace {
constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string &out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Length of the well-formed UTF-8 sequence at text[i], or 0 when it is not one.
size_t SequenceLength(std::string_view text, size_t i, char32_t *cp) {
    auto b = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char c = b(i);
    size_t len;
    char32_t value;
    if (c < 0x80) {
        *cp = c;
        return 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
        value = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        value = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        value = c & 0x07;
    } else {
        return 0;
    }
    if (i + len > text.size()) return 0;
    for (size_t k = 1; k < len; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) return 0;
        value = (value << 6) | (b(i + k) & 0x3F);
    }
    if ((len == 3 && value < 0x800) || (len == 4 && (value < 0x10000 || value > 0x10FFFF)) ||
        (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *cp = value;
    return len;
}
}  // namespace

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t u = text[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            char32_t cp = 0x10000 + ((u - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            AppendUtf8(out, cp);
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            AppendUtf8(out, kReplacement);
        } else {
            AppendUtf8(out, u);
        }
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        char32_t cp;
        size_t len = SequenceLength(text, i, &cp);
        if (len == 0) {
            cp = kReplacement;
            len = 1;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += len;
    }
    return out;
}

std::u16string_view Utf16View(const char16_t *text, size_t maxUnits) {
    if (!text) return {};
    size_t n = 0;
    while (n < maxUnits && text[n] != 0) ++n;
    return {text, n};
}

size_t Utf8PrefixLength(std::string_view text, size_t maxBytes) {
    if (text.size() <= maxBytes) return text.size();
    size_t n = maxBytes;
    // Step back over continuation bytes to the start of the sequence that
    // straddles the cut, and drop it whole.
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    return n;
}

size_t Utf16PrefixLength(std::u16string_view text, size_t maxUnits) {
    if (text.size() <= maxUnits) return text.size();
    size_t n = maxUnits;
    if (n > 0 && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
    return n;
}

bool CopyUtf8(char *dst, size_t dstSize, std::string_view text) {
    if (!dst || dstSize == 0) return text.empty();
    size_t n = Utf8PrefixLength(text, dstSize - 1);
    std::memcpy(dst, text.data(), n);
    dst[n] = '\0';
    return n == text.size();
}

bool CopyUtf16(char16_t *dst, size_t dstUnits, std::u16string_view text) {
    if (!dst || dstUnits == 0) return text.empty();
    size_t n = Utf16PrefixLength(text, dstUnits - 1);
    std::memcpy(dst, text.data(), n * sizeof(char16_t));
    dst[n] = 0;
    return n == text.size();
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

}  // namespace vt
