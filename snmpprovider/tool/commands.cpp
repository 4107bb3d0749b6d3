#include "commands.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "text_output.hpp"

namespace vtsnmp {

namespace {

using vtcli::JsonString;

const char *TypeWord(DSE_ELEMENT_TYPE t) {
    switch (t) {
    case DSE_SCALAR: return "scalar";
    case DSE_COMPOSITE: return "composite";
    case DSE_COLLECTION: return "table";
    }
    return "?";
}

const char *SyntaxWord(int s) {
    switch (s) {
    case DSE_SYNTAX_INTEGER: return "integer";
    case DSE_SYNTAX_BITS: return "bits";
    case DSE_SYNTAX_STRING: return "string";
    case DSE_SYNTAX_OID: return "oid";
    case DSE_SYNTAX_IPADDRESS: return "IpAddress";
    case DSE_SYNTAX_COUNTER32: return "counter32";
    case DSE_SYNTAX_GAUGE32: return "gauge32";
    case DSE_SYNTAX_TIMETICKS: return "timeticks";
    case DSE_SYNTAX_OPAQUE: return "opaque";
    case DSE_SYNTAX_COUNTER64: return "counter64";
    case DSE_SYNTAX_UNSIGNED32: return "unsigned32";
    case DSE_SYNTAX_DATEANDTIME: return "DateAndTime";
    }
    return "-";
}

const char *AccessWord(int a) {
    switch (a) {
    case DSE_ACCESS_READ_ONLY: return "read-only";
    case DSE_ACCESS_READ_WRITE: return "read-write";
    case DSE_ACCESS_READ_CREATE: return "read-create";
    }
    return "not-accessible";
}

const char *StateWord(DSE_ELEMENT_STATE s) {
    switch (s) {
    case DSE_ELEMENT_NO_ERROR: return "ok";
    case DSE_ELEMENT_OP_IN_PROGRESS: return "in-progress";
    case DSE_ELEMENT_OPTIMEOUT: return "timeout";
    case DSE_ELEMENT_OP_GEN_ERROR: return "error";
    case DSE_ELEMENT_OP_TRANSPORT_ERROR: return "transport-error";
    }
    return "?";
}

const char *StateText(DSE_ELEMENT_STATE s) {
    switch (s) {
    case DSE_ELEMENT_NO_ERROR: return "no value";
    case DSE_ELEMENT_OP_IN_PROGRESS: return "still in progress";
    case DSE_ELEMENT_OPTIMEOUT: return "no reply within the time-out and retries";
    case DSE_ELEMENT_OP_GEN_ERROR: return "the device refused the request";
    case DSE_ELEMENT_OP_TRANSPORT_ERROR: return "the address could not be reached";
    }
    return "?";
}

std::string ValueText(const ReadValue &v, int syntax) {
    if (v.type == VT_I4)
        return IsUnsignedSyntax(syntax) ? std::to_string(static_cast<uint32_t>(v.number)) : std::to_string(v.number);
    if (v.type == VT_BSTR) return v.text;
    return "";
}

std::string ValueJson(const ReadValue &v, int syntax) {
    if (v.type == VT_I4) return ValueText(v, syntax);
    if (v.type == VT_BSTR) return JsonString(v.text);
    return "null";
}

// Prints rows of cells in aligned columns (UTF-8 text counts by code points).
void PrintAligned(const std::vector<std::vector<std::string>> &rows) {
    auto width = [](const std::string &s) {
        size_t n = 0;
        for (unsigned char c : s) n += (c & 0xC0) != 0x80;
        return n;
    };
    std::vector<size_t> widths;
    for (const auto &row : rows)
        for (size_t i = 0; i < row.size(); ++i) {
            if (widths.size() <= i) widths.push_back(0);
            widths[i] = std::max(widths[i], width(row[i]));
        }
    for (const auto &row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) line += std::string(widths[i] - width(row[i]) + 2, ' ');
        }
        std::printf("%s\n", line.c_str());
    }
}

const ElementInfo *Lookup(Session &session, const std::string &key) {
    const ElementInfo *info = session.Find(key);
    if (!info)
        std::fprintf(stderr, "vtbox-snmp: no element \"%s\" in the maps (vtbox-snmp schema lists them)\n", key.c_str());
    return info;
}

bool Connect(Session &session, const Options &o) {
    DeviceSettings d;
    d.address = o.address;
    d.readCommunity = o.community;
    d.writeCommunity = o.writeCommunity;
    d.timeout = o.timeout;
    d.retries = o.retries;
    std::string error;
    if (session.SetDevice(d, &error)) return true;
    std::fprintf(stderr, "vtbox-snmp: %s\n", error.c_str());
    return false;
}

}  // namespace

int RunSchema(Session &session, const Options &o) {
    const std::vector<ElementInfo> &all = session.Elements();
    if (o.json) {
        std::printf("[");
        for (size_t i = 0; i < all.size(); ++i) {
            const ElementInfo &e = all[i];
            std::printf(
                "%s{\"number\":%d,\"name\":%s,\"oid\":%s,\"type\":\"%s\",\"syntax\":\"%s\",\"access\":\"%s\","
                "\"table\":%s,\"description\":%s}",
                i ? "," : "", e.number, JsonString(e.name).c_str(), JsonString(e.oid).c_str(), TypeWord(e.type),
                SyntaxWord(e.syntax), AccessWord(e.access), e.table ? std::to_string(e.table).c_str() : "null",
                JsonString(e.description).c_str());
        }
        std::printf("]\n");
        return 0;
    }
    std::vector<std::vector<std::string>> rows = {{"Number", "Name", "OID", "Type", "Syntax", "Access"}};
    for (const ElementInfo &e : all)
        rows.push_back(
            {std::to_string(e.number), e.name, e.oid, TypeWord(e.type), SyntaxWord(e.syntax), AccessWord(e.access)});
    PrintAligned(rows);
    return 0;
}

int RunGet(Session &session, const Options &o) {
    std::vector<const ElementInfo *> wanted;
    for (const std::string &key : o.args) {
        const ElementInfo *info = Lookup(session, key);
        if (!info) return 1;
        if (info->type != DSE_SCALAR) {
            std::fprintf(stderr, "vtbox-snmp: %s is a %s; %s\n", info->name.c_str(), TypeWord(info->type),
                         info->type == DSE_COLLECTION ? "read it with walk" : "get its elements instead");
            return 1;
        }
        wanted.push_back(info);
    }
    if (!Connect(session, o)) return 1;
    int rc = 0;
    std::vector<std::vector<std::string>> rows = {{"Number", "Name", "Value"}};
    std::string json = "[";
    for (const ElementInfo *e : wanted) {
        std::vector<std::vector<ReadValue>> lists;
        DSE_ELEMENT_STATE state = DSE_ELEMENT_OP_GEN_ERROR;
        std::string error;
        if (!session.Read(e->number, &lists, &state, &error)) {
            std::fprintf(stderr, "vtbox-snmp: %s: %s\n", e->name.c_str(), error.c_str());
            return 1;
        }
        size_t count = 0;
        std::string values;
        for (const auto &list : lists)
            for (const ReadValue &v : list) {
                std::string name = v.instance.empty() ? e->name : e->name + "." + v.instance;
                rows.push_back({std::to_string(e->number), name, ValueText(v, e->syntax)});
                values += std::string(count++ ? "," : "") +
                          "{\"instance\":" + (v.instance.empty() ? "null" : JsonString(v.instance)) +
                          ",\"value\":" + ValueJson(v, e->syntax) + "}";
            }
        if (state != DSE_ELEMENT_NO_ERROR || count == 0) {
            rc = 1;
            rows.push_back({std::to_string(e->number), e->name, std::string("(") + StateText(state) + ")"});
        }
        json += std::string(json.size() > 1 ? "," : "") + "{\"number\":" + std::to_string(e->number) +
                ",\"name\":" + JsonString(e->name) + ",\"state\":\"" + StateWord(state) + "\",\"values\":[" + values +
                "]}";
    }
    if (o.json)
        std::printf("%s]\n", json.c_str());
    else
        PrintAligned(rows);
    return rc;
}

int RunWalk(Session &session, const Options &o) {
    const ElementInfo *info = Lookup(session, o.args[0]);
    if (!info) return 1;
    if (info->type == DSE_SCALAR) return RunGet(session, o);
    if (info->type != DSE_COLLECTION) {
        std::fprintf(stderr, "vtbox-snmp: %s is not a table\n", info->name.c_str());
        return 1;
    }
    if (!Connect(session, o)) return 1;
    std::vector<std::pair<ElementInfo, std::vector<ReadValue>>> columns;
    DSE_ELEMENT_STATE state = DSE_ELEMENT_OP_GEN_ERROR;
    std::string error;
    if (!session.ReadTable(info->number, &columns, &state, &error)) {
        std::fprintf(stderr, "vtbox-snmp: %s: %s\n", info->name.c_str(), error.c_str());
        return 1;
    }
    // Rows by instance, in the order the walk met them.
    std::vector<std::string> instances;
    std::map<std::string, std::map<size_t, const ReadValue *>> cells;
    for (size_t c = 0; c < columns.size(); ++c)
        for (const ReadValue &v : columns[c].second) {
            if (!cells.count(v.instance)) instances.push_back(v.instance);
            cells[v.instance][c] = &v;
        }
    if (o.json) {
        std::string out = "{\"number\":" + std::to_string(info->number) + ",\"name\":" + JsonString(info->name) +
                          ",\"state\":\"" + StateWord(state) + "\",\"columns\":[";
        for (size_t c = 0; c < columns.size(); ++c) out += (c ? "," : "") + JsonString(columns[c].first.name);
        out += "],\"rows\":[";
        for (size_t r = 0; r < instances.size(); ++r) {
            out += std::string(r ? "," : "") + "{\"instance\":" + JsonString(instances[r]);
            for (const auto &[c, v] : cells[instances[r]])
                out += "," + JsonString(columns[c].first.name) + ":" + ValueJson(*v, columns[c].first.syntax);
            out += "}";
        }
        std::printf("%s]}\n", out.c_str());
    } else {
        std::vector<std::vector<std::string>> rows(1, {"Instance"});
        for (const auto &column : columns) rows[0].push_back(column.first.name);
        for (const std::string &instance : instances) {
            std::vector<std::string> row = {instance};
            for (size_t c = 0; c < columns.size(); ++c) {
                auto it = cells[instance].find(c);
                row.push_back(it == cells[instance].end() ? "" : ValueText(*it->second, columns[c].first.syntax));
            }
            rows.push_back(std::move(row));
        }
        PrintAligned(rows);
        if (state != DSE_ELEMENT_NO_ERROR)
            std::fprintf(stderr, "vtbox-snmp: %s: %s\n", info->name.c_str(), StateText(state));
    }
    return state == DSE_ELEMENT_NO_ERROR ? 0 : 1;
}

int RunSet(Session &session, const Options &o) {
    struct Item {
        const ElementInfo *info;
        VARIANT value;
    };
    std::vector<Item> items;
    auto clear = [&] {
        for (Item &i : items) VariantClear(&i.value);
    };
    for (const std::string &arg : o.args) {
        size_t eq = arg.find('=');
        if (eq == std::string::npos || eq == 0) {
            std::fprintf(stderr, "vtbox-snmp: set takes ELEMENT=VALUE, not \"%s\"\n", arg.c_str());
            clear();
            return 2;
        }
        const ElementInfo *info = Lookup(session, arg.substr(0, eq));
        std::string text = arg.substr(eq + 1);
        if (!info) {
            clear();
            return 1;
        }
        if (info->type != DSE_SCALAR || info->table != 0 ||
            (info->access != DSE_ACCESS_READ_WRITE && info->access != DSE_ACCESS_READ_CREATE)) {
            std::fprintf(stderr, "vtbox-snmp: %s cannot be set: %s\n", info->name.c_str(),
                         info->table ? "it is a table column" : "it is not writable");
            clear();
            return 1;
        }
        Item item{info, {}};
        VariantInit(&item.value);
        bool numeric = info->syntax == DSE_SYNTAX_INTEGER || IsUnsignedSyntax(info->syntax);
        if (numeric) {
            errno = 0;
            char *end = nullptr;
            long long n = std::strtoll(text.c_str(), &end, 10);
            long long low = IsUnsignedSyntax(info->syntax) ? 0 : INT32_MIN;
            long long high = IsUnsignedSyntax(info->syntax) ? UINT32_MAX : INT32_MAX;
            if (text.empty() || *end != 0 || errno != 0 || n < low || n > high) {
                std::fprintf(stderr, "vtbox-snmp: %s takes a number from %lld to %lld, not \"%s\"\n",
                             info->name.c_str(), low, high, text.c_str());
                clear();
                return 1;
            }
            item.value.vt = VT_I4;
            item.value.lVal = static_cast<LONG>(static_cast<uint32_t>(n));
        } else {
            item.value.vt = VT_BSTR;
            item.value.bstrVal = vtSysAllocStringUtf8(text.c_str());
        }
        items.push_back(item);
    }
    if (!Connect(session, o)) {
        clear();
        return 1;
    }
    int rc = 0;
    std::vector<std::vector<std::string>> rows = {{"Number", "Name", "Result"}};
    std::string json = "[";
    for (const Item &item : items) {
        DSE_ELEMENT_STATE state = DSE_ELEMENT_OP_GEN_ERROR;
        std::string error;
        if (!session.Write(item.info->number, item.value, &state, &error)) {
            std::fprintf(stderr, "vtbox-snmp: %s: %s\n", item.info->name.c_str(), error.c_str());
            rc = 1;
            continue;
        }
        if (state != DSE_ELEMENT_NO_ERROR) rc = 1;
        rows.push_back({std::to_string(item.info->number), item.info->name,
                        state == DSE_ELEMENT_NO_ERROR ? "written" : StateText(state)});
        json += std::string(json.size() > 1 ? "," : "") + "{\"number\":" + std::to_string(item.info->number) +
                ",\"name\":" + JsonString(item.info->name) + ",\"state\":\"" + StateWord(state) + "\"}";
    }
    clear();
    if (o.json)
        std::printf("%s]\n", json.c_str());
    else
        PrintAligned(rows);
    return rc;
}

}  // namespace vtsnmp
