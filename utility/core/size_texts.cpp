#include "size_texts.hpp"

#include <algorithm>

#include "language.hpp"
#include "text_ids.hpp"

namespace vtutil {

namespace {
constexpr uint64_t kKb = 1024;
constexpr uint64_t kMb = 1024 * kKb;
}  // namespace

QString BoxSizeText(uint32_t kb) {
    if ((kb & ~uint32_t(1023)) > 1024) return QString::number(kb / 1024) + QStringLiteral(" MB");
    return QString::number(std::max<uint32_t>(kb, 1)) + QStringLiteral(" KB");
}

QString TotalSizeText(uint64_t kb, bool anyChecked) {
    const QString label = Text(ids::kTotalLabel);
    if (kb / 1024 > 1) return label + QString::number(kb / 1024) + QStringLiteral(" MB");
    if (anyChecked) kb = std::max<uint64_t>(kb, 1);
    return label + QString::number(kb) + QStringLiteral(" KB");
}

QString FileSizeText(int64_t bytes) {
    const uint64_t size = static_cast<uint64_t>(std::max<int64_t>(bytes, 0));
    if (size >= kMb) return QString::number(static_cast<double>(size) / kMb, 'f', 1) + QStringLiteral(" MB");
    return QString::number((size + kKb - 1) / kKb) + QStringLiteral(" KB");
}

QString FreeSpaceText(const QString &root, uint64_t bytesFree) {
    const bool inMb = bytesFree >= 2 * kMb;
    return QStringLiteral("%1  %2  %3  %4  %5")
        .arg(Text(ids::kFreeSpaceOn), root, Text(ids::kFreeSpaceIs),
             QString::number(inMb ? bytesFree / kMb : bytesFree / kKb),
             inMb ? QStringLiteral("MB") : QStringLiteral("KB"));
}

}  // namespace vtutil
