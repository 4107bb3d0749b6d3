#include "status_line.hpp"

namespace vtutil {

namespace {

constexpr qsizetype kLineLength = 30;
const QString kCut = QStringLiteral("...");

// The first n characters of text, never ending inside a surrogate pair.
QString Head(const QString &text, qsizetype n) {
    if (n <= 0) return {};
    if (n < text.size() && text.at(n - 1).isHighSurrogate()) --n;
    return text.left(n);
}

}  // namespace

QString BuildStatusLine(QString box, QString folder, QString document) {
    const qsizetype boxLength = box.size(), folderLength = folder.size(), documentLength = document.size();
    const qsizetype excess = boxLength + folderLength + documentLength - kLineLength;
    if (excess > 0) {
        if (excess < folderLength) {
            if (excess > 3) folder = Head(folder, folderLength - excess) + kCut;
        } else {
            if (!folder.isEmpty()) folder = kCut;
            const qsizetype rest = excess - folderLength;
            if (rest < documentLength) {
                if (rest > 3) document = Head(document, documentLength - rest) + kCut;
            } else {
                if (!document.isEmpty()) document = kCut;
                const qsizetype left = rest - documentLength;
                if (left < boxLength && left > 3) {
                    folder.clear();
                    document.clear();
                    box = Head(box, kLineLength) + kCut;
                }
            }
        }
    }
    QString line = box + QLatin1Char(' ') + folder;
    if (!document.isEmpty()) line += QLatin1Char('\\') + document;
    return line;
}

}  // namespace vtutil
