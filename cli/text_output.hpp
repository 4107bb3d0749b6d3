// Output helpers: error lines, JSON strings, dates.
#pragma once

#include <cstdint>
#include <string>

#include "vtplatform.h"

namespace vtcli {

// "vtbox: <what> failed: error <code>: <text> (<detail>)" on standard error.
// The detail is where the engine says the failure happened
// (vtBoxGetLastErrorText right after the failing call); without one the
// parenthesis is left out.
void PrintError(const std::string &what, uint32_t code, const std::string &detail = std::string());

// A JSON string literal for UTF-8 text (invalid bytes become U+FFFD).
std::string JsonString(const std::string &text);

// Text from a device or a file as it may go to a terminal: control
// characters (C0, DEL, C1) and bytes that are not UTF-8 become "\xNN", so
// that no name can move the cursor, clear the screen or fake a line.
std::string PlainText(const std::string &text);

// "2023-11-14 22:13:20" (and "T...Z" in ISO form for JSON, UTC times).
std::string FormatTime(const SYSTEMTIME &t, bool isoUtc);

}  // namespace vtcli
