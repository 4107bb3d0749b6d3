#include "password_rules.hpp"

namespace vtutil {

qsizetype FirstForbiddenPasswordChar(const QString &text) {
    const QString forbidden = QString::fromLatin1(kPasswordForbidden);
    for (qsizetype i = 0; i < text.size(); ++i)
        if (forbidden.contains(text[i])) return i;
    return -1;
}

}  // namespace vtutil
