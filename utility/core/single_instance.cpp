#include "single_instance.hpp"

#include <QDir>
#include <QStandardPaths>

namespace vtutil {

SingleInstance::SingleInstance() = default;

QString SingleInstance::LockPath() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) folder = QDir::tempPath();
    return QDir(folder).filePath(QString::fromLatin1(kInstanceName) + QStringLiteral(".lock"));
}

bool SingleInstance::Acquire() {
    if (lock_ && lock_->isLocked()) return true;
    lock_ = std::make_unique<QLockFile>(LockPath());
    // Age never makes the lock stale: only a holder that is no longer
    // running does, which QLockFile checks by its process id.
    lock_->setStaleLockTime(0);
    return lock_->tryLock(0);
}

}  // namespace vtutil
