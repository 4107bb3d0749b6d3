// A line of a device job's --json output as the fleet reads it back: one
// object, or refused whole. What it takes, written again with every value
// as a JSON string, reads back the same.
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
        VT_FUZZ_CHECK(reread.values == fields.values);
    }
    return 0;
}
