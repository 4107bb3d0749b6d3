#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <set>
#include <vector>

#include "backup_listing.hpp"
#include "commands.hpp"
#include "device_job.hpp"
#include "dry_run.hpp"
#include "failure_report.hpp"
#include "job_history_entry.hpp"
#include "job_work_folders.hpp"
#include "json_output.hpp"
#include "long_operation.hpp"
#include "progress_bar.hpp"
#include "text_output.hpp"
#include "vtBoxBRD.h"
#include "vthandles.hpp"
#include "work_folder.hpp"

namespace vtcli {

namespace {

namespace fs = std::filesystem;

std::string Trimmed(const char *text) {
    std::string s(text);
    size_t a = s.find_first_not_of(' '), b = s.find_last_not_of(' ');
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

// What the backup file holds: its device's engine version and its boxes.
struct FileDescription {
    std::string engineVersion;
    std::vector<uint32_t> boxes;
};

int Describe(const std::string &file, FileDescription *out) {
    std::error_code ec;
    if (!fs::exists(file, ec)) return ReportProblem("the backup file " + file + " does not exist", kExitNotFound);
    if (!fs::is_regular_file(file, ec)) return ReportProblem(file + " is not a file", kExitNotFound);
    WorkFolder work = TempWorkFolder();
    if (!work.ok()) return ReportProblem(work.error(), kExitLocalDisk);
    VTBACKUPINFO info{};
    uint32_t count = 0;
    VTBOXBK *boxes = nullptr;
    void *handle = nullptr;
    uint32_t rc = vtBoxGetXMLInfo(file.c_str(), work.path().c_str(), &info, &count, &boxes, &handle);
    vt::GlobalBlock boxList(handle);
    if (rc != 0) return ReportFailure("reading " + file, rc, vtBoxGetLastErrorText(), FailureSite::BackupFile);
    if (info.Kind != 1) return ReportProblem(file + " is a document archive, not a backup file", kExitDamagedFile);
    out->engineVersion = Trimmed(info.EngineVersion);
    for (uint32_t i = 0; i < count; ++i) out->boxes.push_back(boxes[i].BoxNo);
    return kExitDone;
}

// Documents the restore took off the device and could not put back are kept
// in the work folder (which then outlives the run): says where, and true
// when there are any.
bool ReportRescueCopies(const std::string &work) {
    size_t n = vtjobs::RescuedDocuments(work);
    if (n == 0) return false;
    std::fprintf(stderr,
                 "vtbox: %zu document%s of the device had to be deleted to make room for %s replacement%s and could "
                 "not be put back: the only copy is kept in %s/%s (the NOTE.txt of each copy says what it is). "
                 "Running the restore again completes the replacement; keep the copies as long as you may need "
                 "the documents as they were.\n",
                 n, n == 1 ? "" : "s", n == 1 ? "its" : "their", n == 1 ? "" : "s", work.c_str(), VTBOX_RESCUE_FOLDER);
    return true;
}

}  // namespace

int RunRestore(const Context &c) {
    const Options &o = c.options;
    FileDescription description;
    if (int rc = Describe(o.input, &description)) return rc;
    // --only: the parts the paths name, resolved in the file before anything
    // else; their boxes are the boxes of the restore.
    std::vector<VTBACKUPITEM> items;
    if (!o.only.empty()) {
        if (int rc = ResolveItems(o.input, o.only, &items)) return rc;
    }
    std::vector<uint32_t> boxes;
    std::vector<uint32_t> named;
    for (const auto &item : items) named.push_back(item.BoxNo);
    for (uint32_t box : !items.empty() ? named : o.allBoxes ? description.boxes : o.boxes)  // each box once
        if (std::find(boxes.begin(), boxes.end(), box) == boxes.end()) boxes.push_back(box);
    std::set<uint32_t> described(description.boxes.begin(), description.boxes.end());
    Refusals refusals;
    for (uint32_t box : boxes)
        if (!described.count(box)) refusals.unknownBoxes.push_back(box);
    if (!o.dryRun) {
        for (uint32_t box : refusals.unknownBoxes) {
            char n[8];
            std::snprintf(n, sizeof n, "%03u", box);
            return ReportProblem("box " + std::string(n) + " is not in " + o.input, kExitNotFound);
        }
        if (boxes.empty()) return ReportProblem(o.input + " holds no boxes", kExitNotFound);
    }

    DeviceSession session(c.settings);
    std::string password;
    VTENGVERSION version{};
    if (int rc = OpenWithPassword(c, !o.dryRun, session, &password, &version)) return rc;
    if (Trimmed(version.EngineVersion) != description.engineVersion) {
        refusals.engineVersion = description.engineVersion;
        refusals.deviceEngineVersion = version.EngineVersion;
        if (!o.dryRun)
            return ReportProblem("the backup was made on engine \"" + description.engineVersion +
                                     "\" but the device runs \"" + version.EngineVersion +
                                     "\"; a backup can only be restored into a device of the same engine version",
                                 kExitDamagedFile);
    }
    WorkFolder work = WorkFolderFor(o.input);
    if (!work.ok()) return ReportProblem(work.error(), kExitLocalDisk);
    if (o.dryRun) return RunDryRun(c, session, password, work.path(), boxes, items, refusals);
    std::string input = fs::absolute(o.input).string();

    Summary summary;
    summary.command = "restore";
    summary.file = input;
    summary.boxes = static_cast<uint32_t>(boxes.size());
    std::error_code ec;
    uint64_t fileSize = fs::file_size(input, ec);
    summary.size = fileSize;
    auto started = std::chrono::steady_clock::now();
    const std::time_t startedAt = std::time(nullptr);

    ExclusiveJob job(session, password, 1);
    uint32_t rc = job.Begin();
    int exitCode = rc == 0 ? kExitDone : ExitCodeFor(rc, FailureSite::Device);
    if (rc == 0 && TerminationRequested()) rc = VTBOX_E_CANCELLED;
    VTPROGRESSINFO last{};
    if (rc == 0) {
        std::string detail;
        ProgressBar bar("restore", [&](const VTPROGRESSINFO &p) {
            return fileSize / 100 * static_cast<uint64_t>(std::clamp(p.Percent, 0, 100));
        });
        rc = RunLongOperation(
            bar,
            [&](HANDLE cancel, HANDLE status, VTPROGRESSINFO *progress) {
                if (!items.empty())
                    return vtBoxRestoreSelection(session.get(), password.c_str(), job.ftpUser(), work.path().c_str(),
                                                 input.c_str(), static_cast<uint32_t>(items.size()), items.data(),
                                                 o.mode, job.deviceTime(), cancel, status, progress);
                return vtBoxRestore(session.get(), password.c_str(), job.ftpUser(), work.path().c_str(), input.c_str(),
                                    static_cast<uint32_t>(boxes.size()), boxes.data(), o.mode, job.deviceTime(), cancel,
                                    status, progress);
            },
            &last, &detail);
        summary.detail = detail;
        if (rc == VTBOX_E_CANCELLED) {
            exitCode = TerminationSignal() == SIGTERM ? kExitTerminated : kExitInterrupted;
            PrintError("the restore", rc, detail);
        } else if (rc != 0) {
            exitCode = ReportFailure("the restore", rc, detail, FailureSite::Device, &c.settings);
            if (last.Phase == VTPHASE_TOO_MANY_DOCUMENTS)
                std::fprintf(stderr, "vtbox: a folder of the box would hold more than 400 documents\n");
            else if (last.Phase == VTPHASE_TOO_MANY_FOLDERS)
                std::fprintf(stderr, "vtbox: the box would hold more than 100 folders\n");
            // What was written before the failure stays on the device.
            if (last.DocsDone > 0 && exitCode != kExitInterrupted) {
                std::fprintf(stderr,
                             "vtbox: %d document%s had been restored before the failure and stay on the device\n",
                             last.DocsDone, last.DocsDone == 1 ? "" : "s");
                exitCode = kExitPartial;
            }
        }
        if (rc != 0 && ReportRescueCopies(work.path())) exitCode = kExitPartial;
    } else if (rc == VTBOX_E_CANCELLED) {
        exitCode = TerminationSignal() == SIGTERM ? kExitTerminated : kExitInterrupted;
        PrintError("the restore", rc);
    }
    summary.code = rc;
    uint32_t released = job.End();
    if (exitCode == kExitDone && released != 0) {
        exitCode = kExitNotReleased;
        std::fprintf(stderr, "vtbox: warning: the boxes were restored, but the device was not released\n");
    }
    summary.exitCode = exitCode;
    summary.documents = last.DocsDone;
    summary.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    RecordInHistory(summary, c.settings, boxes, startedAt);
    if (o.json)
        PrintSummary(summary);
    else if ((exitCode == kExitDone || exitCode == kExitNotReleased) && !Output().quiet && !items.empty())
        std::printf("%s: %d document%s restored from %zu box%s (%s)\n", PlainText(o.input).c_str(), last.DocsDone,
                    last.DocsDone == 1 ? "" : "s", boxes.size(), boxes.size() == 1 ? "" : "es",
                    o.mode == 1 ? "same-named documents replaced" : "same-named documents kept, restored ones renamed");
    else if ((exitCode == kExitDone || exitCode == kExitNotReleased) && !Output().quiet)
        std::printf("%s: %zu box%s restored (%s)\n", o.input.c_str(), boxes.size(), boxes.size() == 1 ? "" : "es",
                    o.mode == 1 ? "same-named documents replaced" : "same-named documents kept, restored ones renamed");
    return exitCode;
}

}  // namespace vtcli
