// One running instance per user: a lock file named after the program's
// instance name in the user's runtime folder. A lock left behind by an
// instance that died does not count.
#pragma once

#include <QLockFile>
#include <QString>
#include <memory>

namespace vtutil {

inline constexpr const char *kInstanceName = "BackupRestoreUtilityRExists";

class SingleInstance {
public:
    SingleInstance();
    // True when this process now holds the lock; false when another running
    // instance holds it (or the runtime folder cannot be written).
    bool Acquire();
    // Where the lock lives.
    static QString LockPath();

private:
    std::unique_ptr<QLockFile> lock_;
};

}  // namespace vtutil
