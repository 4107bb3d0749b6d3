#include "error_text.hpp"

#include "language.hpp"
#include "text_format.hpp"
#include "text_ids.hpp"
#include "vtplatform.h"
#include "vtresult.h"

namespace vtutil {

namespace {

struct ErrorRow {
    uint32_t code;
    uint32_t first;
    uint32_t second;  // 0: one line
};

// A row with a second id shows two lines; for a device that does not answer
// they are the fact and what to check.
constexpr ErrorRow kErrorRows[] = {
    {VTBOX_E_PATH_NOT_FOUND, 403, 0},        {VTBOX_E_ACCESS_DENIED, 136, 0},      {VTBOX_E_NOT_ENOUGH_MEMORY, 131, 0},
    {VTBOX_E_REQUEST_REFUSED, 128, 0},       {VTBOX_E_NOT_SUPPORTED, 138, 0},      {VTBOX_E_BAD_NET_RESPONSE, 128, 0},
    {VTBOX_E_DEVICE_IN_USE, 103, 0},         {VTBOX_E_DISK_FULL, 126, 0},          {VTBOX_E_STORE_BUSY, 115, 0},
    {VTBOX_E_ALREADY_EXISTS, 137, 0},        {VTBOX_E_WRONG_PASSWORD, 68, 0},      {VTBOX_E_NO_DEVICE_SPACE, 142, 0},
    {VTBOX_E_STORE_TIMEOUT, 117, 0},         {VTBOX_E_ENGINE_TOO_NEW, 140, 0},     {VTBOX_E_OFFLINE, 132, 0},
    {VTBOX_E_DEVICE_NOT_AVAILABLE, 67, 125}, {VTBOX_E_WEB_SESSION_FAILED, 116, 0}, {VTBOX_E_NET_TIMEOUT, 67, 125},
    {VTBOX_E_CONNECTION_FAILED, 128, 0},     {VTBOX_E_INVALID_OPTION, 67, 125},    {VTBOX_E_CANNOT_CONNECT, 67, 125},
};

constexpr uint32_t kConnectionLossCodes[] = {
    VTBOX_E_CONNECTION_FAILED,    VTBOX_E_REQUEST_REFUSED, VTBOX_E_NOT_SUPPORTED, VTBOX_E_BAD_NET_RESPONSE,
    VTBOX_E_DEVICE_NOT_AVAILABLE, VTBOX_E_NET_TIMEOUT,     VTBOX_E_STORE_TIMEOUT, VTBOX_E_CANNOT_CONNECT};

// The platform's texts are one short line each.
constexpr size_t kMessageTextBytes = 256;

constexpr uint32_t kConnectionBrokenCodes[] = {VTBOX_E_CONNECTION_ABORTED, VTBOX_E_CONNECTION_RESET,
                                               VTBOX_E_FTP_DROPPED};

}  // namespace

QString ErrorTextFor(uint32_t code) {
    if (code == 0) return {};
    for (const ErrorRow &row : kErrorRows) {
        if (row.code != code) continue;
        if (!row.second) return Text(row.first);
        return Text(row.first) + QLatin1Char('\n') + Text(row.second);
    }
    return Text(ids::kSomeError);
}

QString FailureDetails(uint32_t code, const QString &detail) {
    if (code == 0) return detail;
    char text[kMessageTextBytes];
    vtGetMessageText(code, text, sizeof text);
    QString details = detail;
    if (!details.isEmpty()) details += QLatin1Char('\n');
    return details + FormatValues(Text(ids::kErrorCodeLine), {QString::number(code), QString::fromUtf8(text)});
}

QString ShortErrorText(uint32_t code) { return ShortText(ErrorTextFor(code)); }

QString ShortText(const QString &text) {
    qsizetype cut = text.lastIndexOf(QLatin1Char('\n'));
    if (cut < 0) cut = text.lastIndexOf(QLatin1Char(','));
    return cut < 0 ? text : text.left(cut);
}

bool IsConnectionLoss(uint32_t code) {
    for (uint32_t c : kConnectionLossCodes)
        if (c == code) return true;
    return false;
}

bool IsConnectionBroken(uint32_t code) {
    for (uint32_t c : kConnectionBrokenCodes)
        if (c == code) return true;
    return false;
}

}  // namespace vtutil
