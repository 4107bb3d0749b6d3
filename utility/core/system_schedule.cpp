#include "system_schedule.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "log_path.hpp"
#include "schedule.hpp"
#include "vtplatform/local_file.hpp"
#include "vtresult.h"

namespace vtutil {

namespace {

// How long systemctl may take to answer one request.
constexpr int kSystemctlWaitMs = 30000;
// The most of a timer unit that is read back for its description: far more
// than the program ever writes; a larger file is none of its units.
constexpr size_t kUnitReadBytes = 64 * 1024;
// A new password file's temporary name is random; a clash with a name that
// is there already is tried again this often before the write fails.
constexpr int kPartNameAttempts = 16;
// Retries of one run end well before the next run of a daily schedule; the
// service manager counts the run and its retries within this time.
constexpr const char *kRetryWindow = "23h";
// vtbox's exit codes that another try cannot change: usage (2), written but
// not released (3), wrong password (4), box not found (7), damaged file
// (8), local disk or file (9), nothing to back up (11), and a stop (130, 143).
constexpr const char *kFinalExitCodes = "2 3 4 7 8 9 11 130 143";
// The last line of a run in the log: the outcome, as the program's runs
// write it; a run passed over before its start (the condition) writes none.
constexpr const char *kOutcomeLine =
    "if [ \"$SERVICE_RESULT\" = success ]; then echo \"$1\"; "
    "elif [ \"$SERVICE_RESULT\" != exec-condition ]; then echo \"$2 ($EXIT_CODE $EXIT_STATUS)\"; fi";
// The most of the schedule's log read for its last run: years of runs.
constexpr size_t kLogReadBytes = 4 * 1024 * 1024;
// The most of systemctl's answer kept: one timestamp.
constexpr qsizetype kShowReadBytes = 256;
// Every month has the days up to the 28th; a monthly schedule on a later day
// rolls over in the months that lack it.
constexpr int kDaysEveryMonthHas = 28;
// The last year systemd's calendar events name.
constexpr int kLastCalendarYear = 2199;

QString &VtboxOverride() {
    static QString path;
    return path;
}
QString &SystemctlOverride() {
    static QString path;
    return path;
}

QString ConfigHome() {
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    return QDir::isAbsolutePath(config) ? config : QDir::homePath() + QStringLiteral("/.config");
}

QString UnitPath(const char *suffix) {
    return QDir(UserUnitFolder()).filePath(QLatin1String(kSystemScheduleUnit) + QLatin1String(suffix));
}

// A value written into a unit file must stay on its line.
bool HasControlCharacter(const QString &text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
}

// '%' is a specifier everywhere in a unit file.
QString Specifiers(const QString &text) {
    QString out = text;
    return out.replace(QLatin1Char('%'), QStringLiteral("%%"));
}

// A word of an Environment= line: quoted, C escapes; no '$' expansion there.
QString EnvironmentWord(const QString &value) {
    QString out = QStringLiteral("\"");
    for (QChar c : value) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('"')) out += QLatin1Char('\\');
        out += c == QLatin1Char('%') ? QStringLiteral("%%") : QString(c);
    }
    return out + QLatin1Char('"');
}

QString CommandLine(const QString &program, const QStringList &arguments) {
    QStringList words{UnitWord(program)};
    for (const QString &argument : arguments) words << UnitWord(argument);
    return words.join(QLatin1Char(' '));
}

bool RunSystemctl(const QStringList &arguments, QString *detail) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(SystemctlProgram(), QStringList{QStringLiteral("--user")} + arguments);
    if (!process.waitForStarted(kSystemctlWaitMs)) {
        *detail = process.errorString();
        return false;
    }
    if (!process.waitForFinished(kSystemctlWaitMs)) {
        process.kill();
        process.waitForFinished();
        *detail = QStringLiteral("systemctl --user %1: no answer within %2 s")
                      .arg(arguments.join(QLatin1Char(' ')))
                      .arg(kSystemctlWaitMs / 1000);
        return false;
    }
    const QString said = QString::fromLocal8Bit(process.readAll()).trimmed();
    if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0) return true;
    *detail = QStringLiteral("systemctl --user %1: %2").arg(arguments.join(QLatin1Char(' ')), said);
    return false;
}

// The password for vtbox: a file of this user alone, in a folder of this
// user alone. It is always made new under a name of its own and then put in
// place, so that nothing planted at its name (a link to another file, a
// hard link that another user can read, a FIFO) receives the password or
// holds the program; and the folder is opened without following a link
// before its mode is changed.
bool WritePasswordFile(const QString &path, const std::string &password, QString *detail) {
    const QFileInfo info(path);
    const QString folderPath = info.absolutePath();
    const auto fail = [&](const QString &what, int err) {
        *detail = what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(err));
        return false;
    };
    QDir().mkpath(folderPath);
    const int dir = ::open(QFile::encodeName(folderPath).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0 && errno == ELOOP) {
        *detail = folderPath + QStringLiteral(": a symbolic link; the password is not written through it");
        return false;
    }
    if (dir < 0) return fail(folderPath, errno);
    struct stat st {};
    if (::fstat(dir, &st) != 0) {
        const int err = errno;
        ::close(dir);
        return fail(folderPath, err);
    }
    if (st.st_uid != ::geteuid()) {
        ::close(dir);
        *detail = folderPath + QStringLiteral(": belongs to another user");
        return false;
    }
    if ((st.st_mode & 077) != 0 && ::fchmod(dir, 0700) != 0) {
        const int err = errno;
        ::close(dir);
        return fail(folderPath, err);
    }
    const QByteArray name = QFile::encodeName(info.fileName());
    QByteArray part;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < kPartNameAttempts; ++attempt) {
        part = "." + name + "." + QByteArray::number(QRandomGenerator::system()->generate(), 36) + ".part";
        fd = ::openat(dir, part.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        const int err = errno;
        ::close(dir);
        return fail(path, err);
    }
    const std::string line = password + "\n";
    bool written = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) && ::fsync(fd) == 0;
    int err = errno;
    written = ::close(fd) == 0 && written;
    if (written && ::renameat(dir, part.constData(), dir, name.constData()) != 0) {
        written = false;
        err = errno;
    }
    if (!written) ::unlinkat(dir, part.constData(), 0);
    ::close(dir);
    if (!written) return fail(path, err);
    return true;
}

bool WriteUnit(const QString &path, const QString &text, QString *detail) {
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) >= 0 && file.commit()) return true;
    *detail = path + QStringLiteral(": ") + file.errorString();
    return false;
}

// The files of the schedule installed before, kept while a new one is put in
// place: a failure puts them back.
struct InstalledFiles {
    std::optional<std::string> timer, service, password;
};

std::optional<std::string> ReadIfThere(const QString &path) {
    std::string text, error;
    if (!vt::ReadLocalFile(QFile::encodeName(path).toStdString(), kUnitReadBytes, vt::LinkRule::Refuse, &text, &error))
        return std::nullopt;
    return text;
}

bool WriteBack(const QString &path, const std::string &text) {
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text.data(), static_cast<qint64>(text.size())) >= 0 &&
           file.commit();
}

void RemoveFiles() {
    QFile::remove(UnitPath(".timer"));
    QFile::remove(UnitPath(".service"));
    QFile::remove(SchedulePasswordFile());
}

}  // namespace

QString UnitWord(const QString &value) {
    QString out = QStringLiteral("\"");
    for (QChar c : value) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('"'))
            out += QLatin1Char('\\') + QString(c);
        else if (c == QLatin1Char('%'))
            out += QStringLiteral("%%");
        else if (c == QLatin1Char('$'))
            out += QStringLiteral("$$");
        else
            out += c;
    }
    return out + QLatin1Char('"');
}

ScheduledCommand ScheduledBackupCommand(const SystemSchedule &schedule, const QString &vtbox,
                                        const QString &passwordFile) {
    ScheduledCommand command;
    command.program = vtbox;
    QStringList boxes;
    for (uint32_t box : schedule.boxes) boxes << QString::number(box);
    // vtbox's %N numbers the files as automatic backup does: "set.zip"
    // gives set_001.zip, set_002.zip, ...; a '%' of the name stays one.
    const QString first = NumberedArchiveName(schedule.target, 1);
    const QString stem = first.left(first.size() - QStringLiteral("001.zip").size());
    QString output = stem;
    output.replace(QLatin1Char('%'), QStringLiteral("%%"));
    // The log takes a run's result, not its progress on the way.
    command.arguments = {QStringLiteral("backup"),   QStringLiteral("--no-progress"),
                         QStringLiteral("--boxes"),  boxes.join(QLatin1Char(',')),
                         QStringLiteral("--output"), output + QStringLiteral("%N.zip")};
    command.environment[QStringLiteral("VTBOX_HOST")] = schedule.deviceAddress;
    command.environment[QStringLiteral("VTBOX_PORT")] = QString::number(schedule.httpPort);
    if (schedule.ftpPort) command.environment[QStringLiteral("VTBOX_FTP_PORT")] = QString::number(*schedule.ftpPort);
    command.environment[QStringLiteral("VTBOX_PASSWORD_FILE")] = passwordFile;
    return command;
}

QStringList CalendarEvents(uint32_t intervalCode, int64_t start) {
    const QDateTime when = QDateTime::fromSecsSinceEpoch(start, Qt::LocalTime);
    const QLocale c = QLocale::c();
    const QString time = c.toString(when.time(), QStringLiteral("HH:mm:00"));
    const QDate first = when.date();
    switch (intervalCode) {
    case kRunDaily: return {QStringLiteral("*-*-* ") + time};
    case kRunWeekly: return {c.toString(first, QStringLiteral("ddd")) + QStringLiteral(" *-*-* ") + time};
    case kRunMonthly: break;
    default: return {c.toString(first, QStringLiteral("yyyy-MM-dd ")) + time};
    }
    const auto day = [](int d) { return QStringLiteral("%1").arg(d, 2, 10, QLatin1Char('0')); };
    if (first.day() <= kDaysEveryMonthHas) return {QStringLiteral("*-*-") + day(first.day()) + QLatin1Char(' ') + time};
    // The program's schedule keeps the start's day until a month lacks it,
    // rolls over into the next month, and keeps the day it rolled over to
    // from then on: the months up to the roll-over, by year, then that day.
    const auto months = [&day](int from, int to) {
        return from == to ? day(from) : day(from) + QStringLiteral("..") + day(to);
    };
    QStringList events;
    QDate month(first.year(), first.month(), 1);
    for (;;) {
        int to = month.month();
        while (to < 12 && QDate(month.year(), to + 1, 1).daysInMonth() >= first.day()) ++to;
        events << QStringLiteral("%1-%2-%3 ").arg(month.year()).arg(months(month.month(), to), day(first.day())) + time;
        // Every January has the day: a year that ends with it goes on.
        month = to < 12 ? QDate(month.year(), to + 1, 1) : QDate(month.year() + 1, 1, 1);
        if (to < 12) break;
    }
    // month lacks the day: the run rolls over into the next.
    const QDate rolled = month.addDays(first.day() - 1);
    events << QStringLiteral("%1-%2-%3 ").arg(rolled.year()).arg(months(rolled.month(), 12), day(rolled.day())) + time;
    events << QStringLiteral("%1..%2-*-%3 ").arg(rolled.year() + 1).arg(kLastCalendarYear).arg(day(rolled.day())) +
                  time;
    return events;
}

QString ServiceUnitText(const SystemSchedule &schedule, const QString &vtbox, const QString &passwordFile) {
    const ScheduledCommand command = ScheduledBackupCommand(schedule, vtbox, passwordFile);
    QStringList environment{EnvironmentWord(QStringLiteral("LC_ALL=C"))};
    for (const auto &[name, value] : command.environment)
        environment << EnvironmentWord(name + QLatin1Char('=') + value);
    QString label = schedule.startedLabel;
    label.replace(QLatin1Char('%'), QStringLiteral("%%"));  // date's own fields
    const QString startedLine = QStringLiteral("+%n") + label + QStringLiteral(" %A, %B %d, %Y, %H:%M");

    QStringList lines{
        QStringLiteral("# Written by VAULTRABackupRestore: its automatic backup, run with the program"),
        QStringLiteral("# closed. The program shows it and removes it; edits here are lost then."),
        QStringLiteral("[Unit]"),
        QStringLiteral("Description=") + Specifiers(schedule.description),
        QStringLiteral("StartLimitIntervalSec=") + QLatin1String(kRetryWindow),
        QStringLiteral("StartLimitBurst=") + QString::number(schedule.retryCount + 1),
        QString(),
        QStringLiteral("[Service]"),
        QStringLiteral("Type=oneshot"),
        QStringLiteral("Environment=") + environment.join(QLatin1Char(' ')),
    };
    if (schedule.intervalCode != kRunOnce) {
        // The timer's event comes every day (week, month) from now on: the
        // runs before the chosen start are passed over.
        const QString notBefore =
            QStringLiteral("test \"$(date +%s)\" -ge ") + QString::number(MinuteOf(schedule.start));
        lines << QStringLiteral("ExecCondition=") +
                     CommandLine(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), notBefore});
    }
    lines << QStringLiteral("ExecStartPre=") +
                 CommandLine(QStringLiteral("/usr/bin/env"), {QStringLiteral("date"), startedLine})
          << QStringLiteral("ExecStart=") + CommandLine(command.program, command.arguments)
          << QStringLiteral("ExecStopPost=") +
                 CommandLine(QStringLiteral("/bin/sh"),
                             {QStringLiteral("-c"), QLatin1String(kOutcomeLine), QStringLiteral("sh"),
                              schedule.finishedLabel, schedule.failedLabel})
          << QStringLiteral("StandardOutput=append:") + Specifiers(schedule.logPath)
          << QStringLiteral("StandardError=append:") + Specifiers(schedule.logPath)
          << QStringLiteral("Restart=on-failure") << QStringLiteral("RestartSec=%1min").arg(schedule.retryInterval)
          << QStringLiteral("RestartPreventExitStatus=") + QLatin1String(kFinalExitCodes)
          << QStringLiteral("TimeoutStartSec=6h") << QStringLiteral("TimeoutStopSec=150");
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QString TimerUnitText(const SystemSchedule &schedule) {
    const QStringList head{
        QStringLiteral("# Written by VAULTRABackupRestore: when its automatic backup runs."),
        QStringLiteral("[Unit]"),
        QStringLiteral("Description=") + Specifiers(schedule.description),
        QString(),
        QStringLiteral("[Timer]"),
    };
    QStringList lines = head;
    for (const QString &event : CalendarEvents(schedule.intervalCode, schedule.start))
        lines << QStringLiteral("OnCalendar=") + event;
    lines << QStringList{
        QStringLiteral("AccuracySec=1s"),
        // Runs missed while the computer was off are skipped, as the
        // program's own schedule skips them.
        QStringLiteral("Persistent=false"),
        QString(),
        QStringLiteral("[Install]"),
        QStringLiteral("WantedBy=timers.target"),
    };
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QString UserUnitFolder() { return ConfigHome() + QStringLiteral("/systemd/user"); }

QString SystemScheduleLogPath() {
    return QFileInfo(UtilityLogPath()).dir().filePath(QStringLiteral("BKRT_Log_ProgramClosed.txt"));
}

LastRun ReadLastRun(const QString &log, const QString &startedLabel, const QString &finishedLabel,
                    const QString &failedLabel) {
    std::string text, error;
    LastRun last;
    if (!vt::ReadLocalFile(QFile::encodeName(log).toStdString(), kLogReadBytes, vt::LinkRule::Refuse, &text, &error))
        return last;
    // The newest run is the block after the last start line: its time, the
    // file vtbox names in its result line, and the last outcome line.
    const QStringList lines = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).split('\n');
    const QString started = startedLabel + QLatin1Char(' ');
    qsizetype at = lines.size();
    while (at > 0 && !lines[at - 1].startsWith(started)) --at;
    if (at == 0) return last;
    last.when = lines[at - 1].mid(started.size());
    static const QRegularExpression result(QStringLiteral("^(.+): \\d+ box(es)? backed up"));
    for (qsizetype i = at; i < lines.size(); ++i) {
        const QRegularExpressionMatch match = result.match(lines[i]);
        if (match.hasMatch()) last.file = match.captured(1);
        if (lines[i] == finishedLabel || lines[i].startsWith(failedLabel + QStringLiteral(" (")))
            last.outcome = lines[i];
    }
    return last;
}

QString SystemScheduleNextRun() {
    if (SystemctlProgram().isEmpty()) return {};
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(SystemctlProgram(), {QStringLiteral("--user"), QStringLiteral("show"),
                                       QLatin1String(kSystemScheduleUnit) + QStringLiteral(".timer"),
                                       QStringLiteral("--property=NextElapseUSecRealtime"), QStringLiteral("--value")});
    if (!process.waitForFinished(kSystemctlWaitMs)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) return {};
    const QString value = QString::fromLocal8Bit(process.readAllStandardOutput().left(kShowReadBytes)).trimmed();
    return HasControlCharacter(value) ? QString() : value;
}

QString SchedulePasswordFile() { return ConfigHome() + QStringLiteral("/vtbox/utility-schedule.password"); }

QString VtboxProgram() {
    if (!VtboxOverride().isEmpty()) return VtboxOverride();
    const QString besideProgram = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("vtbox"));
    if (QFileInfo(besideProgram).isExecutable()) return besideProgram;
    return QStandardPaths::findExecutable(QStringLiteral("vtbox"));
}

QString SystemctlProgram() {
    if (!SystemctlOverride().isEmpty()) return SystemctlOverride();
    return QStandardPaths::findExecutable(QStringLiteral("systemctl"));
}

void SetVtboxProgram(const QString &path) { VtboxOverride() = path; }
void SetSystemctlProgram(const QString &path) { SystemctlOverride() = path; }

uint32_t InstallSystemSchedule(const SystemSchedule &schedule, const std::string &password, QString *detail) {
    const QString vtbox = VtboxProgram();
    if (vtbox.isEmpty() || SystemctlProgram().isEmpty()) {
        *detail = vtbox.isEmpty() ? QStringLiteral("vtbox was not found") : QStringLiteral("systemctl was not found");
        return VTBOX_E_NOT_FOUND;
    }
    for (const QString &value :
         {schedule.deviceAddress, schedule.target, schedule.logPath, schedule.description, schedule.startedLabel,
          schedule.finishedLabel, schedule.failedLabel, vtbox, SchedulePasswordFile()}) {
        if (!HasControlCharacter(value)) continue;
        *detail = QStringLiteral("a line break or control character in \"%1\"").arg(value.simplified());
        return VTBOX_E_INVALID_PARAMETER;
    }
    InstalledFiles before;
    before.timer = ReadIfThere(UnitPath(".timer"));
    before.service = ReadIfThere(UnitPath(".service"));
    before.password = ReadIfThere(SchedulePasswordFile());
    // A failure takes the new files away and puts the old schedule's back.
    const auto restore = [&before] {
        RemoveFiles();
        if (before.service) WriteBack(UnitPath(".service"), *before.service);
        if (before.timer) WriteBack(UnitPath(".timer"), *before.timer);
        if (before.password) {
            std::string password = *before.password;
            if (!password.empty() && password.back() == '\n') password.pop_back();
            QString ignored;
            WritePasswordFile(SchedulePasswordFile(), password, &ignored);
        }
    };
    if (!QDir().mkpath(UserUnitFolder())) {
        *detail = UserUnitFolder() + QStringLiteral(": cannot be made");
        return VTBOX_E_ACCESS_DENIED;
    }
    if (!WritePasswordFile(SchedulePasswordFile(), password, detail) ||
        !WriteUnit(UnitPath(".service"), ServiceUnitText(schedule, vtbox, SchedulePasswordFile()), detail) ||
        !WriteUnit(UnitPath(".timer"), TimerUnitText(schedule), detail)) {
        restore();
        return VTBOX_E_ACCESS_DENIED;
    }
    const QString timer = QLatin1String(kSystemScheduleUnit) + QStringLiteral(".timer");
    if (!RunSystemctl({QStringLiteral("daemon-reload")}, detail) ||
        !RunSystemctl({QStringLiteral("enable"), QStringLiteral("--now"), timer}, detail)) {
        restore();
        QString ignored;
        RunSystemctl({QStringLiteral("daemon-reload")}, &ignored);
        if (before.timer) RunSystemctl({QStringLiteral("enable"), QStringLiteral("--now"), timer}, &ignored);
        return VTBOX_E_NOT_SUPPORTED;
    }
    return 0;
}

uint32_t RemoveSystemSchedule(QString *detail) {
    const QString timer = QLatin1String(kSystemScheduleUnit) + QStringLiteral(".timer");
    const bool stopped = SystemctlProgram().isEmpty() ||
                         RunSystemctl({QStringLiteral("disable"), QStringLiteral("--now"), timer}, detail);
    RemoveFiles();
    QString ignored;
    if (!SystemctlProgram().isEmpty()) RunSystemctl({QStringLiteral("daemon-reload")}, &ignored);
    return stopped ? 0 : static_cast<uint32_t>(VTBOX_E_NOT_SUPPORTED);
}

std::optional<QString> InstalledSystemSchedule() {
    std::string text, error;
    if (!vt::ReadLocalFile(QFile::encodeName(UnitPath(".timer")).toStdString(), kUnitReadBytes, vt::LinkRule::Follow,
                           &text, &error)) {
        // Something else at the unit's name is shown as a schedule without
        // its description, so that it can be removed.
        if (errno == ENOENT) return std::nullopt;
        return QString();
    }
    const QStringList lines = QString::fromStdString(text).split(QLatin1Char('\n'));
    for (const QString &line : lines)
        if (line.startsWith(QStringLiteral("Description=")))
            return line.mid(static_cast<qsizetype>(std::strlen("Description=")))
                .replace(QStringLiteral("%%"), QStringLiteral("%"));
    return QString();
}

}  // namespace vtutil
