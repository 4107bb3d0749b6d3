// UTF-8 <-> UTF-16 conversion for record files (UTF-16LE) and replies (UTF-8).
#pragma once

#include <string>
#include <string_view>

namespace devicesim {

// Invalid or truncated UTF-8 sequences become U+FFFD; never throws on bad input.
std::u16string Utf8ToUtf16(std::string_view text);

// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace devicesim
