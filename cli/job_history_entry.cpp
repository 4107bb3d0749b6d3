#include "job_history_entry.hpp"

#include <cstdio>
#include <string>

#include "exit_codes.hpp"
#include "job_history.hpp"
#include "vtplatform.h"

namespace vtcli {

namespace {

vtjobs::HistoryOutcome OutcomeFor(int exitCode) {
    switch (exitCode) {
    case kExitDone: return vtjobs::HistoryOutcome::Done;
    case kExitInterrupted:
    case kExitTerminated: return vtjobs::HistoryOutcome::Cancelled;
    case kExitPartial: return vtjobs::HistoryOutcome::Partial;
    case kExitNotReleased: return vtjobs::HistoryOutcome::NotReleased;
    default: return vtjobs::HistoryOutcome::Failed;
    }
}

// The engine's words for the code and its detail; a failure of vtbox's own
// (a file that could not take its name) has the words it was reported with.
std::string Reason(const Summary &s) {
    std::string words;
    char text[512] = "";
    if (s.code != 0 && vtGetMessageText(s.code, text, sizeof text) != 0) words = text;
    if (words.empty()) words = NotedFailureText();
    if (!s.detail.empty()) words += (words.empty() ? "" : ": ") + s.detail;
    return words;
}

}  // namespace

void RecordInHistory(const Summary &summary, const Settings &settings, const std::vector<uint32_t> &boxes,
                     std::time_t started) {
    vtjobs::HistoryEntry entry;
    entry.started = static_cast<int64_t>(started);
    entry.operation =
        summary.command == "restore" ? vtjobs::HistoryOperation::Restore : vtjobs::HistoryOperation::Backup;
    entry.outcome = OutcomeFor(summary.exitCode);
    entry.program = vtjobs::HistoryProgram::Vtbox;
    entry.device = settings.port == 8080 ? settings.host : settings.host + ":" + std::to_string(settings.port);
    entry.boxes = boxes;
    entry.file = summary.file;
    const bool whole = entry.outcome == vtjobs::HistoryOutcome::Done ||
                       entry.outcome == vtjobs::HistoryOutcome::NotReleased || summary.command == "restore";
    entry.bytes = whole && summary.size > 0 ? static_cast<int64_t>(summary.size) : -1;
    entry.documents = summary.documents;
    entry.seconds = summary.seconds;
    if (entry.outcome != vtjobs::HistoryOutcome::Done) entry.reason = Reason(summary);
    std::string error;
    if (!vtjobs::AppendJobHistory(entry, &error) && !vtjobs::JobHistoryPath().empty())
        std::fprintf(stderr, "vtbox: warning: the job was not added to the job history: %s\n", error.c_str());
}

}  // namespace vtcli
