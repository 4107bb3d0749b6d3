// Result codes of the engine as message texts, and the codes that mean the
// device has gone.
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

namespace vtutil {

// The message text for an engine result code; empty for 0. Codes without a
// row of their own get the text for any other error.
QString ErrorTextFor(uint32_t code);

// The ids of every text ErrorTextFor can give.
std::vector<uint32_t> ErrorTextIds();

// ShortText(ErrorTextFor(code)). For one-line reports.
QString ShortErrorText(uint32_t code);

// text cut before its last line feed; without one, before its last comma;
// without either, the whole text.
QString ShortText(const QString &text);

// What a failure's report shows behind Show Details: the detail the engine
// or the system gave (where and why it failed), then the code with the
// platform's text for it ("Error 5: Access was denied."). Empty for 0.
QString FailureDetails(uint32_t code, const QString &detail = {});

// True for the codes after which a device command counts the session as
// lost (the device no longer answers).
bool IsConnectionLoss(uint32_t code);

// True for the codes of a connection to the device that broke in the middle
// of a transfer (aborted, reset, the FTP connection dropped): after a job
// the session counts as lost then too.
bool IsConnectionBroken(uint32_t code);

}  // namespace vtutil
