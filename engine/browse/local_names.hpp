// Names for local files and folders made from names out of a backup file
// (documents' display names), which are untrusted: they may hold "/",
// "..", control characters, or be empty or long.
#pragma once

#include <string>
#include <string_view>

namespace vtbox {

// A safe name is at most this many bytes, so that a suffix " (NNNNN)" still
// keeps it within the 255 bytes of a name on Linux file systems.
inline constexpr size_t kMaxLocalNameBytes = 200;

// One name, never a path: "/" and "\\", control characters (C0, DEL, C1),
// bidirectional controls and bytes that are not UTF-8 become "_"; a name that begins with "." gets "_"
// in front (never ".", "..", nor hidden); an empty name becomes fallback;
// the result is cut to kMaxLocalNameBytes, never inside a character.
std::string SafeLocalName(std::string_view name, std::string_view fallback);

// The n-th name for a name that is taken: "name (n)" for n from 2.
std::string NumberedLocalName(const std::string &name, unsigned n);

}  // namespace vtbox
