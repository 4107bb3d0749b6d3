#include "job_report.hpp"

#include "error_text.hpp"
#include "language.hpp"
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
    report.details = outcome.detail;
    report.deviceLost = outcome.state == kJobFailed && IsConnectionLoss(outcome.result);
    return report;
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
    return ErrorTextFor(outcome.result);
}

}  // namespace

QString FormatText(const QString &text, const QString &value) {
    const qsizetype at = text.indexOf(QStringLiteral("%s"));
    if (at < 0) return text;
    return text.left(at) + value + text.mid(at + 2);
}

JobReport BackupReport(const JobOutcome &outcome) {
    JobReport report = Report(ids::kCaptionBackup, outcome);
    const QString detail = ErrorTextFor(outcome.result);
    switch (outcome.state) {
    case kJobFinished:
        report.text = Lines(ids::kBackupFinished, detail);
        report.icon = JobReport::Icon::Information;
        break;
    case kJobCancelled:
        report.text = Lines(ids::kBackupCancelled, detail);
        report.icon = JobReport::Icon::Warning;
        break;
    default:
        report.text =
            Lines(ids::kBackupFailed, outcome.result == VTBOX_E_PATH_NOT_FOUND ? Text(ids::kMsgFolderNotMade) : detail);
        report.icon = JobReport::Icon::Error;
        break;
    }
    return report;
}

JobReport RestoreReport(const JobOutcome &outcome) {
    JobReport report = Report(ids::kCaptionRestore, outcome);
    switch (outcome.state) {
    case kJobFinished:
        report.text = Lines(ids::kRestoreFinished, ErrorTextFor(outcome.result));
        report.icon = JobReport::Icon::Information;
        break;
    case kJobCancelled:
        report.text = Lines(ids::kRestoreCancelled, ErrorTextFor(outcome.result));
        report.icon = JobReport::Icon::Warning;
        break;
    default:
        report.text = Lines(ids::kRestoreFailed, outcome.result == VTBOX_E_DEVICE_LIMIT ? LimitDetail(outcome)
                                                                                        : ErrorTextFor(outcome.result));
        report.icon = JobReport::Icon::Error;
        break;
    }
    return report;
}

}  // namespace vtutil
