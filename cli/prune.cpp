#include "prune.hpp"

#include <algorithm>
#include <set>
#include <tuple>

namespace vtcli {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DayNumber(int y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

int DaysInMonth(int y, int m) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : kDays[m - 1];
}

auto Key(const BackupDate &d) { return std::tie(d.year, d.month, d.day, d.hour, d.minute, d.second); }

int64_t DayOf(const BackupDate &d) { return DayNumber(d.year, d.month, d.day); }

// The day number of the week's Monday.
int64_t WeekOf(const BackupDate &d) {
    int64_t day = DayOf(d);
    int64_t sinceMonday = ((day + 3) % 7 + 7) % 7;  // 1970-01-01 was a Thursday
    return day - sinceMonday;
}

int64_t MonthOf(const BackupDate &d) { return int64_t{d.year} * 12 + d.month - 1; }

int64_t SecondsOf(const BackupDate &d) {
    return DayOf(d) * 86400 + int64_t{d.hour} * 3600 + int64_t{d.minute} * 60 + d.second;
}

// Keeps the first (newest) backup of each period until `count` periods have one.
template <typename PeriodOf>
void KeepPerPeriod(std::vector<PruneVerdict> &verdicts, uint32_t count, const char *reason, PeriodOf periodOf) {
    std::set<int64_t> seen;
    for (PruneVerdict &v : verdicts) {
        if (v.future) continue;
        if (seen.size() >= count) break;
        if (!seen.insert(periodOf(v.date)).second) continue;
        v.keep = true;
        v.reasons.push_back(reason);
    }
}

}  // namespace

bool IsValidDate(const BackupDate &d) {
    return d.year >= 1 && d.year <= 9999 && d.month >= 1 && d.month <= 12 && d.day >= 1 &&
           d.day <= DaysInMonth(d.year, d.month) && d.hour >= 0 && d.hour <= 23 && d.minute >= 0 && d.minute <= 59 &&
           d.second >= 0 && d.second <= 60;
}

bool DatedAfter(const BackupDate &date, const int32_t *offsetMinutes, std::time_t now) {
    if (offsetMinutes) return SecondsOf(date) - int64_t{*offsetMinutes} * 60 > static_cast<int64_t>(now);
    std::tm local{};
    localtime_r(&now, &local);
    const BackupDate here{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                          local.tm_hour,        local.tm_min,     local.tm_sec};
    return SecondsOf(date) > SecondsOf(here);
}

std::vector<PruneVerdict> DecidePrune(std::vector<PruneCandidate> backups, const PruneRules &rules) {
    std::sort(backups.begin(), backups.end(), [](const PruneCandidate &a, const PruneCandidate &b) {
        if (Key(a.date) != Key(b.date)) return Key(a.date) > Key(b.date);
        return a.name > b.name;
    });
    std::vector<PruneVerdict> verdicts;
    for (PruneCandidate &b : backups) {
        verdicts.push_back({std::move(b.name), b.date, b.future, b.future, {}});
        if (b.future) verdicts.back().reasons.push_back("future");
    }
    size_t counted = 0;
    for (PruneVerdict &v : verdicts) {
        if (v.future) continue;
        if (counted == 0) {
            v.keep = true;
            v.reasons.push_back("newest");
        }
        if (counted++ < rules.last) {
            v.keep = true;
            v.reasons.push_back("last");
        }
    }
    KeepPerPeriod(verdicts, rules.daily, "daily", DayOf);
    KeepPerPeriod(verdicts, rules.weekly, "weekly", WeekOf);
    KeepPerPeriod(verdicts, rules.monthly, "monthly", MonthOf);
    return verdicts;
}

}  // namespace vtcli
