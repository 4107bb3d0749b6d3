#include "text_format.hpp"

namespace vtutil {

QString FormatValues(const QString &text, std::initializer_list<QString> values) {
    QString out;
    auto value = values.begin();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool placeholder = text[i] == QLatin1Char('%') && i + 1 < text.size() &&
                                 (text[i + 1] == QLatin1Char('s') || text[i + 1] == QLatin1Char('d'));
        if (placeholder && value != values.end()) {
            out += *value++;
            ++i;
            continue;
        }
        out += text[i];
    }
    return out;
}

}  // namespace vtutil
