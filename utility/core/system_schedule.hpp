// Automatic backup handed to the system: a systemd timer of the user's own
// service manager that runs vtbox with the schedule's boxes, file numbering
// (vtbox's %N, as automatic backup numbers its files), retries and log, so
// that it runs while the program is closed. One such schedule at a time,
// under a fixed unit name; the program shows it and removes it.
//
// Files: the two units in the user's unit folder ($XDG_CONFIG_HOME/systemd/
// user, else ~/.config/systemd/user), and the password vtbox reads, in
// $XDG_CONFIG_HOME/vtbox (else ~/.config/vtbox), the folder 0700 and the
// file 0600: vtbox refuses a password file that others can read.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace vtutil {

inline constexpr const char *kSystemScheduleUnit = "vtbox-utility-backup";

// Everything a system schedule runs with.
struct SystemSchedule {
    QString deviceAddress;
    uint32_t httpPort = 8080;
    std::optional<uint32_t> ftpPort;  // the engine's default (21) when not given
    std::vector<uint32_t> boxes;
    QString target;  // the backup file as typed: runs write its numbered names
    uint32_t intervalCode = 0;
    int64_t start = 0;           // the first run (seconds since 1970)
    uint32_t retryInterval = 5;  // minutes
    uint32_t retryCount = 12;
    QString logPath;
    QString description;    // what the program shows of it
    QString startedLabel;   // the log's label before a run's start time
    QString finishedLabel;  // the log's outcome line of a finished run
    QString failedLabel;    // ... of a failed one, followed by systemd's exit code and status
};

// The log of the schedule run with the program closed: its own, beside the
// program's, so that neither empties the other.
QString SystemScheduleLogPath();

// The newest run the log tells of: its start time as written, its outcome
// line, and the backup file it wrote; empty fields where the log says none.
struct LastRun {
    QString when;
    QString outcome;
    QString file;
};
LastRun ReadLastRun(const QString &log, const QString &startedLabel, const QString &finishedLabel,
                    const QString &failedLabel);

// When systemd runs the timer next, in systemd's words; empty when it does
// not say.
QString SystemScheduleNextRun();

// The one command of a run: vtbox's arguments and environment.
struct ScheduledCommand {
    QString program;
    QStringList arguments;
    std::map<QString, QString> environment;
};
ScheduledCommand ScheduledBackupCommand(const SystemSchedule &schedule, const QString &vtbox,
                                        const QString &passwordFile);

// The timer's calendar events for a schedule: once at the start, or every
// day, week (on the start's weekday) or month at the start's time of day.
// A monthly schedule runs on the days the program's own schedule runs: the
// start's day while the months have it, then the day that the first month
// without it rolls over to (31 January: 3 March, then the 3rd).
QStringList CalendarEvents(uint32_t intervalCode, int64_t start);

// A value as one word of a unit file's command line or setting: quoted, with
// the characters systemd would read otherwise ('%', '$', '\', '"') escaped.
QString UnitWord(const QString &value);

QString ServiceUnitText(const SystemSchedule &schedule, const QString &vtbox, const QString &passwordFile);
QString TimerUnitText(const SystemSchedule &schedule);

QString UserUnitFolder();
QString SchedulePasswordFile();

// The programs a system schedule needs: vtbox (beside this program, else on
// PATH) and systemctl (on PATH); empty when missing. The setters override
// the lookups (tests).
QString VtboxProgram();
QString SystemctlProgram();
void SetVtboxProgram(const QString &path);
void SetSystemctlProgram(const QString &path);

// Writes the units and the password file, and enables and starts the timer.
// Returns 0, or the code of the failing step with what systemctl or the
// system said in *detail; a failure leaves none of the new files behind and
// the schedule installed before (if any) as it was.
uint32_t InstallSystemSchedule(const SystemSchedule &schedule, const std::string &password, QString *detail);
// Stops and disables the timer and removes the files. 0 or a code, with
// *detail.
uint32_t RemoveSystemSchedule(QString *detail);
// The description of the installed schedule; nullopt when there is none.
std::optional<QString> InstalledSystemSchedule();

}  // namespace vtutil
