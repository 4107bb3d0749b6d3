// What goes to standard output and how: the output mode (--json, --quiet,
// --verbose) and JSON objects written one a line. Every JSON output of vtbox
// uses the same names for the same things: booleans as true/false, times as
// ISO 8601 with their zone, a box as number, name, protected, folders,
// documents, usedKB.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vtplatform.h"

namespace vtcli {

struct OutputMode {
    bool json = false;
    bool quiet = false;
    bool noProgress = false;  // the result and errors, without the progress on the way
    bool verbose = false;
};
OutputMode &Output();

class JsonObject {
public:
    JsonObject &Add(const char *key, const std::string &value);
    JsonObject &Add(const char *key, const char *value) { return Add(key, std::string(value)); }
    JsonObject &Add(const char *key, int64_t value);
    JsonObject &Add(const char *key, uint64_t value) { return Add(key, static_cast<int64_t>(value)); }
    JsonObject &Add(const char *key, uint32_t value) { return Add(key, static_cast<int64_t>(value)); }
    JsonObject &Add(const char *key, int32_t value) { return Add(key, static_cast<int64_t>(value)); }
    JsonObject &Add(const char *key, double value);
    JsonObject &Add(const char *key, bool value);
    JsonObject &AddNull(const char *key);
    // value is JSON already (an object or an array).
    JsonObject &AddRaw(const char *key, const std::string &json);
    std::string str() const { return "{" + body_ + "}"; }
    // The text without its closing brace, for members written after it (by a
    // JsonLineWriter, a part at a time).
    std::string opened() const { return "{" + body_; }

private:
    void Key(const char *key);
    std::string body_;
};

// "[a,b,...]" of JSON texts.
std::string JsonArray(const std::vector<std::string> &items);

// One JSON text and a line end on standard output, flushed at once.
void PrintJsonLine(const std::string &json);

// One JSON text written on standard output a part at a time, as its parts
// are made, so that a long one is never held whole. Finish writes the line end;
// a writer destroyed before Finish (the command failed part-way) ends the
// unfinished line, so that what follows (the summary) stands on a line of
// its own.
class JsonLineWriter {
public:
    JsonLineWriter() = default;
    JsonLineWriter(const JsonLineWriter &) = delete;
    JsonLineWriter &operator=(const JsonLineWriter &) = delete;
    ~JsonLineWriter();
    void Write(const std::string &part);
    void Finish();

private:
    bool begun_ = false;
};

// A UTC time as "2026-12-08T14:02:03Z".
std::string IsoUtc(const SYSTEMTIME &t);
// A local time with its offset from UTC in minutes, as
// "2026-12-08T15:02:03+01:00"; without an offset, the bare local time.
std::string IsoLocal(const SYSTEMTIME &t, const int32_t *offsetMinutes);

// The last line of a long command with --json.
struct Summary {
    std::string command;
    std::string outcome;  // done, failed, cancelled, partial, not-released
    int exitCode = 0;
    uint32_t code = 0;  // the engine's result code
    std::string text;   // its text, and the engine's detail
    std::string detail;
    std::string file;
    uint64_t size = 0;  // bytes of the file
    uint32_t boxes = 0;
    int32_t documents = 0;
    double seconds = 0;
};
void PrintSummary(const Summary &summary);

// The outcome word for an exit code.
const char *OutcomeOf(int exitCode);

// The failure a command reported last (ReportFailure, ReportProblem), for
// the summary that ends a --json command which stopped before its own.
void NoteFailure(uint32_t code, const std::string &text, const std::string &detail);
// The words of the failure noted last (empty when it had only a code).
std::string NotedFailureText();

// Ends the standard output of a --json command (nothing without --json) so
// that it always ends in a line a script can read: the summary, with the
// failure noted last, when the command wrote no JSON at all (it failed
// early), or when it is one whose output always ends in its summary
// (backup, restore) and it wrote none.
void EndJsonOutput(const std::string &command, int exitCode, bool summaryAlways);

// From now until termination signals are held (HoldTerminationSignals), a
// termination signal ends a --json run with the cancelled summary of
// command (exit 130, 143 for SIGTERM) instead of nothing.
void SummaryOnTerminationSignal(const std::string &command);

// The box object shared by boxes, info, verify and the restore plan.
JsonObject BoxJson(uint32_t number, const std::string &name);

}  // namespace vtcli
