#include "json_output.hpp"

#include <cmath>
#include <cstdio>

#include "exit_codes.hpp"
#include "text_output.hpp"

namespace vtcli {

OutputMode &Output() {
    static OutputMode mode;
    return mode;
}

void JsonObject::Key(const char *key) {
    if (!body_.empty()) body_ += ',';
    body_ += JsonString(key);
    body_ += ':';
}

JsonObject &JsonObject::Add(const char *key, const std::string &value) {
    Key(key);
    body_ += JsonString(value);
    return *this;
}

JsonObject &JsonObject::Add(const char *key, int64_t value) {
    Key(key);
    body_ += std::to_string(value);
    return *this;
}

JsonObject &JsonObject::Add(const char *key, double value) {
    Key(key);
    if (!std::isfinite(value)) {
        body_ += "null";
    } else {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.3f", value);
        body_ += buf;
    }
    return *this;
}

JsonObject &JsonObject::Add(const char *key, bool value) {
    Key(key);
    body_ += value ? "true" : "false";
    return *this;
}

JsonObject &JsonObject::AddNull(const char *key) {
    Key(key);
    body_ += "null";
    return *this;
}

JsonObject &JsonObject::AddRaw(const char *key, const std::string &json) {
    Key(key);
    body_ += json;
    return *this;
}

std::string JsonArray(const std::vector<std::string> &items) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + items[i];
    return out + "]";
}

void PrintJsonLine(const std::string &json) {
    std::fputs(json.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string IsoUtc(const SYSTEMTIME &t) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02uT%02u:%02u:%02uZ", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond);
    return buf;
}

std::string IsoLocal(const SYSTEMTIME &t, const int32_t *offsetMinutes) {
    char zone[16] = "";
    if (offsetMinutes) {
        long offset = *offsetMinutes;
        std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", offset < 0 ? '-' : '+', std::labs(offset) / 60 % 100,
                      std::labs(offset) % 60);
    }
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02uT%02u:%02u:%02u%s", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond, zone);
    return buf;
}

const char *OutcomeOf(int exitCode) {
    switch (exitCode) {
    case kExitDone: return "done";
    case kExitInterrupted:
    case kExitTerminated: return "cancelled";
    case kExitPartial: return "partial";
    case kExitNotReleased: return "not-released";
    default: return "failed";
    }
}

void PrintSummary(const Summary &s) {
    char text[512] = "";
    if (s.code != 0 && vtGetMessageText(s.code, text, sizeof text) == 0) text[0] = '\0';
    JsonObject o;
    o.Add("type", "summary")
        .Add("command", s.command)
        .Add("outcome", s.outcome.empty() ? OutcomeOf(s.exitCode) : s.outcome.c_str())
        .Add("exitCode", s.exitCode)
        .Add("code", s.code)
        .Add("text", s.text.empty() ? std::string(text) : s.text)
        .Add("detail", s.detail)
        .Add("file", s.file)
        .Add("size", s.size)
        .Add("boxes", s.boxes)
        .Add("documents", s.documents)
        .Add("seconds", s.seconds);
    PrintJsonLine(o.str());
}

JsonObject BoxJson(uint32_t number, const std::string &name) {
    JsonObject box;
    box.Add("number", number).Add("name", name);
    return box;
}

}  // namespace vtcli
