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
// they are the fact and what to check. Rows name their texts (text_ids.hpp),
// never a bare number, so that no row can show a text meant for something
// else.
constexpr ErrorRow kErrorRows[] = {
    {VTBOX_E_PATH_NOT_FOUND, ids::kErrorPathNotFound, 0},
    {VTBOX_E_ACCESS_DENIED, ids::kErrorAccessDenied, 0},
    {VTBOX_E_NOT_ENOUGH_MEMORY, ids::kErrorNoMemory, 0},
    {VTBOX_E_REQUEST_REFUSED, ids::kErrorUnusableReply, 0},
    {VTBOX_E_NOT_SUPPORTED, ids::kMsgOtherEngineVersion, 0},
    {VTBOX_E_BAD_NET_RESPONSE, ids::kErrorUnusableReply, 0},
    {VTBOX_E_DEVICE_IN_USE, ids::kErrorDeviceInUse, 0},
    {VTBOX_E_DISK_FULL, ids::kErrorDiskFull, 0},
    {VTBOX_E_STORE_BUSY, ids::kErrorDeviceBusy, 0},
    {VTBOX_E_ALREADY_EXISTS, ids::kErrorAlreadyExists, 0},
    {VTBOX_E_WRONG_PASSWORD, ids::kErrorWrongPassword, 0},
    {VTBOX_E_NO_DEVICE_SPACE, ids::kErrorNoDeviceSpace, 0},
    {VTBOX_E_STORE_TIMEOUT, ids::kErrorTimeout, 0},
    {VTBOX_E_ENGINE_TOO_NEW, ids::kMsgEngineTooNew, 0},
    {VTBOX_E_OFFLINE, ids::kErrorNotConnected, 0},
    {VTBOX_E_DEVICE_NOT_AVAILABLE, ids::kErrorNoAnswer, ids::kErrorNoAnswerWhatToCheck},
    {VTBOX_E_WEB_SESSION_FAILED, ids::kErrorNoWebSession, 0},
    {VTBOX_E_NET_TIMEOUT, ids::kErrorNoAnswer, ids::kErrorNoAnswerWhatToCheck},
    {VTBOX_E_CONNECTION_FAILED, ids::kErrorUnusableReply, 0},
    {VTBOX_E_INVALID_OPTION, ids::kErrorNoAnswer, ids::kErrorNoAnswerWhatToCheck},
    {VTBOX_E_CANNOT_CONNECT, ids::kErrorNoAnswer, ids::kErrorNoAnswerWhatToCheck},
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

std::vector<uint32_t> ErrorTextIds() {
    std::vector<uint32_t> used;
    for (const ErrorRow &row : kErrorRows) {
        used.push_back(row.first);
        if (row.second) used.push_back(row.second);
    }
    used.push_back(ids::kSomeError);
    return used;
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
