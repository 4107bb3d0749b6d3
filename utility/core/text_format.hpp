// Texts of the language library with values filled in.
#pragma once

#include <QString>
#include <initializer_list>

namespace vtutil {

// text with its "%s" and "%d" replaced by values, in order; a placeholder
// without a value stays as it is.
QString FormatValues(const QString &text, std::initializer_list<QString> values);

}  // namespace vtutil
