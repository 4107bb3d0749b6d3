#include "program_files.hpp"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace vtutil {

namespace {
QString &DiscoveryOverride() {
    static QString path;
    return path;
}
QString &OpenerOverride() {
    static QString path;
    return path;
}
}  // namespace

QString HelpFilePath() {
    QDir program(QCoreApplication::applicationDirPath());
    const QString besideProgram = program.filePath(QStringLiteral("backup.html"));
    if (QFileInfo::exists(besideProgram)) return besideProgram;
    const QString installed =
        QDir::cleanPath(program.filePath(QStringLiteral(VTUTIL_HELPDIR_FROM_BINDIR "/backup.html")));
    if (QFileInfo::exists(installed)) return installed;
    return besideProgram;
}

QString DiscoveryProgram() {
    if (!DiscoveryOverride().isEmpty()) return DiscoveryOverride();
    const QString besideProgram =
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("vtbox-discover"));
    if (QFileInfo(besideProgram).isExecutable()) return besideProgram;
    return QStandardPaths::findExecutable(QStringLiteral("vtbox-discover"));
}

void SetDiscoveryProgram(const QString &path) { DiscoveryOverride() = path; }

QString DesktopOpener() {
    if (!OpenerOverride().isEmpty()) return OpenerOverride();
    return QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
}

void SetDesktopOpener(const QString &path) { OpenerOverride() = path; }

}  // namespace vtutil
