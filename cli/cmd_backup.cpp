#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <set>
#include <vector>

#include "commands.hpp"
#include "device_job.hpp"
#include "failure_report.hpp"
#include "job_history_entry.hpp"
#include "job_work_folders.hpp"
#include "json_output.hpp"
#include "long_operation.hpp"
#include "progress_bar.hpp"
#include "text_output.hpp"
#include "verify.hpp"
#include "vtBoxBRD.h"
#include "vthandles.hpp"
#include "work_folder.hpp"

namespace vtcli {

namespace {

namespace fs = std::filesystem;

// The chosen boxes, or every box of the device for "all". Boxes the device
// lacks are refused by number, before anything is locked.
int ChooseBoxes(const Options &o, DeviceSession &session, std::vector<uint32_t> *boxes) {
    uint32_t count = 0;
    VTBOX *list = nullptr;
    vt::GlobalBlock block(vtBoxGetBoxList(session.get(), &count, &list));
    if (!block)
        return ReportFailure("listing the boxes", GetLastError(), vtBoxGetLastErrorText(), FailureSite::Device,
                             &session.settings());
    std::set<uint32_t> present;
    for (uint32_t i = 0; i < count; ++i) present.insert(list[i].BoxNo);
    if (o.allBoxes) {
        boxes->assign(present.begin(), present.end());
        if (boxes->empty())
            return ReportProblem("the device has no boxes: there is nothing to back up, and no file was written",
                                 kExitNothingToBackUp);
        return kExitDone;
    }
    std::string missing;
    for (uint32_t b : o.boxes) {
        char n[8];
        std::snprintf(n, sizeof n, "%03u", b);
        if (!present.count(b)) missing += (missing.empty() ? "" : ", ") + std::string(n);
    }
    if (!missing.empty()) {
        std::string have;
        for (uint32_t b : present) {
            char n[8];
            std::snprintf(n, sizeof n, "%03u", b);
            have += (have.empty() ? "" : ", ") + std::string(n);
        }
        return ReportProblem("box " + missing + (missing.find(',') != std::string::npos ? " do" : " does") +
                                 " not exist on the device (it has " + (have.empty() ? "no boxes" : have) +
                                 "; vtbox boxes lists them)",
                             kExitNotFound);
    }
    for (uint32_t box : o.boxes)  // each box once
        if (std::find(boxes->begin(), boxes->end(), box) == boxes->end()) boxes->push_back(box);
    return kExitDone;
}

const char *FileKindText(mode_t mode) {
    if (S_ISLNK(mode)) return "a symbolic link";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

// A complete backup that could not take its name stays in the work folder
// (the folder then outlives the run): says where.
void KeepCompleteBackup(const WorkFolder &work, const std::string &output) {
    for (const std::string &kept : vtjobs::KeptContent(work.path()))
        if (fs::path(kept).filename() == VTBOX_KEPT_BACKUP)
            std::fprintf(stderr,
                         "vtbox: the complete backup is kept as %s; move it to %s (or where you want it) "
                         "yourself\n",
                         kept.c_str(), output.c_str());
}

}  // namespace

int RunBackup(const Context &c, const RunNumber &number) {
    const Options &o = c.options;
    std::error_code ec;
    if (fs::is_directory(o.output, ec))
        return ReportProblem(o.output + " is a folder; give the backup file's name", kExitUsage);
    std::string folder = FolderOf(o.output);
    if (!fs::is_directory(folder, ec)) return ReportProblem("the folder " + folder + " does not exist", kExitNotFound);
    if (access(folder.c_str(), W_OK) != 0)
        return ReportProblem("the folder " + folder + " cannot be written to", kExitLocalDisk);
    // A device node, a FIFO or a link is never replaced by a backup (as root,
    // "-o /dev/null" would replace a system file).
    struct stat linkSt;
    if (::lstat(o.output.c_str(), &linkSt) == 0 && !S_ISREG(linkSt.st_mode))
        return ReportProblem(o.output + " is " + FileKindText(linkSt.st_mode) +
                                 ", not a regular file; a backup never replaces one: choose a file name",
                             kExitLocalDisk);
    // A file made read-only is one somebody meant to keep (root may write it
    // all the same: its write bits say what was meant).
    struct stat st;
    bool readOnly = ::stat(o.output.c_str(), &st) == 0 &&
                    ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || access(o.output.c_str(), W_OK) != 0);
    if (readOnly && !o.replaceReadOnly)
        return ReportProblem(o.output + " is read-only; give --replace-read-only to replace it, or choose another file",
                             kExitLocalDisk);
    // The backup holds every document of its boxes: only its owner reads it.
    umask(077);

    DeviceSession session(c.settings);
    std::string password;
    VTENGVERSION version{};
    if (int rc = OpenWithPassword(c, true, session, &password, &version)) return rc;
    std::vector<uint32_t> boxes;
    if (int rc = ChooseBoxes(o, session, &boxes)) return rc;
    WorkFolder work(o.output);
    if (!work.ok()) return ReportProblem(work.error(), kExitLocalDisk);
    std::string target = fs::absolute(o.output).string();
    // The name the file ends up with: another run number than o.output's
    // when a job running beside this one took that number first.
    std::string shown = o.output;
    // With --verify the file is made in the work folder and takes its name
    // only once it has been read back whole; under the name of a kept backup,
    // so that it stays when it cannot take its name. So is a file with a run
    // number, whose name is taken only once the file is complete.
    const bool placeLater = o.verify || number.numbered;
    std::string written = placeLater ? work.path() + "/" VTBOX_KEPT_BACKUP : target;
    std::string engineWork = work.path() + "/job";
    fs::create_directory(engineWork, ec);

    Summary summary;
    summary.command = "backup";
    summary.file = target;
    summary.boxes = static_cast<uint32_t>(boxes.size());
    auto started = std::chrono::steady_clock::now();
    const std::time_t startedAt = std::time(nullptr);

    ExclusiveJob job(session, password, 0);
    uint32_t rc = job.Begin();
    int exitCode = rc == 0 ? kExitDone : ExitCodeFor(rc, FailureSite::Device);
    if (rc == 0 && TerminationRequested()) rc = VTBOX_E_CANCELLED;
    VTPROGRESSINFO last{};
    if (rc == 0) {
        std::string detail;
        // Bytes downloaded so far, as the engine counts them: small files
        // never reach the work tree, so its size would say less.
        ProgressBar bar("backup", [](const VTPROGRESSINFO &) { return vtBoxGetDownloadedBytes(); });
        rc = RunLongOperation(
            bar,
            [&](HANDLE cancel, HANDLE status, VTPROGRESSINFO *progress) {
                return vtBoxBackup(session.get(), password.c_str(), job.ftpUser(), engineWork.c_str(), written.c_str(),
                                   static_cast<uint32_t>(boxes.size()), boxes.data(), cancel, status, progress);
            },
            &last, &detail);
        summary.detail = detail;
        if (rc == VTBOX_E_CANCELLED)
            exitCode = TerminationSignal() == SIGTERM ? kExitTerminated : kExitInterrupted;
        else if (rc != 0)
            exitCode = ReportFailure("the backup", rc, detail, FailureSite::LocalDisk, &c.settings);
        if (rc != 0) KeepCompleteBackup(work, o.output);
    } else if (rc == VTBOX_E_CANCELLED) {
        exitCode = TerminationSignal() == SIGTERM ? kExitTerminated : kExitInterrupted;
    }
    summary.code = rc;
    if (rc == VTBOX_E_CANCELLED) PrintError("the backup", rc, summary.detail);
    uint32_t released = job.End();

    if (rc == 0 && placeLater) {
        int verdict = kExitDone;
        if (o.verify) {
            if (!Output().quiet && !Output().json) std::fprintf(stderr, "backup: verifying %s\n", o.output.c_str());
            verdict = VerifyQuietly(written, work.path());
        }
        std::string error;
        if (verdict != kExitDone) {
            exitCode = verdict;
            summary.code = VTBOX_E_DAMAGED_FILE;
            fs::remove(written, ec);  // a damaged file is nothing to keep
            ReportProblem("the new backup is damaged; " + std::string(!number.numbered && fs::exists(target, ec)
                                                                          ? "the older " + o.output + " was kept"
                                                                          : o.output + " was not written"),
                          verdict);
        } else if (number.numbered) {
            if (TakeRunNumber(written, number, &target, &error)) {
                shown = target;
            } else {
                exitCode = ReportProblem(error, kExitLocalDisk);
                KeepCompleteBackup(work, o.output);
            }
        } else if (std::rename(written.c_str(), target.c_str()) != 0) {
            exitCode = ReportProblem("cannot put the backup in place as " + o.output + ": " + std::strerror(errno),
                                     kExitLocalDisk);
            KeepCompleteBackup(work, o.output);
        }
        summary.file = target;
    }
    if (exitCode == kExitDone && released != 0) {
        // The file is whole and in place; only the device is left as it was.
        exitCode = kExitNotReleased;
        std::fprintf(stderr, "vtbox: warning: the backup %s was written, but the device was not released\n",
                     shown.c_str());
    }
    if (exitCode == kExitDone || exitCode == kExitNotReleased) summary.size = fs::file_size(target, ec);
    summary.exitCode = exitCode;
    summary.documents = last.DocsDone;
    summary.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    RecordInHistory(summary, c.settings, boxes, startedAt);
    if (Output().json)
        PrintSummary(summary);
    else if ((exitCode == kExitDone || exitCode == kExitNotReleased) && !Output().quiet)
        std::printf("%s: %zu box%s backed up, %.1f MB\n", shown.c_str(), boxes.size(), boxes.size() == 1 ? "" : "es",
                    static_cast<double>(summary.size) / 1e6);
    return exitCode;
}

}  // namespace vtcli
