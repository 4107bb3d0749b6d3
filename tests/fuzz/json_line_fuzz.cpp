// A line of a device job's --json output as the fleet reads it back: one
// object, or refused whole. What it takes, written again with every value
// as a JSON string, reads back (the same, where it is printable ASCII).
#include "fuzz_target.h"
#include "json_reader.hpp"
#include "text_output.hpp"

VT_FUZZ_TARGET(json_line) {
    const std::string line(reinterpret_cast<const char *>(data), size);
    vtcli::JsonFields fields;
    if (!vtcli::ParseJsonObject(line, &fields)) {
        VT_FUZZ_CHECK(fields.values.empty());
        return 0;
    }
    std::string again = "{";
    for (const auto &[key, value] : fields.values)
        again += (again.size() > 1 ? "," : "") + vtcli::JsonString(key) + ":" + vtcli::JsonString(value);
    again += "}";
    vtcli::JsonFields reread;
    if (again.size() <= vtcli::kMaxJsonLineBytes) {
        VT_FUZZ_CHECK(vtcli::ParseJsonObject(again, &reread));
        // JsonString makes broken UTF-8 and control characters safe, so only
        // printable ASCII must come back unchanged.
        bool plain = true;
        for (const auto &[key, value] : fields.values)
            for (const std::string *text : {&key, &value})
                for (char c : *text) plain = plain && c >= 0x20 && c < 0x7F;
        if (plain) VT_FUZZ_CHECK(reread.values == fields.values);
    }
    return 0;
}
