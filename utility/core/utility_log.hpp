// The log of automatic backup: what was scheduled and for which boxes, each
// run with its backup file and size, failures and retries, and how the
// schedule ended. Manual jobs write nothing to it.
//
// The file is "BKRT_Log.txt" in the user's state folder (log_path.hpp). The
// folder is kept private to the user (0700), the file too (0600), and the
// file is opened without following a link planted under its name. Each
// piece of writing opens it for appending and closes it again; when it
// cannot be opened, writing does nothing and the program goes on.
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

#include "log_path.hpp"
#include "vtBoxBRD.h"

namespace vtutil {

// How a schedule ended, as its trailer says.
enum TrailerKind : int {
    kTrailerFinished = 1,
    kTrailerFinishedBoxesDeleted = 2,  // ended normally, but chosen boxes had been deleted
    kTrailerFailed = 3,
    kTrailerStopped = 4,       // by the user, by exit, or after a cancel
    kTrailerBoxesDeleted = 5,  // stopped because chosen boxes were deleted
};

// The boxes a table lists: those of the box list whose numbers are chosen.
struct LoggedBoxes {
    const VTBOX *boxes = nullptr;  // the current box list
    uint32_t count = 0;
    std::vector<uint32_t> chosen;
};

// What the header tells about a new schedule.
struct ScheduleFacts {
    QString deviceName;
    QString deviceAddress;
    QString target;  // the backup file as typed
    uint32_t intervalCode = 0;
    int64_t start = 0;
    uint32_t continuePolicy = 1;
};

class UtilityLog {
public:
    explicit UtilityLog(QString path = UtilityLogPath());
    ~UtilityLog();
    UtilityLog(const UtilityLog &) = delete;
    UtilityLog &operator=(const UtilityLog &) = delete;

    // Empties the file (a new schedule). False when it cannot be opened.
    bool Empty();
    bool OpenForAppend();
    bool IsOpen() const { return fd_ >= 0; }
    // Writes text and a line feed; nothing while the file is not open.
    void WriteLine(const QString &text);
    void Close();

    // The pieces below are skipped when no language library is loaded.
    void WriteAutoHeader(const ScheduleFacts &facts, const LoggedBoxes &boxes);
    void WriteBoxTable(const LoggedBoxes &boxes);
    // The start of a run's block: scheduleCounter runs were started before.
    void WriteRunHeading(uint32_t scheduleCounter);
    // After a run that was not a failure: archive is the run's backup file;
    // deleted are the boxes this run found deleted.
    void WriteRunEntry(const LoggedBoxes &boxes, const std::vector<VTBOX> &deleted, const QString &archive,
                       int64_t started);
    // The size of a run's backup file.
    void WriteSizeLine(double kb);
    // Once per schedule: *written is set by the first call, and later calls
    // write nothing.
    void WriteAutoTrailer(int kind, bool *written, int64_t now, double totalKb);

private:
    QString path_;
    int fd_ = -1;
};

// The fixed lines of the log.
inline constexpr const char *kLogStarLine = "*****************************************************";
inline constexpr const char *kLogRunSeparator = "\n-----------------------------------------------------";
inline constexpr const char *kLogTableRule = "\t--------------------------";

}  // namespace vtutil
