#include "job_report.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <ctime>

#include "error_text.hpp"
#include "job_figures.hpp"
#include "job_history.hpp"
#include "language.hpp"
#include "size_texts.hpp"
#include "text_format.hpp"
#include "text_ids.hpp"
#include "vtresult.h"

namespace vtutil {

namespace {

// The outcome's line, and the detail on a line of its own when there is one.
QString Lines(uint32_t outcomeId, const QString &detail) {
    QString text = Text(outcomeId);
    if (!detail.isEmpty()) text += QLatin1Char('\n') + detail;
    return text;
}

JobReport Report(uint32_t captionId, const JobOutcome &outcome) {
    JobReport report;
    report.caption = Text(captionId);
    // The job's own failure, then the release's when that failed too.
    if (outcome.released) {
        report.details = FailureDetails(outcome.result, outcome.detail);
    } else {
        report.details = FailureDetails(outcome.jobResult, outcome.jobDetail);
        if (!report.details.isEmpty()) report.details += QLatin1Char('\n');
        report.details += FailureDetails(outcome.result, outcome.detail);
    }
    for (const QString &kept : outcome.keptWorkFolders) {
        if (!report.details.isEmpty()) report.details += QLatin1Char('\n');
        report.details += FormatText(Text(ids::kKeptWorkFolder), kept);
    }
    // A device that did not answer its release in time counts as gone too:
    // the user logs in again, which offers to release it.
    // So does a job whose connection broke mid-transfer: the device may be
    // gone although it answered the release.
    const bool lostCode = IsConnectionLoss(outcome.result) || IsConnectionLoss(outcome.jobResult) ||
                          IsConnectionBroken(outcome.jobResult);
    report.deviceLost = (outcome.state == kJobFailed && lostCode) || !outcome.released;
    return report;
}

// The code whose text the report shows: the release's failure when it says
// that the device is gone, else the job's own (when the release was given up,
// the lines of the unreleased device speak for it).
uint32_t ShownCode(const JobOutcome &outcome) {
    return outcome.released || IsConnectionLoss(outcome.result) ? outcome.result : outcome.jobResult;
}

// Ends a report of a job whose device stayed unreleased with what that means
// and what to do; one that was cancelled says that the device is free again.
void AddNotReleased(const JobOutcome &outcome, JobReport &report) {
    if (outcome.released) {
        if (outcome.state == kJobCancelled) report.text += QStringLiteral("\n\n") + Text(ids::kCancelledReleased);
        return;
    }
    // A paragraph of its own: it is about the device, not the job.
    report.text +=
        QStringLiteral("\n\n") + Text(ids::kNotReleased) + QLatin1Char('\n') + Text(ids::kNotReleasedWhatToDo);
    if (report.icon == JobReport::Icon::Information) report.icon = JobReport::Icon::Warning;
}

// What a finished job did, a line each: the file (and a backup's size), the
// boxes and documents (and a restore's documents replaced and added), the
// time taken.
QString WhatWasDone(const JobOutcome &outcome, bool restore) {
    QString text = FormatValues(Text(ids::kSummaryFile), {outcome.file});
    if (!restore && outcome.fileBytes >= 0)
        text += QLatin1Char('\n') + FormatValues(Text(ids::kSummarySize), {FileSizeText(outcome.fileBytes)});
    text += QLatin1Char('\n') + FormatValues(Text(ids::kSummaryBoxes),
                                             {QString::number(outcome.boxes), QString::number(outcome.documentsDone)});
    if (restore && outcome.replaced >= 0)
        text += QLatin1Char('\n') + FormatValues(Text(ids::kSummaryReplacedAdded),
                                                 {QString::number(outcome.replaced), QString::number(outcome.added)});
    text += QLatin1Char('\n') + FormatValues(Text(ids::kSummaryTime), {DurationText(outcome.seconds)});
    return text;
}

// The restore's limits: too many documents in a folder, too many folders
// in a box.
QString LimitDetail(const JobOutcome &outcome) {
    if (outcome.lastPhase == VTPHASE_TOO_MANY_DOCUMENTS) {
        const QString where =
            outcome.folderName.isEmpty() ? outcome.boxName : outcome.boxName + QLatin1Char('\\') + outcome.folderName;
        return FormatText(Text(ids::kTooManyDocuments), where);
    }
    if (outcome.lastPhase == VTPHASE_TOO_MANY_FOLDERS) return FormatText(Text(ids::kTooManyFolders), outcome.boxName);
    return ErrorTextFor(ShownCode(outcome));
}

}  // namespace

QString FormatText(const QString &text, const QString &value) {
    const qsizetype at = text.indexOf(QStringLiteral("%s"));
    if (at < 0) return text;
    return text.left(at) + value + text.mid(at + 2);
}

QString BackupSummary(const JobOutcome &outcome) { return WhatWasDone(outcome, false); }

JobReport BackupReport(const JobOutcome &outcome) {
    JobReport report = Report(ids::kCaptionBackup, outcome);
    const uint32_t code = ShownCode(outcome);
    const QString detail = ErrorTextFor(code);
    switch (outcome.state) {
    case kJobFinished:
        report.text = Lines(ids::kBackupFinished, WhatWasDone(outcome, false));
        if (!detail.isEmpty()) report.text += QLatin1Char('\n') + detail;
        report.icon = JobReport::Icon::Information;
        break;
    case kJobCancelled:
        report.text = Lines(ids::kBackupCancelled, detail);
        report.icon = JobReport::Icon::Warning;
        break;
    default:
        report.text = Lines(ids::kBackupFailed, code == VTBOX_E_PATH_NOT_FOUND ? Text(ids::kMsgFolderNotMade) : detail);
        report.icon = JobReport::Icon::Error;
        break;
    }
    AddNotReleased(outcome, report);
    return report;
}

JobReport RestoreReport(const JobOutcome &outcome) {
    JobReport report = Report(ids::kCaptionRestore, outcome);
    const uint32_t code = ShownCode(outcome);
    switch (outcome.state) {
    case kJobFinished:
        report.text = Lines(ids::kRestoreFinished, WhatWasDone(outcome, true));
        if (code != 0) report.text += QLatin1Char('\n') + ErrorTextFor(code);
        report.icon = JobReport::Icon::Information;
        break;
    case kJobCancelled:
        report.text = Lines(ids::kRestoreCancelled, ErrorTextFor(code));
        report.icon = JobReport::Icon::Warning;
        break;
    default:
        report.text =
            Lines(ids::kRestoreFailed, code == VTBOX_E_DEVICE_LIMIT ? LimitDetail(outcome) : ErrorTextFor(code));
        report.icon = JobReport::Icon::Error;
        break;
    }
    // What was written before the end stays on the device: a half restore.
    if (outcome.state != kJobFinished && outcome.documentsDone > 0) {
        report.text +=
            QLatin1Char('\n') + FormatValues(Text(ids::kPartialRestore), {QString::number(outcome.documentsDone)});
        report.text += QLatin1Char('\n') + Text(ids::kPartialRestoreWhatToDo);
    }
    AddNotReleased(outcome, report);
    return report;
}

bool RecordJob(JobOperation operation, const std::vector<uint32_t> &boxes, const JobOutcome &outcome,
               const QString &device, bool scheduled) {
    const bool restore = operation == JobOperation::Restore;
    vtjobs::HistoryEntry entry;
    entry.started = static_cast<int64_t>(std::time(nullptr)) - std::llround(std::max(0.0, outcome.seconds));
    entry.operation = restore ? vtjobs::HistoryOperation::Restore : vtjobs::HistoryOperation::Backup;
    entry.program = scheduled ? vtjobs::HistoryProgram::UtilitySchedule : vtjobs::HistoryProgram::Utility;
    if (outcome.state == kJobFinished)
        entry.outcome = outcome.released ? vtjobs::HistoryOutcome::Done : vtjobs::HistoryOutcome::NotReleased;
    else if (outcome.state == kJobCancelled)
        entry.outcome = vtjobs::HistoryOutcome::Cancelled;
    else
        entry.outcome =
            restore && outcome.documentsDone > 0 ? vtjobs::HistoryOutcome::Partial : vtjobs::HistoryOutcome::Failed;
    entry.device = device.toStdString();
    entry.boxes = boxes;
    entry.file = outcome.file.toStdString();
    if (restore) {
        struct stat st;
        if (::stat(entry.file.c_str(), &st) == 0) entry.bytes = st.st_size;
    } else {
        entry.bytes = outcome.fileBytes;
    }
    entry.documents = outcome.documentsDone;
    entry.seconds = outcome.seconds;
    // The words the user was shown, without the outcome's own line.
    if (entry.outcome == vtjobs::HistoryOutcome::NotReleased) {
        entry.reason = Text(ids::kNotReleased).simplified().toStdString();
    } else if (entry.outcome != vtjobs::HistoryOutcome::Done) {
        const JobReport report = restore ? RestoreReport(outcome) : BackupReport(outcome);
        entry.reason = report.text.section(QLatin1Char('\n'), 1).simplified().toStdString();
    }
    return vtjobs::AppendJobHistory(entry);
}

}  // namespace vtutil
