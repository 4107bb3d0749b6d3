// One running instance per user: a lock file named after the program's
// instance name in the user's runtime folder. A lock left behind by an
// instance that died does not count.
#pragma once

#include <QLockFile>
#include <QString>
#include <cstdint>
#include <memory>

namespace vtutil {

inline constexpr const char *kInstanceName = "BackupRestoreUtilityRExists";

class SingleInstance {
public:
    SingleInstance();
    enum class Result {
        Acquired,        // this process now holds the lock
        AlreadyRunning,  // another running instance holds it
        Failed,          // the lock file cannot be made: the cause is in FailureCode
    };
    Result Acquire();
    // Where the lock lives.
    static QString LockPath();
    // After Failed: the system's code for why the lock file cannot be made.
    uint32_t FailureCode() const { return failureCode_; }

private:
    std::unique_ptr<QLockFile> lock_;
    uint32_t failureCode_ = 0;
};

}  // namespace vtutil
