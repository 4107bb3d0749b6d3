#include "target_path.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "text_ids.hpp"
#include "vtplatform/errors.hpp"
#include "vtresult.h"

namespace vtutil {

namespace {

bool HoldsRefusedCharacter(const QString &path) {
    for (const char *c = kRefusedPathCharacters; *c; ++c)
        if (path.contains(QLatin1Char(*c))) return true;
    return false;
}

bool IsNetworkPath(const QString &path) { return path.startsWith(QStringLiteral("//")); }

bool IsAbsolute(const QString &path) { return path.startsWith(QLatin1Char('/')); }

bool IsFolder(const QByteArray &path) {
    struct stat st {};
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

bool EndsWithZip(const QString &path) { return path.endsWith(QStringLiteral(".zip"), Qt::CaseInsensitive); }

uint32_t TypedTargetMessage(const QString &path) {
    if (HoldsRefusedCharacter(path)) return ids::kMsgRefusedCharacters;
    if (IsNetworkPath(path)) return ids::kMsgNetworkPath;
    if (!IsAbsolute(path)) return ids::kMsgNotFullPath;
    return 0;
}

uint32_t RestorePathMessage(const QString &path) {
    if (IsNetworkPath(path)) return ids::kMsgNetworkPath;
    if (!IsAbsolute(path)) return ids::kMsgNotFullPath;
    if (HoldsRefusedCharacter(path)) return ids::kMsgRefusedCharacters;
    return 0;
}

uint32_t ZipNameMessage(const QString &path) {
    const qsizetype at = path.lastIndexOf(QStringLiteral(".zip"), -1, Qt::CaseInsensitive);
    if (at <= 0) return ids::kMsgNotZip;
    const QChar before = path.at(at - 1);
    if (before == QLatin1Char('.') || before == QLatin1Char('/')) return ids::kMsgNotZip;
    return 0;
}

bool NotALocalFolder(const QString &path) { return IsNetworkPath(path) || !IsAbsolute(path); }

QString FolderPart(const QString &path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash + 1);
}

FolderState ProbeFolder(const QString &folder, uint32_t *code, QString *reason) {
    *code = 0;
    if (reason) reason->clear();
    const QByteArray name = folder.toUtf8();
    struct stat st {};
    int err = 0;
    if (::stat(name.constData(), &st) != 0)
        err = errno;
    else if (!S_ISDIR(st.st_mode))
        err = ENOTDIR;
    if (err == 0) return FolderState::Exists;
    *code = vt::Win32FromErrno(err);
    if (err == ENOENT || err == ENOTDIR) return FolderState::Missing;
    if (reason) *reason = QString::fromLocal8Bit(std::strerror(err));
    return FolderState::Unusable;
}

uint32_t CreateFolderLevels(const QString &folder) {
    const QByteArray path = folder.toUtf8();
    uint32_t result = 0;
    bool any = false;
    // Each level in turn: "/a", "/a/b", ... up to the folder itself.
    for (qsizetype end = 1; end <= path.size(); ++end) {
        if (end < path.size() && path.at(end) != '/') continue;
        if (path.at(end - 1) == '/') continue;  // the root, or "//" inside
        const QByteArray level = path.left(end);
        any = true;
        if (::mkdir(level.constData(), 0777) == 0)
            result = 0;
        else if (errno == EEXIST)
            result = IsFolder(level) ? VTBOX_E_ALREADY_EXISTS : VTBOX_E_IS_A_FOLDER;
        else
            result = vt::Win32FromErrno(errno);
    }
    return any ? result : static_cast<uint32_t>(VTBOX_E_ALREADY_EXISTS);
}

bool FolderIsReadOnly(const QString &folder) { return ::access(folder.toUtf8().constData(), W_OK) != 0; }

QString DefaultBackupName(const QDateTime &now) {
    const QDate d = now.date();
    const QTime t = now.time();
    return QString::asprintf("%4d%02d%02d_%02d%02d%02d", d.year(), d.month(), d.day(), t.hour(), t.minute(),
                             t.second());
}

}  // namespace vtutil
