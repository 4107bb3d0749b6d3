// The automatic schedule: its state while the program runs, how the next run
// is found, which failures are worth another try, and the numbered names of
// its backup files.
//
// Times are seconds since 1970 (UTC) and are compared as such; days, weeks
// and months are counted on the local calendar, so that a run keeps its time
// of day across a change to or from daylight saving time.
#pragma once

#include <QDate>
#include <QString>
#include <QTime>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "vtBoxBRD.h"

namespace vtutil {

// How often a schedule runs; the repeat list's entries in list order.
enum IntervalCode : uint32_t {
    kNoSchedule = 0,
    kRunOnce = 555,
    kRunDaily = 556,
    kRunWeekly = 557,
    kRunMonthly = 558,
};

// Why a schedule ended, as far as a run decides it.
enum EndReason : uint32_t {
    kEndUnset = 0,
    kEndFinished = 1,  // a single run finished
    kEndFailed = 3,    // a run failed for good, or a single run was missed
    kEndStopped = 4,   // the run was cancelled
};

// How a run ended, as the result window shows it and the log writes it.
enum OutcomeKind : int {
    kOutcomeFinished = 1,
    kOutcomeCancelled = 2,  // also: the schedule was stopped
    kOutcomeFailed = 3,
    kOutcomeRetriesUsedUp = 4,
    kOutcomeRetryPlanned = 5,
    kOutcomeBoxesDeleted = 6,  // chosen boxes were deleted; the schedule stopped
};

struct ScheduleState {
    bool autoMode = false;  // a schedule is set up and waiting or running
    uint32_t intervalCode = kNoSchedule;
    int64_t nextRunTime = 0;  // the next regular run
    QTime timeOfDay;          // of every regular run: the start's hour and minute
    int64_t retryTime = 0;    // the planned retry, while retryPending
    bool retryPending = false;
    bool busy = false;             // a run (or a question) is under way: ticks wait
    uint32_t runCounter = 0;       // the number of the last backup file a run wrote
    uint32_t scheduleCounter = 0;  // scheduled runs started: numbers the log's blocks
    uint32_t endReason = kEndUnset;
    bool boxesDeleted = false;        // the last run found chosen boxes deleted
    uint32_t retryInterval = 5;       // minutes between a failed run and its retry
    uint32_t retryCount = 12;         // retries of one scheduled run
    std::vector<VTBOX> deletedBoxes;  // found by the last run, for the log
    bool trailerWritten = false;      // the log's trailer of this schedule is written
    bool makeFolder = false;          // the user had the target's folder made at set-up: runs make it again
};

enum class Advance { Regular, Retry };

// t truncated to its whole minute.
int64_t MinuteOf(int64_t t);

// 0 when t lies in the same minute as now, -1 when earlier, 1 when later.
int CompareToNow(int64_t t, int64_t now);

// Moves the retry time (Retry) or the next regular run (Regular) past now:
// a retry comes RetryInterval minutes after the present minute; a regular
// run moves by days, weeks or calendar months until it lies after the
// present minute, so that the runs a switched-off machine missed are
// skipped. A single run moves to a time that never comes again.
void AdvanceSchedule(ScheduleState &state, Advance kind, int64_t now);

// After a failed run that may be tried again: counts the retry and plans it,
// or, once the retries are used up, clears the count so that the next tick
// moves on to the next regular run.
void PlanRetry(ScheduleState &state, uint32_t &retryCounter, int64_t now);

// False for failures that waiting cannot cure (a refused password, a full
// disk, a cancel, a device that does not answer ...).
bool IsRetryableError(uint32_t code);

// How a run ended: state is the job's (303, 304, 305), code its result,
// retriesSoFar the retries made for this scheduled run.
OutcomeKind RunOutcomeKind(int32_t state, uint32_t code, uint32_t retriesSoFar, uint32_t retryCount);

// The backup file of the run numbered number: the target cut before its last
// ".", then "_%.3d" and ".zip" ("/b/set.zip", 2 -> "/b/set_002.zip"). The
// target keeps its case.
QString NumberedArchiveName(const QString &target, uint32_t number);

// The highest number a backup file may carry: nine digits, so that every
// number a name can hold fits the counters.
inline constexpr uint32_t kMaxRunNumber = 999999999;

// The number of a run's backup file: `planned` (the run counter's next), or
// when a file of the series already carries that number or a higher one, the
// number after the highest one in the folder. Any name in the folder counts,
// whichever schedule or program wrote it ("set_007.zip" holds 7): a run never
// replaces a file, and a number seen on disk is never taken again. 0 when no
// number up to kMaxRunNumber is left.
uint32_t NextFreeRunNumber(const QString &target, uint32_t planned);

// The retry settings, as decimal text: missing or unreadable values give 5
// minutes and 12 retries; the interval is kept within 1..5 minutes and the
// count within 1..12.
struct RetrySettings {
    uint32_t interval = 5;
    uint32_t count = 12;
};
RetrySettings ParseRetrySettings(const std::optional<std::string> &interval, const std::optional<std::string> &count);
// From "RetryInterval" and "RetryCount" of the registry store.
RetrySettings ReadRetrySettings();

// A time as the status bar and the log show it: "Wednesday, March 05,
// 2025, 10:05" (local time, English names whatever the locale).
QString ScheduleTimeText(int64_t t);

// The moment of a local date and time of day; a time that the change to
// daylight saving time skips counts as the moment after the gap.
int64_t LocalMoment(const QDate &date, const QTime &time);

// The schedule's times are 32-bit: no start after 18 January 2038.
bool BeyondLastStartDate(const QDate &date);

}  // namespace vtutil
