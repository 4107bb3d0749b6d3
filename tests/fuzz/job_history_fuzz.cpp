// The job history file, which vtbox and the utility both read and rewrite:
// every job read stays within the bounds, and a job added is read back
// first, followed by the jobs that were there, newest first, with only the
// oldest dropped and nothing left beside the file.
#include <cstdlib>

#include "fuzz_target.h"
#include "job_history.hpp"

namespace fs = std::filesystem;

namespace {

bool Within(const vtjobs::HistoryEntry &e) {
    for (uint32_t box : e.boxes)
        if (box == 0 || box > vtjobs::kMaxHistoryBoxNumber) return false;
    return e.device.size() <= vtjobs::kMaxHistoryDeviceBytes && e.file.size() <= vtjobs::kMaxHistoryFileBytes &&
           e.reason.size() <= vtjobs::kMaxHistoryReasonBytes && e.boxes.size() <= vtjobs::kMaxHistoryBoxNumber &&
           e.bytes >= -1 && e.documents >= -1 && e.seconds >= 0 && e.seconds <= vtjobs::kMaxHistorySeconds &&
           e.started >= 0;
}

bool Same(const vtjobs::HistoryEntry &a, const vtjobs::HistoryEntry &b) {
    return a.started == b.started && a.operation == b.operation && a.outcome == b.outcome && a.program == b.program &&
           a.device == b.device && a.boxes == b.boxes && a.file == b.file && a.bytes == b.bytes &&
           a.documents == b.documents && a.seconds == b.seconds && a.reason == b.reason;
}

}  // namespace

VT_FUZZ_TARGET(job_history) {
    const fs::path state = vtfuzz::Scratch() / "state";
    fs::remove_all(state);
    fs::create_directories(state);
    setenv("STATE_DIRECTORY", state.c_str(), 1);
    vtfuzz::WriteFile(state / "history", std::string_view(reinterpret_cast<const char *>(data), size));

    const std::vector<vtjobs::HistoryEntry> before = vtjobs::ReadJobHistory();
    VT_FUZZ_CHECK(before.size() <= vtjobs::kMaxHistoryEntries);
    for (const vtjobs::HistoryEntry &e : before) VT_FUZZ_CHECK(Within(e));

    vtjobs::HistoryEntry added;
    added.started = 1765000000;
    added.outcome = vtjobs::HistoryOutcome::Partial;
    added.operation = vtjobs::HistoryOperation::Restore;
    added.device = "office\t(10.0.0.7)";
    added.boxes = {1, 999};
    added.file = "/backups/a\\b\nc.zip";
    added.bytes = 12345;
    added.seconds = 2.5;
    added.reason = "cut\x01off";
    VT_FUZZ_CHECK(vtjobs::AppendJobHistory(added));

    const std::vector<vtjobs::HistoryEntry> after = vtjobs::ReadJobHistory();
    VT_FUZZ_CHECK(!after.empty() && after.size() <= vtjobs::kMaxHistoryEntries);
    VT_FUZZ_CHECK(Same(after[0], added));
    VT_FUZZ_CHECK(after.size() - 1 <= before.size());
    for (size_t i = 1; i < after.size(); ++i) VT_FUZZ_CHECK(Same(after[i], before[i - 1]));
    VT_FUZZ_CHECK(fs::file_size(state / "history") <= vtjobs::kMaxHistoryBytes);
    VT_FUZZ_CHECK(vtfuzz::Names(state) == (std::set<std::string>{"history", "history.lock"}));
    return 0;
}
