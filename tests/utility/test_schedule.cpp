// The automatic schedule's arithmetic and its log, without a device or a
// window. Runs in the Europe/Berlin time zone (set by ctest), so that the
// days around a change to daylight saving time are real ones.
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QFile>
#include <QTest>
#include <filesystem>

#include "language.hpp"
#include "schedule.hpp"
#include "temp_dir.hpp"
#include "utility_log.hpp"

using vtutil::Advance;
using vtutil::ScheduleState;

namespace {

int64_t At(int y, int mo, int d, int h, int mi) { return vtutil::LocalMoment(QDate(y, mo, d), QTime(h, mi)); }

QString Shown(int64_t t) { return QDateTime::fromSecsSinceEpoch(t, Qt::LocalTime).toString("yyyy-MM-dd HH:mm"); }

ScheduleState Regular(uint32_t code, int64_t next) {
    ScheduleState s;
    s.intervalCode = code;
    s.nextRunTime = next;
    s.timeOfDay = QDateTime::fromSecsSinceEpoch(next, Qt::LocalTime).time();
    return s;
}

QStringList Lines(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QString text = QString::fromUtf8(file.readAll());
    if (text.endsWith('\n')) text.chop(1);
    return text.split('\n');
}

VTBOX Box(uint32_t number, const char *name) {
    VTBOX box{};
    box.BoxNo = number;
    std::strncpy(box.BoxName, name, sizeof box.BoxName - 1);
    return box;
}

}  // namespace

class ScheduleTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QCOMPARE(QDateTime(QDate(2030, 7, 1), QTime(12, 0)).offsetFromUtc(), 7200);
        QVERIFY(vtutil::Language::Instance().LoadFrom(VTUTIL_PSEUDO_LIBRARY));
    }

    void RegularRunsMoveOnPastThePresent() {
        // Daily, machine off for three days: the missed days are skipped and
        // the time of day is kept.
        ScheduleState daily = Regular(vtutil::kRunDaily, At(2030, 5, 6, 10, 0));
        vtutil::AdvanceSchedule(daily, Advance::Regular, At(2030, 5, 9, 10, 30) + 17);
        QCOMPARE(Shown(daily.nextRunTime), QString("2030-05-10 10:00"));
        // Right after the run in its own minute: the next day.
        daily = Regular(vtutil::kRunDaily, At(2030, 5, 6, 10, 0));
        vtutil::AdvanceSchedule(daily, Advance::Regular, At(2030, 5, 6, 10, 0) + 59);
        QCOMPARE(Shown(daily.nextRunTime), QString("2030-05-07 10:00"));

        // Across the change to summer time (31 March 2030) the hour stays.
        ScheduleState spring = Regular(vtutil::kRunDaily, At(2030, 3, 30, 10, 0));
        vtutil::AdvanceSchedule(spring, Advance::Regular, At(2030, 3, 30, 10, 5));
        QCOMPARE(Shown(spring.nextRunTime), QString("2030-03-31 10:00"));
        QCOMPARE(spring.nextRunTime - At(2030, 3, 30, 10, 0), int64_t(23 * 3600));

        // A time of day that the change skips is run just after the gap,
        // and the day after at its own time again.
        ScheduleState gap = Regular(vtutil::kRunDaily, At(2030, 3, 30, 2, 30));
        vtutil::AdvanceSchedule(gap, Advance::Regular, At(2030, 3, 30, 2, 30));
        QCOMPARE(Shown(gap.nextRunTime), QString("2030-03-31 03:30"));
        vtutil::AdvanceSchedule(gap, Advance::Regular, gap.nextRunTime);
        QCOMPARE(Shown(gap.nextRunTime), QString("2030-04-01 02:30"));

        // Weekly, three weeks and a day missed.
        ScheduleState weekly = Regular(vtutil::kRunWeekly, At(2030, 5, 6, 8, 15));
        vtutil::AdvanceSchedule(weekly, Advance::Regular, At(2030, 5, 28, 9, 0));
        QCOMPARE(Shown(weekly.nextRunTime), QString("2030-06-03 08:15"));

        // Monthly from 31 January: 31 February rolls over into March.
        ScheduleState monthly = Regular(vtutil::kRunMonthly, At(2030, 1, 31, 22, 0));
        vtutil::AdvanceSchedule(monthly, Advance::Regular, At(2030, 1, 31, 22, 0));
        QCOMPARE(Shown(monthly.nextRunTime), QString("2030-03-03 22:00"));
        vtutil::AdvanceSchedule(monthly, Advance::Regular, At(2030, 3, 3, 22, 0));
        QCOMPARE(Shown(monthly.nextRunTime), QString("2030-04-03 22:00"));
        ScheduleState leap = Regular(vtutil::kRunMonthly, At(2032, 1, 31, 22, 0));
        vtutil::AdvanceSchedule(leap, Advance::Regular, At(2032, 1, 31, 22, 0));
        QCOMPARE(Shown(leap.nextRunTime), QString("2032-03-02 22:00"));

        // A single run never comes again; a retry comes its interval after
        // the present minute and leaves the regular run alone.
        ScheduleState once = Regular(vtutil::kRunOnce, At(2030, 5, 6, 10, 0));
        vtutil::AdvanceSchedule(once, Advance::Regular, At(2030, 5, 6, 10, 0));
        QVERIFY(once.nextRunTime < At(1980, 1, 1, 0, 0));
        daily = Regular(vtutil::kRunDaily, At(2030, 5, 6, 10, 0));
        daily.retryInterval = 3;
        vtutil::AdvanceSchedule(daily, Advance::Retry, At(2030, 5, 6, 10, 1) + 42);
        QCOMPARE(Shown(daily.retryTime), QString("2030-05-06 10:04"));
        QCOMPARE(Shown(daily.nextRunTime), QString("2030-05-06 10:00"));
    }

    void MinutesAndRetries() {
        const int64_t t = At(2030, 5, 6, 10, 0);
        QCOMPARE(vtutil::CompareToNow(t, t + 59), 0);
        QCOMPARE(vtutil::CompareToNow(t, t + 60), -1);
        QCOMPARE(vtutil::CompareToNow(t + 60, t + 59), 1);

        // RetryCount 2: two retries planned, then the count starts again and
        // nothing is pending.
        ScheduleState s = Regular(vtutil::kRunDaily, t);
        s.retryCount = 2;
        uint32_t counter = 0;
        vtutil::PlanRetry(s, counter, t);
        QVERIFY(s.retryPending);
        vtutil::PlanRetry(s, counter, t);
        QCOMPARE(counter, 2u);
        vtutil::PlanRetry(s, counter, t);
        QCOMPARE(counter, 0u);
        QVERIFY(!s.retryPending);

        const auto settings = [](const char *interval, const char *count) {
            const auto text = [](const char *v) { return v ? std::optional<std::string>(v) : std::nullopt; };
            const vtutil::RetrySettings r = vtutil::ParseRetrySettings(text(interval), text(count));
            return std::make_pair(r.interval, r.count);
        };
        QCOMPARE(settings(nullptr, nullptr), std::make_pair(5u, 12u));
        QCOMPARE(settings("3", "2"), std::make_pair(3u, 2u));
        QCOMPARE(settings("0", "99"), std::make_pair(1u, 12u));
        QCOMPARE(settings("-4", "4x"), std::make_pair(1u, 12u));
        QCOMPARE(settings("", "99999999999999999999"), std::make_pair(5u, 12u));

        QCOMPARE(vtutil::NumberedArchiveName("/b/Set.Zip", 1), QString("/b/Set_001.zip"));
        QCOMPARE(vtutil::NumberedArchiveName("/b/set.v2.zip", 12), QString("/b/set.v2_012.zip"));
        QVERIFY(!vtutil::BeyondLastStartDate(QDate(2038, 1, 18)));
        QVERIFY(vtutil::BeyondLastStartDate(QDate(2038, 1, 19)));
    }

    // The number of a run's file passes over every number of the series
    // that is on disk, whatever wrote it, and only names of the series count.
    void ARunNumberIsNeverOneOnDisk() {
        vttest::TempDir dir;
        const QString target = QString::fromStdString(dir / "Set.zip");
        const auto make = [&dir](const char *name) {
            QFile(QString::fromStdString(dir / name)).open(QIODevice::WriteOnly);
        };
        QCOMPARE(vtutil::NextFreeRunNumber(target, 1), 1u);
        make("Set_001.zip");
        make("Set_002.zip");
        QCOMPARE(vtutil::NextFreeRunNumber(target, 1), 3u);
        QCOMPARE(vtutil::NextFreeRunNumber(target, 7), 7u);
        // Other case, too few digits, other names: not of the series.
        make("set_050.zip");
        make("Set_60.zip");
        make("Set_070.zip.part");
        make("Set_x080.zip");
        QCOMPARE(vtutil::NextFreeRunNumber(target, 1), 3u);
        std::filesystem::create_directory(dir / "Set_1000.zip");
        QCOMPARE(vtutil::NextFreeRunNumber(target, 1), 1001u);
        // Nine digits at most; a ten-digit name is not one of ours.
        make("Set_0000000001.zip");
        QCOMPARE(vtutil::NextFreeRunNumber(target, 1), 1001u);
        make("Set_999999998.zip");
        QCOMPARE(vtutil::NextFreeRunNumber(target, 1), vtutil::kMaxRunNumber);
        make("Set_999999999.zip");
        QCOMPARE(vtutil::NextFreeRunNumber(target, 1), 0u);
    }

    void TheLogOfASchedule() {
        vttest::TempDir dir;
        const QString path = QString::fromStdString(dir / "state/vtbox/BKRT_Log.txt");
        const VTBOX boxes[] = {Box(1, "Office"), Box(2, "Sales"), Box(3, "Plans")};
        const vtutil::LoggedBoxes chosen{boxes, 3, {1, 3}};
        vtutil::ScheduleFacts facts{"Print room",       "127.0.0.1",           "/b/Set.zip",
                                    vtutil::kRunWeekly, At(2030, 5, 6, 10, 0), 0};
        bool trailerWritten = false;
        {
            vtutil::UtilityLog log(path);
            QVERIFY(log.Empty());
            QVERIFY(log.OpenForAppend());
            log.WriteAutoHeader(facts, chosen);
            log.WriteRunHeading(0);
            log.WriteRunEntry(chosen, {}, "/b/Set_001.zip", At(2030, 5, 6, 10, 0));
            log.WriteSizeLine(1024);
            log.WriteRunHeading(1);
            log.WriteRunEntry({boxes, 3, {1}}, {Box(3, "Plans")}, "/b/Set_002.zip", At(2030, 5, 13, 10, 0));
            log.WriteSizeLine(1025.5);
            log.WriteAutoTrailer(vtutil::kTrailerBoxesDeleted, &trailerWritten, At(2030, 5, 13, 10, 2), 2049.5);
            // The trailer is written once per schedule.
            log.WriteAutoTrailer(vtutil::kTrailerStopped, &trailerWritten, At(2030, 5, 14, 9, 0), 0);
        }
        const QString stars(53, '*');
        const QStringList expected = {stars,
                                      "[151]",
                                      stars,
                                      "[152]",
                                      "[153] Print room",
                                      "[154] 127.0.0.1",
                                      "[21] /b/Set.zip",
                                      "[41] [145]",
                                      "[40] Monday, May 06, 2030, 10:00",
                                      "[155] [149]",
                                      "[161]",
                                      "\t[157] [158]",
                                      "\t" + QString(26, '-'),
                                      "\t001 Office",
                                      "\t003 Plans",
                                      stars,
                                      "[159] 1",
                                      "[160] Monday, May 06, 2030, 10:00",
                                      "[161]",
                                      "\t[157] [158]",
                                      "\t" + QString(26, '-'),
                                      "\t001 Office",
                                      "\t003 Plans",
                                      "[21] /b/Set_001.zip",
                                      "[163] 1024 KB",
                                      "",
                                      QString(53, '-'),
                                      "[159] 2",
                                      "[160] Monday, May 13, 2030, 10:00",
                                      "[161]",
                                      "\t[157] [158]",
                                      "\t" + QString(26, '-'),
                                      "\t001 Office",
                                      "",
                                      "[162]",
                                      "\t[157] [158]",
                                      "\t" + QString(26, '-'),
                                      "\t003 Plans",
                                      "[21] /b/Set_002.zip",
                                      "[163] 1 MB",
                                      stars,
                                      "[168] [166]\n[171] ",
                                      "[169] Monday, May 13, 2030, 10:02",
                                      "[170] 2 MB(s)",
                                      stars};
        QCOMPARE(Lines(path), QString(expected.join('\n')).split('\n'));

        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0600));
        QCOMPARE(::stat((dir / "state/vtbox").c_str(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0700));

        // A total of exactly 1024 KB stays in KB; a schedule that ended
        // well after boxes were deleted says so.
        {
            vtutil::UtilityLog log(path);
            log.Empty();
            log.OpenForAppend();
            bool written = false;
            log.WriteAutoTrailer(vtutil::kTrailerFinishedBoxesDeleted, &written, At(2030, 5, 13, 10, 2), 1024.9);
        }
        QCOMPARE(Lines(path).mid(1, 4),
                 QStringList({"[168] [164]", "[171] ", "[169] Monday, May 13, 2030, 10:02", "[170] 1024 KB(s)"}));
    }

    void TheLogNeverFollowsALink() {
        vttest::TempDir dir;
        const std::string folder = dir / "vtbox";
        QVERIFY(::mkdir(folder.c_str(), 0700) == 0);
        const std::string victim = dir / "victim.txt";
        {
            QFile f(QString::fromStdString(victim));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("keep me\n");
        }
        QVERIFY(::symlink(victim.c_str(), (folder + "/BKRT_Log.txt").c_str()) == 0);
        vtutil::UtilityLog log(QString::fromStdString(folder + "/BKRT_Log.txt"));
        QVERIFY(!log.Empty());
        QVERIFY(!log.OpenForAppend());
        log.WriteLine("planted");
        QCOMPARE(Lines(QString::fromStdString(victim)), QStringList{"keep me"});

        // A folder that others may enter is made private again.
        const std::string open = dir / "open";
        QVERIFY(::mkdir(open.c_str(), 0755) == 0);
        vtutil::UtilityLog shared(QString::fromStdString(open + "/BKRT_Log.txt"));
        QVERIFY(shared.OpenForAppend());
        struct stat st {};
        QCOMPARE(::stat(open.c_str(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0700));
    }

    void WithoutALanguageOnlyTheFixedLinesAreWritten() {
        vttest::TempDir dir;
        const QString path = QString::fromStdString(dir / "BKRT_Log.txt");
        vtutil::Language::Instance().Unload();
        {
            vtutil::UtilityLog log(path);
            log.Empty();
            log.OpenForAppend();
            log.WriteAutoHeader({}, {});
            log.WriteRunHeading(1);
            bool written = false;
            log.WriteAutoTrailer(vtutil::kTrailerStopped, &written, 0, 0);
            QVERIFY(written);
        }
        QCOMPARE(Lines(path), QStringList({"", QString(53, '-'), " 2"}));
        QVERIFY(vtutil::Language::Instance().LoadFrom(VTUTIL_PSEUDO_LIBRARY));
    }
};

QTEST_GUILESS_MAIN(ScheduleTest)
#include "test_schedule.moc"
