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

QString JoinLine(const QString &box, const QString &folder, const QString &document) {
    QString line = box + QLatin1Char(' ') + folder;
    if (!document.isEmpty()) line += QLatin1Char('\\') + document;
    return line;
}

// The longest start of text, followed by the cut mark, with which line(part)
// fits; just the mark when none does.
QString LongestFitting(const QString &text, const std::function<QString(const QString &)> &line,
                       const std::function<bool(const QString &)> &fits) {
    qsizetype low = 0, high = text.size() - 1;  // a start of text.size() would be no cut
    while (low < high) {
        const qsizetype middle = (low + high + 1) / 2;
        if (fits(line(Head(text, middle) + kCut)))
            low = middle;
        else
            high = middle - 1;
    }
    return Head(text, low) + kCut;
}

}  // namespace

QString FitStatusLine(const QString &box, const QString &folder, const QString &document,
                      const std::function<bool(const QString &)> &fits) {
    if (fits(JoinLine(box, folder, document))) return JoinLine(box, folder, document);
    const QString shortFolder = folder.isEmpty() ? folder : kCut;
    if (!folder.isEmpty() && fits(JoinLine(box, shortFolder, document)))
        return JoinLine(box,
                        LongestFitting(
                            folder, [&](const QString &f) { return JoinLine(box, f, document); }, fits),
                        document);
    const QString shortDocument = document.isEmpty() ? document : kCut;
    if (!document.isEmpty() && fits(JoinLine(box, shortFolder, shortDocument)))
        return JoinLine(box, shortFolder,
                        LongestFitting(
                            document, [&](const QString &d) { return JoinLine(box, shortFolder, d); }, fits));
    if (box.isEmpty() || fits(JoinLine(box, shortFolder, shortDocument)))
        return JoinLine(box, shortFolder, shortDocument);
    return JoinLine(LongestFitting(
                        box, [&](const QString &b) { return JoinLine(b, shortFolder, shortDocument); }, fits),
                    shortFolder, shortDocument);
}

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
