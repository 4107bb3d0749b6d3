// Automatic backup handed to the system: the units the program writes (as
// systemd reads them), the run they make (vtbox against the simulated device,
// numbering after the files already there), and showing and removing it.
#include <sys/stat.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QTimeEdit>
#include <filesystem>
#include <fstream>
#include <functional>

#include "auto_backup_dlg.hpp"
#include "backup_page.hpp"
#include "backup_restore_dlg.hpp"
#include "clock.hpp"
#include "language.hpp"
#include "modal_answerer.hpp"
#include "schedule.hpp"
#include "system_schedule.hpp"
#include "system_schedule_dlg.hpp"
#include "utility_fixture.hpp"

using vtutil::CBackupRestoreDlg;

namespace {

namespace fs = std::filesystem;

// The words of a unit file's command line or Environment= setting, read the
// way systemd reads them: quotes, C escapes, "%%" and (in commands) "$$".
QStringList UnitWords(const QString &line, bool command) {
    QStringList words;
    QString word;
    bool quoted = false, inWord = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (!quoted && c == ' ') {
            if (inWord) words << word;
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == '"') {
            quoted = !quoted;
        } else if (c == '\\' && i + 1 < line.size()) {
            word += line.at(++i);
        } else if ((c == '%' || (command && c == '$')) && i + 1 < line.size() && line.at(i + 1) == c) {
            word += c;
            ++i;
        } else {
            word += c;
        }
    }
    if (inWord) words << word;
    return words;
}

QString Setting(const QString &unit, const QString &key) {
    for (const QString &line : unit.split('\n'))
        if (line.startsWith(key + "=")) return line.mid(key.size() + 1);
    return {};
}

QString ReadText(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// A stand-in for systemctl: notes its arguments, a line a call, and exits
// with the given code after saying something.
QString FakeSystemctl(const vttest::TempDir &dir, int exitCode) {
    const std::string path = dir / ("systemctl-" + std::to_string(exitCode));
    std::ofstream(path) << "#!/bin/sh\necho \"$*\" >> '" << (dir / "systemctl.calls") << "'\n"
                        << "case \"$*\" in *show*) echo 'Tue 2030-05-07 10:00:00 CEST'; exit 0;; esac\n"
                        << "echo 'Failed to connect to bus: No medium found' >&2\nexit " << exitCode << "\n";
    fs::permissions(path, fs::perms::owner_all);
    return QString::fromStdString(path);
}

class FixedClock final : public vtutil::Clock {
public:
    int64_t Now() const override { return now; }
    int64_t now = 0;
};

struct Handed {
    Handed() : config("XDG_CONFIG_HOME", device.sim.dir / "config"), window(device.app, device.session) {
        vtutil::ReplaceClock(&clock);
        device.Login();
        window.RefreshPages();
        window.show();
        fs::create_directories(device.sim.dir / "b");
        target = device.sim.dir / "b/Set.zip";
        window.BackupPage()->TargetEdit()->setText(QString::fromStdString(target));
        vtutil::SetVtboxProgram(VTUTIL_VTBOX_PROGRAM);
    }
    ~Handed() {
        vtutil::ReplaceClock(nullptr);
        vtutil::SetVtboxProgram(QString());
        vtutil::SetSystemctlProgram(QString());
    }

    // The set-up window, as a user fills it in to hand the schedule over;
    // answer is the message that follows (after Yes to replacing the
    // installed one when replacing).
    void HandOver(int64_t start, int repeat, std::function<void(QMessageBox *)> answer, bool replacing = false) {
        const QDateTime when = QDateTime::fromSecsSinceEpoch(start, Qt::LocalTime);
        answerer.OnDialog<vtutil::CAutoBackupDlg>([=](vtutil::CAutoBackupDlg *dlg) {
            dlg->DateEdit()->setDate(when.date());
            dlg->TimeEdit()->setTime(when.time());
            dlg->RepeatList()->setCurrentIndex(repeat);
            QVERIFY(dlg->ProgramClosedBox()->isEnabled());
            // The window shows what will happen: who runs it, and that a
            // deleted box stops it; clearing the box brings the user's choice back.
            QCOMPARE(dlg->WhereLabel()->text(), QString("[519]"));
            QVERIFY(dlg->GoOnButton()->isChecked());
            dlg->ProgramClosedBox()->setChecked(true);
            QCOMPARE(dlg->WhereLabel()->text(), QString("[551]"));
            QVERIFY(dlg->StopButton()->isChecked() && !dlg->StopButton()->isEnabled());
            dlg->ProgramClosedBox()->setChecked(false);
            QVERIFY(dlg->GoOnButton()->isChecked() && dlg->GoOnButton()->isEnabled());
            dlg->ProgramClosedBox()->setChecked(true);
            vttest::Later([dlg] { dlg->SetButton()->click(); });
        });
        if (replacing) answerer.AnswerMessage(QMessageBox::Yes);
        answerer.AnswerMessage(QMessageBox::Ok, std::move(answer));
        window.Action(CBackupRestoreDlg::Command::AutomaticBackup)->trigger();
    }

    QStringList Calls() const {
        return ReadText(QString::fromStdString(device.sim.dir / "systemctl.calls")).split('\n', Qt::SkipEmptyParts);
    }
    QString Unit(const char *suffix) const {
        return ReadText(vtutil::UserUnitFolder() + "/vtbox-utility-backup" + suffix);
    }

    vttest::UtilityDevice device;
    vttest::ScopedEnv config;
    FixedClock clock;
    CBackupRestoreDlg window;
    vttest::ModalAnswerer answerer;
    std::string target;
};

}  // namespace

class SystemScheduleTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(vtutil::Language::Instance().LoadFrom(VTUTIL_PSEUDO_LIBRARY)); }

    void AHandedScheduleRunsVtboxAsTheProgramWould() {
        Handed h;
        vtutil::SetSystemctlProgram(FakeSystemctl(h.device.sim.dir, 0));
        // A schedule of the program's own wrote these before.
        for (const char *name : {"b/Set_001.zip", "b/Set_002.zip"}) std::ofstream(h.device.sim.dir / name) << "kept";
        const int64_t start = vtutil::LocalMoment(QDate(2030, 5, 6), QTime(10, 0));
        h.clock.now = start - 3600;
        h.HandOver(start, 1, [](QMessageBox *box) { QVERIFY(box->text().startsWith("[525]")); });
        QVERIFY(h.answerer.Done());
        QVERIFY(h.answerer.Unexpected().isEmpty());
        QVERIFY(!h.window.AutoMode());
        QCOMPARE(h.Calls(), QStringList({"--user daemon-reload", "--user enable --now vtbox-utility-backup.timer"}));

        const QString service = h.Unit(".service"), timer = h.Unit(".timer");
        QCOMPARE(Setting(timer, "OnCalendar"), QString("*-*-* 10:00:00"));
        QCOMPARE(Setting(timer, "Persistent"), QString("false"));
        QCOMPARE(Setting(service, "StartLimitBurst"), QString("13"));
        QCOMPARE(Setting(service, "RestartSec"), QString("5min"));
        // Its own log: the program's schedules' log is not touched.
        const QString log = QString::fromStdString(h.device.sim.dir / "state/vtbox/BKRT_Log_ProgramClosed.txt");
        QCOMPARE(Setting(service, "StandardOutput"), "append:" + log);
        QVERIFY(ReadText(log).startsWith(QString(53, '*') + "\n[151]\n"));
        QVERIFY(!fs::exists(h.device.sim.dir / "state/vtbox/BKRT_Log.txt"));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(vtutil::SchedulePasswordFile()).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u);
        QCOMPARE(ReadText(vtutil::SchedulePasswordFile()), QString("admin\n"));

        // systemd itself takes both units.
        const QString analyze = QStandardPaths::findExecutable("systemd-analyze");
        if (!analyze.isEmpty()) {
            QProcess verify;
            verify.setProcessChannelMode(QProcess::MergedChannels);
            verify.start(analyze, {"verify", "--man=no", vtutil::UserUnitFolder() + "/vtbox-utility-backup.timer",
                                   vtutil::UserUnitFolder() + "/vtbox-utility-backup.service"});
            QVERIFY(verify.waitForFinished(60000));
            QVERIFY2(verify.exitCode() == 0, verify.readAll().constData());
        }

        // The run, as the service starts it: vtbox numbers after the files
        // already there and keeps them.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString &assignment : UnitWords(Setting(service, "Environment"), false))
            env.insert(assignment.section('=', 0, 0), assignment.section('=', 1));
        const QStringList command = UnitWords(Setting(service, "ExecStart"), true);
        // Its lines in the log, as the service writes them: the start, what
        // vtbox says (no progress lines), the outcome.
        const auto step = [&](const char *key, const QProcessEnvironment &with) {
            const QStringList words = UnitWords(Setting(service, key), true);
            QProcess process;
            process.setProcessEnvironment(with);
            process.setStandardOutputFile(log, QIODevice::Append);
            process.setStandardErrorFile(log, QIODevice::Append);
            process.start(words.first(), words.mid(1));
            return process.waitForFinished(120000) ? process.exitCode() : -1;
        };
        const qsizetype headerLines = ReadText(log).count('\n');
        QCOMPARE(step("ExecStartPre", env), 0);
        QCOMPARE(step("ExecStart", env), 0);
        env.insert("SERVICE_RESULT", "success");
        QCOMPARE(step("ExecStopPost", env), 0);
        const QStringList runLines = ReadText(log).split('\n').mid(headerLines);
        QVERIFY2(runLines.size() <= 6 && runLines.contains("[164]"), qPrintable(runLines.join('|')));
        const vtutil::LastRun last = vtutil::ReadLastRun(log, "[160]", "[164]", "[166]");
        QCOMPARE(last.outcome, QString("[164]"));
        QCOMPARE(last.file, QString::fromStdString(h.device.sim.dir / "b/Set_003.zip"));
        QVERIFY(last.when.contains(", 20"));
        QVERIFY(fs::exists(h.device.sim.dir / "b/Set_003.zip"));
        for (const char *name : {"b/Set_001.zip", "b/Set_002.zip"})
            QCOMPARE(ReadText(QString::fromStdString(h.device.sim.dir / name)), QString("kept"));
        // A run's heading, with the log's label and time form.
        const QStringList pre = UnitWords(Setting(service, "ExecStartPre"), true);
        QProcess date;
        date.start(pre.first(), pre.mid(1));
        QVERIFY(date.waitForFinished(10000));
        QVERIFY(QString::fromUtf8(date.readAll()).startsWith("\n[160] "));
        // Runs before the first are passed over.
        const QStringList condition = UnitWords(Setting(service, "ExecCondition"), true);
        QCOMPARE(condition.mid(0, 2), QStringList({"/bin/sh", "-c"}));
        QCOMPARE(QProcess::execute(condition[0], condition.mid(1)), 1);

        // Shown, then removed, from its own window.
        QString runs;
        // Remove asks first: No keeps it, Yes removes it. Each click goes
        // through Later so that the question is answered by the next step.
        h.answerer.OnDialog<vtutil::CSystemScheduleDlg>([&runs](vtutil::CSystemScheduleDlg *dlg) {
            runs = dlg->RunsLabel()->text();
            QVERIFY(dlg->DescriptionLabel()->text().startsWith("[529]"));
            vttest::Later([dlg] { dlg->RemoveButton()->click(); });
        });
        h.answerer.AnswerMessage(QMessageBox::No, [](QMessageBox *box) { QCOMPARE(box->text(), QString("[557]")); });
        h.answerer.OnDialog<vtutil::CSystemScheduleDlg>([&h](vtutil::CSystemScheduleDlg *dlg) {
            QVERIFY(!h.Unit(".timer").isEmpty());
            vttest::Later([dlg] { dlg->RemoveButton()->click(); });
        });
        h.answerer.AnswerMessage(QMessageBox::Yes);
        h.answerer.OnDialog<vtutil::CSystemScheduleDlg>([&h](vtutil::CSystemScheduleDlg *dlg) {
            QCOMPARE(dlg->DescriptionLabel()->text(), QString("[528]"));
            QVERIFY(!dlg->RemoveButton()->isEnabled());
            QVERIFY(h.Unit(".timer").isEmpty());
            QVERIFY(!QFile::exists(vtutil::SchedulePasswordFile()));
            vttest::Later([dlg] { dlg->reject(); });
        });
        h.window.Action(CBackupRestoreDlg::Command::SystemSchedule)->trigger();
        QVERIFY(h.answerer.Done());
        QVERIFY(h.Calls().contains("--user disable --now vtbox-utility-backup.timer"));
        // Its last run from its log, its next from systemd.
        QCOMPARE(runs, QString("[553]\n[413]\n[555]"));
    }

    // Names with blanks, quotes, backslashes, '%' and '$' reach vtbox as
    // they were typed.
    void AwkwardNamesSurviveTheUnitFile() {
        vtutil::SystemSchedule s;
        s.deviceAddress = "printer.example";
        s.boxes = {1, 12};
        s.target = R"(/srv/back ups/a "b" c\d 100% $HOME.zip)";
        s.intervalCode = vtutil::kRunWeekly;
        s.start = vtutil::LocalMoment(QDate(2030, 5, 8), QTime(21, 30));
        s.logPath = "/var/log/x%y.txt";
        s.description = "100% sure";
        s.startedLabel = "Started: 50%";
        const QString unit = vtutil::ServiceUnitText(s, "/opt/vt box/vtbox", "/home/u/.config/vtbox/p");
        QCOMPARE(UnitWords(Setting(unit, "ExecStart"), true),
                 QStringList({"/opt/vt box/vtbox", "backup", "--no-progress", "--boxes", "1,12", "--output",
                              R"(/srv/back ups/a "b" c\d 100%% $HOME_%N.zip)"}));
        QCOMPARE(Setting(unit, "Description"), QString("100%% sure"));
        QCOMPARE(Setting(unit, "StandardError"), QString("append:/var/log/x%%y.txt"));
        QCOMPARE(UnitWords(Setting(unit, "ExecStartPre"), true).last(),
                 QString("+%nStarted: 50%% %A, %B %d, %Y, %H:%M"));
        QCOMPARE(vtutil::CalendarEvents(vtutil::kRunWeekly, s.start), QStringList("Wed *-*-* 21:30:00"));
        QCOMPARE(vtutil::CalendarEvents(vtutil::kRunMonthly, s.start), QStringList("*-*-08 21:30:00"));
        QCOMPARE(vtutil::CalendarEvents(vtutil::kRunOnce, s.start), QStringList("2030-05-08 21:30:00"));
        // A line break would end the setting and start another.
        s.target = "/srv/a.zip\nExecStartPost=/bin/rm -rf /";
        QString detail;
        vtutil::SetVtboxProgram("/bin/true");
        vtutil::SetSystemctlProgram("/bin/true");
        vttest::TempDir dir;
        vttest::ScopedEnv config("XDG_CONFIG_HOME", dir / "config");
        QCOMPARE(vtutil::InstallSystemSchedule(s, "pw", &detail), uint32_t(VTBOX_E_INVALID_PARAMETER));
        QVERIFY(!fs::exists(dir / "config/systemd/user/vtbox-utility-backup.service"));
        vtutil::SetVtboxProgram(QString());
        vtutil::SetSystemctlProgram(QString());
    }

    // Monthly on the 29th, 30th or 31st: the timer runs on the days the
    // program's own schedule does, rolling over where a month lacks the day,
    // as systemd itself reads the timer's events.
    void AMonthlyTimerRunsOnTheProgramsDays() {
        const QString analyze = QStandardPaths::findExecutable("systemd-analyze");
        const auto form = [](int64_t t) {
            return QDateTime::fromSecsSinceEpoch(t, Qt::LocalTime).toString("yyyy-MM-dd HH:mm");
        };
        for (const QDate &first : {QDate(2032, 11, 29), QDate(2031, 12, 30), QDate(2031, 1, 31), QDate(2031, 5, 31)}) {
            const int64_t start = vtutil::LocalMoment(first, QTime(22, 0));
            vtutil::ScheduleState state;
            state.intervalCode = vtutil::kRunMonthly;
            state.nextRunTime = start;
            state.timeOfDay = QTime(22, 0);
            QStringList program;
            for (int run = 0; run < 10; ++run) {
                program << form(state.nextRunTime);
                vtutil::AdvanceSchedule(state, vtutil::Advance::Regular, state.nextRunTime);
            }
            if (first == QDate(2031, 1, 31))
                QCOMPARE(program.mid(0, 3), QStringList({"2031-01-31 22:00", "2031-03-03 22:00", "2031-04-03 22:00"}));
            if (first == QDate(2031, 12, 30)) QCOMPARE(program.at(2), QString("2032-03-01 22:00"));
            if (analyze.isEmpty()) continue;
            QProcess calendar;
            calendar.start(analyze, QStringList{"calendar", "--iterations=10"} +
                                        vtutil::CalendarEvents(vtutil::kRunMonthly, start));
            QVERIFY(calendar.waitForFinished(60000));
            const QString out = QString::fromUtf8(calendar.readAll());
            QVERIFY2(calendar.exitCode() == 0, qPrintable(out));
            QStringList timer;
            const QRegularExpression elapse(R"((?:Next elapse|Iter\. #\d+): \w+ (\d{4}-\d\d-\d\d \d\d:\d\d))");
            for (auto it = elapse.globalMatch(out); it.hasNext();) timer << it.next().captured(1);
            timer.sort();
            timer.removeDuplicates();
            QCOMPARE(timer.mid(0, 10), program);
        }
        if (analyze.isEmpty()) QSKIP("systemd-analyze is not on this computer: the program's days only");
    }

    // Nothing planted at the password's name receives it or holds the
    // program: a link, a hard link, a FIFO; a linked folder is not made
    // private through the link. A FIFO at a unit's name is not waited on.
    void ThePasswordFileIsAlwaysMadeNew() {
        vtutil::SystemSchedule s;
        s.deviceAddress = "printer.example";
        s.boxes = {1};
        s.target = "/srv/a.zip";
        s.intervalCode = vtutil::kRunDaily;
        s.start = vtutil::LocalMoment(QDate(2030, 5, 8), QTime(21, 30));
        s.logPath = "/var/log/a.txt";
        vtutil::SetVtboxProgram("/bin/true");
        vtutil::SetSystemctlProgram("/bin/true");
        vttest::TempDir dir;
        vttest::ScopedEnv config("XDG_CONFIG_HOME", dir / "config");
        const std::string elsewhere = dir / "elsewhere";
        fs::create_directories(elsewhere);
        fs::permissions(elsewhere, fs::perms(0755));
        fs::create_directories(dir / "config");
        fs::create_directory_symlink(elsewhere, dir / "config/vtbox");
        QString detail;
        QCOMPARE(vtutil::InstallSystemSchedule(s, "pw", &detail), uint32_t(VTBOX_E_ACCESS_DENIED));
        QCOMPARE(fs::status(elsewhere).permissions(), fs::perms(0755));
        QVERIFY(fs::is_empty(elsewhere));

        fs::remove(dir / "config/vtbox");
        fs::create_directories(dir / "config/vtbox");
        const std::string password = QFile::encodeName(vtutil::SchedulePasswordFile()).toStdString();
        const std::string other = dir / "other";
        const auto plant = [&](int kind) {
            fs::remove(password);
            std::ofstream(other, std::ios::trunc) << "notes\n";
            if (kind == 0) fs::create_hard_link(other, password);
            if (kind == 1) fs::create_symlink(other, password);
            if (kind == 2) QCOMPARE(::mkfifo(password.c_str(), 0600), 0);
        };
        for (int kind : {0, 1, 2}) {
            plant(kind);
            QCOMPARE(vtutil::InstallSystemSchedule(s, "pw", &detail), 0u);
            QCOMPARE(ReadText(QString::fromStdString(other)), QString("notes\n"));
            QVERIFY(fs::is_regular_file(fs::symlink_status(password)));
            QCOMPARE(ReadText(vtutil::SchedulePasswordFile()), QString("pw\n"));
            struct stat st {};
            QCOMPARE(::stat(password.c_str(), &st), 0);
            QCOMPARE(st.st_mode & 0777, 0600u);
            QCOMPARE(st.st_nlink, nlink_t(1));
        }
        QCOMPARE(fs::status(dir / "config/vtbox").permissions(), fs::perms(0700));

        const std::string timer =
            QFile::encodeName(vtutil::UserUnitFolder()).toStdString() + "/vtbox-utility-backup.timer";
        fs::remove(timer);
        QCOMPARE(::mkfifo(timer.c_str(), 0600), 0);
        QCOMPARE(vtutil::InstalledSystemSchedule(), std::optional<QString>(QString()));
        vtutil::RemoveSystemSchedule(&detail);
        QVERIFY(!vtutil::InstalledSystemSchedule());
        vtutil::SetVtboxProgram(QString());
        vtutil::SetSystemctlProgram(QString());
    }

    // A service manager that cannot be reached: the program says so, with
    // systemctl's words behind Show Details, and leaves no file behind.
    void WithoutAServiceManagerNothingIsLeft() {
        Handed h;
        vtutil::SetSystemctlProgram(FakeSystemctl(h.device.sim.dir, 1));
        const int64_t start = vtutil::LocalMoment(QDate(2030, 5, 6), QTime(10, 0));
        h.clock.now = start - 3600;
        h.HandOver(start, 0, [](QMessageBox *box) {
            QCOMPARE(box->text(), QString("[526]"));
            QVERIFY(box->detailedText().contains("Failed to connect to bus"));
        });
        QVERIFY(h.answerer.Done());
        QVERIFY(h.Unit(".service").isEmpty());
        QVERIFY(h.Unit(".timer").isEmpty());
        QVERIFY(!QFile::exists(vtutil::SchedulePasswordFile()));
        QVERIFY(!h.window.AutoMode());

        // A schedule that is there stays whole when its replacement fails,
        // and the message says so.
        vtutil::SetSystemctlProgram(FakeSystemctl(h.device.sim.dir, 0));
        h.HandOver(start, 1, [](QMessageBox *) {});
        const QString timer = h.Unit(".timer"), service = h.Unit(".service");
        QVERIFY(!timer.isEmpty());
        vtutil::SetSystemctlProgram(FakeSystemctl(h.device.sim.dir, 1));
        h.device.session.SetPassword("other");
        h.HandOver(
            start + 86400, 3, [](QMessageBox *box) { QCOMPARE(box->text(), QString("[552]")); }, true);
        QVERIFY(h.answerer.Done());
        QCOMPARE(h.Unit(".timer"), timer);
        QCOMPARE(h.Unit(".service"), service);
        QCOMPARE(ReadText(vtutil::SchedulePasswordFile()), QString("admin\n"));
    }
};

QTEST_MAIN(SystemScheduleTest)
#include "test_system_schedule.moc"
