// The detail of a failure, for callers: a short text written where a failure
// happens (which box, which file, which FTP reply or HTTP status) and handed
// out by vtBoxGetLastErrorText. One per thread, like the last error.
//
// Each export clears it as it starts. At its end the export keeps it only
// when it was noted for the very code the export returns, so that the detail
// of a failure the engine got over never explains a different one.
//
// Texts are built from paths, numbers and the device's reply codes, never
// from a password: a request's query is cut before its password, an FTP
// command never carries one, and a login failure names only the server.
// Control bytes are kept escaped ("\x1B"), so the text is safe to print.
#pragma once

#include <cstdint>
#include <string>

namespace vtbox {

// Notes the detail of a failure with this code, replacing an earlier one.
void NoteFailure(uint32_t code, std::string text);

// Puts context in front of a detail noted for the same code
// ("packing X into Y: <detail>"), or notes the context alone.
void AddFailureContext(uint32_t code, const std::string &context);

// The detail now stands for another code (a step that turns one code into
// another keeps the detail of the failure underneath).
void RetagFailure(uint32_t code);

// An export's start: no detail.
void ClearFailureDetail();

// An export's end: keeps the detail only when it was noted for rc; 0 clears it.
void SettleFailureDetail(uint32_t rc);

// The current detail ("" when there is none).
const std::string &FailureDetail();

}  // namespace vtbox
