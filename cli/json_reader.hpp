// Reads one JSON object of a line, as vtbox writes them (its own --json
// lines read back by the fleet): the members of the top level, strings
// unescaped, numbers and booleans as their text; a nested object or array
// is kept as its JSON text. Anything that is not one sound object is
// refused whole.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace vtcli {

// A line longer than this is none of vtbox's (its longest, a summary with
// the engine's detail, stays under a few KiB).
inline constexpr size_t kMaxJsonLineBytes = 64 * 1024;

struct JsonFields {
    std::map<std::string, std::string> values;  // strings unescaped, the rest as written

    const std::string *Get(const std::string &key) const;
    std::string Text(const std::string &key) const;  // "" when missing
    int64_t Integer(const std::string &key, int64_t otherwise = 0) const;
    double Number(const std::string &key, double otherwise = 0) const;
};

bool ParseJsonObject(const std::string &line, JsonFields *out);

}  // namespace vtcli
