#include "backup_facts.hpp"

#include <QDateTime>
#include <QLocale>
#include <cstring>

namespace vtutil {

QString FieldText(const char *field, size_t size) {
    return QString::fromUtf8(field, static_cast<qsizetype>(strnlen(field, size)));
}

QString ShownField(const char *field, size_t size) {
    QString text = FieldText(field, size);
    for (QChar &c : text)
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    if (text.size() > kShownFieldChars) text = text.left(kShownFieldChars - 3) + QStringLiteral("...");
    return text;
}

BackupFacts DescribeBackup(const VTBACKUPINFO &info) {
    BackupFacts facts;
    // The date as the description records it: the local time of the
    // computer that made the backup.
    const QDate date(info.Date.wYear, info.Date.wMonth, info.Date.wDay);
    const QTime time(info.Date.wHour, info.Date.wMinute);
    if (date.isValid() && time.isValid())
        facts.made = QLocale::c().toString(QDateTime(date, time), QStringLiteral("dddd, MMMM dd, yyyy, HH:mm"));
    facts.engineVersion = ShownField(info.EngineVersion, sizeof info.EngineVersion);
    facts.macAddress = ShownField(info.MACAddress, sizeof info.MACAddress);
    return facts;
}

}  // namespace vtutil
