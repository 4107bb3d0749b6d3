// What the login dialog accepts as an administrator password.
#pragma once

#include <QString>

namespace vtutil {

inline constexpr int kPasswordMaxLength = 10;

// The characters a password may not hold.
inline constexpr const char *kPasswordForbidden = "*?\"<>|+-!@#$%^&~`.;,:'_({[]})=/";

// Index of the first character of text that a password may not hold, or -1.
qsizetype FirstForbiddenPasswordChar(const QString &text);

}  // namespace vtutil
