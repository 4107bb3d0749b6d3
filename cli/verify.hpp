// vtbox verify: the whole backup file read without a device.
#pragma once

#include <string>

namespace vtcli {

// Checks file (a work folder beside it is used for unpacking) and prints
// every finding on standard error; returns the exit code (0 when whole).
int VerifyQuietly(const std::string &file, const std::string &workFolder);

}  // namespace vtcli
