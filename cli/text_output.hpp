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

// A JSON string literal for UTF-8 text (invalid bytes become U+FFFD; the
// bidirectional controls are written as \u escapes, the same text to a JSON
// reader).
std::string JsonString(const std::string &text);

// Text from a device or a file as it may go to a terminal: control
// characters (C0, DEL, C1) and bytes that are not UTF-8 become "\xNN", and
// the bidirectional controls (U+061C, U+200E, U+200F, U+202A..U+202E,
// U+2066..U+2069) "\uNNNN", so that no name can move the cursor, clear the
// screen, fake a line or show its characters in another order. Every name
// from a backup file or a device goes through it on its way to a terminal.
std::string PlainText(const std::string &text);

// "2023-11-14 22:13:20" (and "T...Z" in ISO form for JSON, UTC times).
std::string FormatTime(const SYSTEMTIME &t, bool isoUtc);

}  // namespace vtcli
