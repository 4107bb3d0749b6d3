// What the pages tell the user when a backup or restore job has ended.
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

#include "job_thread.hpp"

namespace vtutil {

struct JobReport {
    enum class Icon { Information, Warning, Error };
    QString caption;
    QString text;  // the outcome, and on a second line what went wrong
    Icon icon = Icon::Error;
    QString details;          // more about the failure than the text says, behind "Show Details"
    bool deviceLost = false;  // the job failed because the device no longer answers
};

JobReport BackupReport(const JobOutcome &outcome);
// What a finished backup did, a line each: file, size, boxes and documents,
// time taken.
QString BackupSummary(const JobOutcome &outcome);
JobReport RestoreReport(const JobOutcome &outcome);

// Adds the ended job to the user's job history (job_history.hpp), which
// vtbox writes too: the boxes chosen, the device as the window names it,
// and whether the schedule ran it. A history that cannot be written costs
// the job nothing: false, and the job's report stands as it is.
bool RecordJob(JobOperation operation, const std::vector<uint32_t> &boxes, const JobOutcome &outcome,
               const QString &device, bool scheduled);

// text with its first "%s" replaced by value (text as it is without one).
QString FormatText(const QString &text, const QString &value);

}  // namespace vtutil
