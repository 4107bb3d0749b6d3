// Text: the system's "ANSI" text is UTF-8; names on the device are UTF-16.
// Conversions never crash on invalid input (bad sequences become U+FFFD) and
// cut text never splits a UTF-8 sequence or a UTF-16 surrogate pair.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vt {

std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

// UTF-16 text from a NUL-terminated or full buffer of at most max units.
std::u16string_view Utf16View(const char16_t *text, size_t max_units);

// The longest prefix of text that fits in max_bytes without splitting a
// UTF-8 sequence.
size_t Utf8PrefixLength(std::string_view text, size_t max_bytes);

// The longest prefix of text that fits in max_units without splitting a
// surrogate pair.
size_t Utf16PrefixLength(std::u16string_view text, size_t max_units);

// Copies text into a fixed field of dst_size bytes, cut to fit and always
// NUL-terminated (dst_size > 0). Returns true when nothing was cut.
bool CopyUtf8(char *dst, size_t dst_size, std::string_view text);

// The same for a UTF-16 field of dst_units units (terminator included).
bool CopyUtf16(char16_t *dst, size_t dst_units, std::u16string_view text);

// Case-insensitive comparison of ASCII letters (file names on the device and
// in archives are matched without regard to case).
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace vt
