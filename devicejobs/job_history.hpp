// The history of the backup and restore jobs this user ran on this computer,
// by vtbox (by hand, from the systemd timer, as a fleet's child) and by the
// utility (by hand and from its schedule): one list, written by this module
// alone, so that whoever mixes the programs reads one list.
//
// One file, "history" in the state folder ($STATE_DIRECTORY under a service,
// else $XDG_STATE_HOME/vtbox, else ~/.local/state/vtbox), mode 600: a comment
// line, then one job a line, oldest first, fields separated by tabs (a tab,
// a line feed, a backslash and other control bytes inside a field are
// escaped). The file never holds more than kMaxHistoryEntries jobs or
// kMaxHistoryBytes; the oldest make room. Each append writes the file anew
// under another name and renames it into place, under a lock that another
// vtbox or the utility appending at the same moment waits for, so that no
// job is lost and nobody ever reads half a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vtjobs {

enum class HistoryOperation { Backup, Restore };

// How a job ended. Partial: a restore that failed after writing documents,
// which stay on the device. NotReleased: the job's work is whole, but the
// device may stay locked.
enum class HistoryOutcome { Done, Failed, Cancelled, Partial, NotReleased };

// Who ran the job: vtbox (whatever started it), the utility by hand, or the
// utility's schedule.
enum class HistoryProgram { Vtbox, Utility, UtilitySchedule };

struct HistoryEntry {
    int64_t started = 0;  // seconds since 1970 (UTC)
    HistoryOperation operation = HistoryOperation::Backup;
    HistoryOutcome outcome = HistoryOutcome::Failed;
    HistoryProgram program = HistoryProgram::Vtbox;
    std::string device;           // as the program names it: "name (address)" or the address
    std::vector<uint32_t> boxes;  // the chosen box numbers
    std::string file;             // the backup file written or read
    int64_t bytes = -1;           // the file's size; -1 when not known
    int64_t documents = -1;       // documents backed up or restored; -1 when not known
    double seconds = 0;           // from the job's start to its end
    std::string reason;           // why the job failed or stopped, in words; empty when it did not
};

// Bounds of the file, which anyone who can write the state folder may have
// changed. A job every hour for a week and a half fits; older jobs are of
// little use next to the backup files themselves.
inline constexpr size_t kMaxHistoryEntries = 250;
// 250 jobs of ordinary paths and reasons take about 100 KB; the bound leaves
// room for long ones while the window that lists them stays quick to fill.
inline constexpr size_t kMaxHistoryBytes = 1024 * 1024;
// Fields are cut to these on writing (at a whole UTF-8 character); a line
// read with a longer one is no line of ours. A path is at most PATH_MAX.
inline constexpr size_t kMaxHistoryFileBytes = 4096;
inline constexpr size_t kMaxHistoryDeviceBytes = 256;
inline constexpr size_t kMaxHistoryReasonBytes = 1024;
// Box numbers are three digits; a device has fewer boxes than that.
inline constexpr uint32_t kMaxHistoryBoxNumber = 999;
// The longest job that is told: 10 years, in seconds (more is no time).
inline constexpr double kMaxHistorySeconds = 315576000;
// How long an append waits for another one to end. A writer holds the lock
// while it writes one small file; one that holds it longer is stuck, and a
// job never waits long for its line in the history. Each append that ends
// meanwhile starts the wait anew: jobs that end at the same moment (a fleet)
// queue for the lock, and none gives up while the others go on.
inline constexpr int kHistoryLockWaitMs = 3000;

// The history file's path; empty when no state folder can be named (none of
// the variables is set).
std::string JobHistoryPath();

// Adds entry as the newest job, dropping the oldest beyond the bounds. False
// (and *error, when given, says why) when the history could not be written;
// the file is then as it was.
bool AppendJobHistory(const HistoryEntry &entry, std::string *error = nullptr);

// The jobs of the history, newest first. Lines that are not a job as this
// module writes them are passed over; a file over kMaxHistoryBytes is read
// from its last kMaxHistoryBytes. A missing file is an empty history; one
// that cannot be read gives none, with *problem (when given) saying why.
std::vector<HistoryEntry> ReadJobHistory(std::string *problem = nullptr);

// The backup files of finished backups in entries (newest first), each once,
// those that still exist as regular files, at most max.
std::vector<std::string> RecentBackupFiles(const std::vector<HistoryEntry> &entries, size_t max);

// The words the file uses for a value (also what vtbox's output says).
const char *HistoryOutcomeWord(HistoryOutcome outcome);

}  // namespace vtjobs
