#include "single_instance.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <QDir>
#include <QStandardPaths>

#include "vtplatform/errors.hpp"
#include "vtresult.h"

namespace vtutil {

SingleInstance::SingleInstance() = default;

QString SingleInstance::LockPath() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) folder = QDir::tempPath();
    // Never a lock in whatever folder the program was started from.
    if (folder.isEmpty()) folder = QStringLiteral("/tmp");
    return QDir(folder).filePath(QString::fromLatin1(kInstanceName) + QStringLiteral(".lock"));
}

SingleInstance::Result SingleInstance::Acquire() {
    if (lock_ && lock_->isLocked()) return Result::Acquired;
    const QString path = LockPath();
    lock_ = std::make_unique<QLockFile>(path);
    // Age never makes the lock stale: only a holder that is no longer
    // running does, which QLockFile checks by its process id.
    lock_->setStaleLockTime(0);
    if (lock_->tryLock(0)) return Result::Acquired;
    if (lock_->error() == QLockFile::LockFailedError) return Result::AlreadyRunning;
    // QLockFile does not say why: making a file beside it does.
    const QByteArray probe = QFile::encodeName(path + QStringLiteral(".probe"));
    const int fd = ::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    failureCode_ = fd < 0 ? vt::Win32FromErrno(errno) : static_cast<uint32_t>(VTBOX_E_ACCESS_DENIED);
    if (fd >= 0) {
        ::close(fd);
        ::unlink(probe.constData());
    }
    return Result::Failed;
}

}  // namespace vtutil
