#include "json_output.hpp"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "exit_codes.hpp"
#include "text_output.hpp"
#include "vtresult.h"

namespace vtcli {

namespace {

// What standard output has had of a --json run, and the failure reported last.
struct JsonEnd {
    bool printed = false;  // a JSON line
    bool summary = false;
    uint32_t code = 0;
    std::string text, detail;
};
JsonEnd &End() {
    static JsonEnd end;
    return end;
}

// The summary lines a termination signal writes, made beforehand: a signal
// handler may not build them. A line cut by the signal is ended first.
constexpr size_t kSignalLineBytes = 1024;
struct SignalLine {
    char text[kSignalLineBytes];
    size_t length = 0;
    int exitCode = 0;
};
SignalLine g_interrupted, g_terminated;
std::atomic<bool> g_midLine{false};

void WriteAll(const char *data, size_t length) {
    while (length > 0) {
        const ssize_t n = write(STDOUT_FILENO, data, length);
        if (n <= 0) return;
        data += n;
        length -= static_cast<size_t>(n);
    }
}

void OnTerminationSignal(int sig) {
    const SignalLine &line = sig == SIGTERM ? g_terminated : g_interrupted;
    if (g_midLine) WriteAll("\n", 1);
    WriteAll(line.text, line.length);
    _exit(line.exitCode);
}

}  // namespace

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
    End().printed = true;
    g_midLine = true;
    std::fputs(json.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    g_midLine = false;
}

void JsonLineWriter::Write(const std::string &part) {
    begun_ = true;
    g_midLine = true;
    std::fputs(part.c_str(), stdout);
}

void JsonLineWriter::Finish() {
    if (!begun_) return;
    End().printed = true;
    std::fputc('\n', stdout);
    std::fflush(stdout);
    g_midLine = false;
    begun_ = false;
}

JsonLineWriter::~JsonLineWriter() {
    if (!begun_) return;
    std::fputc('\n', stdout);
    std::fflush(stdout);
    g_midLine = false;
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

namespace {

// The summary as one JSON line, without its line end.
std::string SummaryJson(const Summary &s) {
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
    return o.str();
}

}  // namespace

void PrintSummary(const Summary &s) {
    End().summary = true;
    PrintJsonLine(SummaryJson(s));
}

void NoteFailure(uint32_t code, const std::string &text, const std::string &detail) {
    End().code = code;
    End().text = text;
    End().detail = detail;
}

std::string NotedFailureText() { return End().text; }

void EndJsonOutput(const std::string &command, int exitCode, bool summaryAlways) {
    const JsonEnd &end = End();
    if (!Output().json || end.summary || (end.printed && !summaryAlways)) return;
    Summary s;
    s.command = command;
    s.exitCode = exitCode;
    s.code = end.code == 0 && (exitCode == kExitInterrupted || exitCode == kExitTerminated)
                 ? uint32_t{VTBOX_E_CANCELLED}
                 : end.code;
    s.text = end.text;
    s.detail = end.detail;
    PrintSummary(s);
}

void SummaryOnTerminationSignal(const std::string &command) {
    if (!Output().json) return;
    for (auto [line, exitCode] :
         {std::pair{&g_interrupted, int{kExitInterrupted}}, std::pair{&g_terminated, int{kExitTerminated}}}) {
        Summary cancelled;
        cancelled.command = command;
        cancelled.exitCode = exitCode;
        cancelled.code = VTBOX_E_CANCELLED;
        cancelled.detail = "stopped by a signal";
        const std::string json = SummaryJson(cancelled) + "\n";
        line->exitCode = exitCode;
        if (json.size() > sizeof line->text) continue;
        std::memcpy(line->text, json.data(), json.size());
        line->length = json.size();
    }
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
}

JsonObject BoxJson(uint32_t number, const std::string &name) {
    JsonObject box;
    box.Add("number", number).Add("name", name);
    return box;
}

}  // namespace vtcli
