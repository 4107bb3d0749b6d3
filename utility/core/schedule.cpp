#include "schedule.hpp"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "brd_registry.hpp"
#include "job_thread.hpp"
#include "vtresult.h"

namespace vtutil {

namespace {

constexpr int64_t kMinute = 60;
constexpr uint32_t kDefaultRetryInterval = 5;
constexpr uint32_t kDefaultRetryCount = 12;
constexpr uint32_t kMaxRetryInterval = 5;
constexpr uint32_t kMaxRetryCount = 12;
constexpr int kDaysInWeek = 7;

// Codes that another try a few minutes later cannot turn into success.
constexpr uint32_t kFinalCodes[] = {VTBOX_E_TOO_MANY_OPEN_FILES,
                                    VTBOX_E_ACCESS_DENIED,
                                    VTBOX_E_INVALID_HANDLE,
                                    VTBOX_E_BAD_FORMAT,
                                    VTBOX_E_REQUEST_REFUSED,
                                    VTBOX_E_INVALID_DATA,
                                    VTBOX_E_FOLDER_IN_USE,
                                    VTBOX_E_READ_FAULT,
                                    VTBOX_E_FILE_IN_USE,
                                    VTBOX_E_END_OF_FILE,
                                    VTBOX_E_NOT_SUPPORTED,
                                    VTBOX_E_BAD_NET_RESPONSE,
                                    VTBOX_E_CANNOT_MAKE,
                                    VTBOX_E_INVALID_PARAMETER,
                                    VTBOX_E_DISK_FULL,
                                    VTBOX_E_CANCELLED,
                                    VTBOX_E_DISK_OPERATION_FAILED,
                                    VTBOX_E_WRONG_PASSWORD,
                                    VTBOX_E_INTERNAL_ERROR,
                                    VTBOX_E_ENGINE_TOO_NEW,
                                    VTBOX_E_OFFLINE,
                                    VTBOX_E_CONNECTION_FAILED,
                                    VTBOX_E_CANNOT_CONNECT};

QDate LocalDate(int64_t t) { return QDateTime::fromSecsSinceEpoch(t, Qt::LocalTime).date(); }

// The same day of the next month; a day beyond the month's end rolls over
// into the month after (31 January -> 3 March, or 2 March in a leap year).
QDate SameDayNextMonth(const QDate &date) {
    const QDate first = QDate(date.year(), date.month(), 1).addMonths(1);
    return first.addDays(date.day() - 1);
}

std::optional<uint32_t> ReadNumber(const std::optional<std::string> &text, uint32_t low, uint32_t high) {
    if (!text || text->empty()) return std::nullopt;
    errno = 0;
    char *end = nullptr;
    const long long value = std::strtoll(text->c_str(), &end, 10);
    if (errno != 0 || *end != '\0') return std::nullopt;
    return static_cast<uint32_t>(std::clamp<long long>(value, low, high));
}

}  // namespace

int64_t MinuteOf(int64_t t) {
    int64_t minute = t - t % kMinute;
    if (t % kMinute < 0) minute -= kMinute;
    return minute;
}

int CompareToNow(int64_t t, int64_t now) {
    const int64_t a = MinuteOf(t), b = MinuteOf(now);
    return a == b ? 0 : (a < b ? -1 : 1);
}

void AdvanceSchedule(ScheduleState &state, Advance kind, int64_t now) {
    const int64_t minute = MinuteOf(now);
    if (kind == Advance::Retry) {
        state.retryTime = minute + static_cast<int64_t>(state.retryInterval) * kMinute;
        return;
    }
    if (state.intervalCode == kRunOnce) {
        state.nextRunTime = LocalMoment(QDate(1979, 1, 1), QTime(1, 1, 1));
        return;
    }
    if (state.intervalCode != kRunDaily && state.intervalCode != kRunWeekly && state.intervalCode != kRunMonthly)
        return;
    QDate date = LocalDate(state.nextRunTime);
    const QTime timeOfDay = state.timeOfDay.isValid()
                                ? state.timeOfDay
                                : QDateTime::fromSecsSinceEpoch(state.nextRunTime, Qt::LocalTime).time();
    // Whole days, then a step at a time: the runs a switched-off machine
    // missed are skipped, and the next lies after the present minute.
    if (state.intervalCode != kRunMonthly && state.nextRunTime < minute) {
        const int64_t days = (minute - state.nextRunTime) / (24 * 60 * kMinute);
        const int64_t step = state.intervalCode == kRunWeekly ? kDaysInWeek : 1;
        date = date.addDays(days / step * step);
    }
    int64_t next = LocalMoment(date, timeOfDay);
    while (next <= minute) {
        if (state.intervalCode == kRunDaily)
            date = date.addDays(1);
        else if (state.intervalCode == kRunWeekly)
            date = date.addDays(kDaysInWeek);
        else
            date = SameDayNextMonth(date);
        next = LocalMoment(date, timeOfDay);
    }
    state.nextRunTime = next;
}

void PlanRetry(ScheduleState &state, uint32_t &retryCounter, int64_t now) {
    ++retryCounter;
    if (retryCounter > state.retryCount) {
        retryCounter = 0;
        state.retryPending = false;
        return;
    }
    state.retryPending = true;
    AdvanceSchedule(state, Advance::Retry, now);
}

bool IsRetryableError(uint32_t code) {
    return std::find(std::begin(kFinalCodes), std::end(kFinalCodes), code) == std::end(kFinalCodes);
}

OutcomeKind RunOutcomeKind(int32_t state, uint32_t code, uint32_t retriesSoFar, uint32_t retryCount) {
    if (state == kJobFinished) return kOutcomeFinished;
    if (state == kJobCancelled) return kOutcomeCancelled;
    if (retriesSoFar < retryCount && IsRetryableError(code)) return kOutcomeRetryPlanned;
    if (retriesSoFar == retryCount) return kOutcomeRetriesUsedUp;
    return kOutcomeFailed;
}

QString NumberedArchiveName(const QString &target, uint32_t number) {
    const qsizetype dot = target.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot < 0 ? target : target.left(dot);
    return stem + QString::asprintf("_%.3u", number) + QStringLiteral(".zip");
}

uint32_t NextFreeRunNumber(const QString &target, uint32_t planned) {
    // The series' names: the stem, an underscore, three to nine digits, ".zip".
    constexpr qsizetype kLeastDigits = 3, kMostDigits = 9;
    const QFileInfo first(NumberedArchiveName(target, 1));
    const QString name = first.fileName();
    const QString prefix = name.left(name.size() - QStringLiteral("001.zip").size());
    const QString suffix = QStringLiteral(".zip");
    uint64_t next = planned == 0 ? 1 : planned;
    const QStringList entries =
        first.dir().entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        if (!entry.startsWith(prefix) || !entry.endsWith(suffix)) continue;
        const QStringView digits = QStringView(entry).mid(prefix.size(), entry.size() - prefix.size() - suffix.size());
        if (digits.size() < kLeastDigits || digits.size() > kMostDigits) continue;
        if (!std::all_of(digits.begin(), digits.end(), [](QChar c) { return c >= u'0' && c <= u'9'; })) continue;
        next = std::max<uint64_t>(next, digits.toULongLong() + 1);
    }
    // A name that is not of the series' form but still takes the file's
    // place (a link, a folder) is passed over as well.
    const auto taken = [&target](uint64_t number) {
        const QFileInfo file(NumberedArchiveName(target, static_cast<uint32_t>(number)));
        return file.exists() || file.isSymLink();
    };
    while (next <= kMaxRunNumber && taken(next)) ++next;
    return next > kMaxRunNumber ? 0 : static_cast<uint32_t>(next);
}

RetrySettings ParseRetrySettings(const std::optional<std::string> &interval, const std::optional<std::string> &count) {
    RetrySettings settings;
    settings.interval = ReadNumber(interval, 1, kMaxRetryInterval).value_or(kDefaultRetryInterval);
    settings.count = ReadNumber(count, 1, kMaxRetryCount).value_or(kDefaultRetryCount);
    return settings;
}

RetrySettings ReadRetrySettings() {
    const BrdKey key = BrdKey::Open(KEY_READ);
    return ParseRetrySettings(key.Read(kRetryInterval), key.Read(kRetryCount));
}

QString ScheduleTimeText(int64_t t) {
    return QLocale::c().toString(QDateTime::fromSecsSinceEpoch(t, Qt::LocalTime),
                                 QStringLiteral("dddd, MMMM dd, yyyy, HH:mm"));
}

int64_t LocalMoment(const QDate &date, const QTime &time) {
    return QDateTime(date, time, Qt::LocalTime).toSecsSinceEpoch();
}

bool BeyondLastStartDate(const QDate &date) { return date > QDate(2038, 1, 18); }

}  // namespace vtutil
