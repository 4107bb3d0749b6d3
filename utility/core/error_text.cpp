#include "error_text.hpp"

#include "language.hpp"
#include "text_ids.hpp"

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
    {3, 139, 0},      {5, 136, 0},       {8, 131, 0},       {12, 128, 0},      {50, 138, 0},
    {58, 128, 0},     {100, 103, 0},     {112, 126, 0},     {170, 115, 0},     {183, 137, 0},
    {1216, 68, 0},    {1344, 142, 0},    {1460, 117, 0},    {1605, 140, 0},    {2250, 132, 0},
    {4319, 67, 125},  {4351, 116, 0},    {12002, 67, 125},  {12004, 128, 0},   {12009, 67, 125},
    {12029, 67, 125},
};

constexpr uint32_t kConnectionLossCodes[] = {12004, 12, 50, 58, 4319, 12002, 1460, 12029};

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

}  // namespace vtutil
