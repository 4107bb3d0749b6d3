#include "job_report.hpp"

#include <algorithm>
#include <cmath>

#include "error_text.hpp"
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
// and what to do.
void AddNotReleased(const JobOutcome &outcome, JobReport &report) {
    if (outcome.released) return;
    // A paragraph of its own: it is about the device, not the job.
    report.text +=
        QStringLiteral("\n\n") + Text(ids::kNotReleased) + QLatin1Char('\n') + Text(ids::kNotReleasedWhatToDo);
    if (report.icon == JobReport::Icon::Information) report.icon = JobReport::Icon::Warning;
}

// "0:07", "12:34", "1:02:03".
QString DurationText(double seconds) {
    const int64_t whole = std::max<int64_t>(0, std::llround(seconds));
    const int64_t hours = whole / 3600, minutes = whole / 60 % 60, rest = whole % 60;
    const QString tail = QStringLiteral("%1").arg(rest, 2, 10, QLatin1Char('0'));
    if (hours == 0) return QString::number(minutes) + QLatin1Char(':') + tail;
    return QString::number(hours) + QLatin1Char(':') + QStringLiteral("%1").arg(minutes, 2, 10, QLatin1Char('0')) +
           QLatin1Char(':') + tail;
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

}  // namespace vtutil
