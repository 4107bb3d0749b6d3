#include "output_name.hpp"

#include <cstdio>

namespace vtcli {

bool ExpandOutputName(const std::string &pattern, const std::tm &when, std::string *out, std::string *error) {
    std::string result;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') {
            result += pattern[i];
            continue;
        }
        char field = i + 1 < pattern.size() ? pattern[++i] : '\0';
        int value = 0, width = 2;
        switch (field) {
        case '%': result += '%'; continue;
        case 'Y':
            value = when.tm_year + 1900;
            width = 4;
            break;
        case 'm': value = when.tm_mon + 1; break;
        case 'd': value = when.tm_mday; break;
        case 'H': value = when.tm_hour; break;
        case 'M': value = when.tm_min; break;
        case 'S': value = when.tm_sec; break;
        default:
            *error = "the output name \"" + pattern + "\" holds " +
                     (field ? std::string("%") + field : std::string("a lone % at its end")) +
                     "; the fields are %Y %m %d %H %M %S, and %% for a percent sign";
            return false;
        }
        char text[16];
        std::snprintf(text, sizeof text, "%0*d", width, value);
        result += text;
    }
    *out = result;
    return true;
}

bool ExpandOutputNameNow(const std::string &pattern, std::string *out, std::string *error) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return ExpandOutputName(pattern, local, out, error);
}

}  // namespace vtcli
