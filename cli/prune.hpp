// Which backups of a folder a retention rule set keeps: the newest backup of
// each of the latest N days, weeks and months that have backups, and the N
// newest backups. The newest backup is always kept. A backup dated after now
// (made while a clock was wrong) is kept too, but counts for no rule: taken
// for the newest, it would push every real backup out.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace vtcli {

// A backup's date as its description gives it (the local time of the
// machine that made it).
struct BackupDate {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// A real calendar date and time of day (a description without one cannot
// be placed in a day, week or month).
bool IsValidDate(const BackupDate &d);

struct PruneRules {
    uint32_t last = 0, daily = 0, weekly = 0, monthly = 0;
    bool any() const { return last || daily || weekly || monthly; }
};

// True when the date lies after now: with the offset from UTC the
// description gives (minutes, east positive), else as a local time here.
bool DatedAfter(const BackupDate &date, const int32_t *offsetMinutes, std::time_t now);

struct PruneCandidate {
    std::string name;
    BackupDate date;      // valid
    bool future = false;  // DatedAfter now
};

struct PruneVerdict {
    std::string name;
    BackupDate date;
    bool keep = false;
    bool future = false;
    std::vector<std::string> reasons;  // "future", or "newest", "last", "daily", "weekly", "monthly"
};

// The verdicts, newest first (by date, then by name for equal dates). Weeks
// run Monday to Sunday. Backups dated in the future are kept, with the
// reason "future", and the rules count only the others.
std::vector<PruneVerdict> DecidePrune(std::vector<PruneCandidate> backups, const PruneRules &rules);

}  // namespace vtcli
