// Automatic backup on the main window: setting a schedule up, the timer that
// starts its runs, each run with its retries and its report in the log and
// the result window, and stopping the schedule.
//
// Everything runs on the user-interface thread. A run blocks it inside the
// modal progress window; Busy keeps the timer (and the questions asked
// meanwhile) from starting a second run.
#pragma once

#include <QObject>
#include <QTimer>
#include <vector>

#include "job_thread.hpp"
#include "schedule.hpp"
#include "utility_log.hpp"

namespace vtutil {

struct AppState;
class CAutoBackupDlg;
class CBackupRestoreDlg;
class DeviceSession;

class AutomaticBackup : public QObject {
    Q_OBJECT
public:
    AutomaticBackup(CBackupRestoreDlg &main, DeviceSession &session, AppState &app);

    // The timer of a schedule: its id and period.
    static constexpr int kTimerId = 564;
    static constexpr int kTimerPeriodMs = 30000;

    // File > Automatic Backup: checks, the set-up window, then the waiting
    // state until the first run.
    void SetUp();
    // One beat of the timer: runs when the next run's minute has come,
    // moves on past a missed one.
    void Tick();
    // The action button while a schedule waits: asks, then stops it.
    void StopByUser();
    // The program is about to end while a schedule is set up: asks whether
    // to exit; on OK the schedule ends (the log gets its trailer). False
    // keeps the program and the schedule running.
    bool ConfirmExit();

    bool Active() const { return state_.autoMode; }
    const ScheduleState &State() const { return state_; }
    QTimer *Timer() { return &timer_; }

private:
    // Set hands the schedule to the system: a timer that runs vtbox.
    void HandToSystem(const CAutoBackupDlg &setUp);
    QString SystemScheduleDescription(const std::vector<uint32_t> &boxes, uint32_t intervalCode, int64_t start) const;
    bool PrepareRun(JobRequest *request, uint32_t *failure);
    void Run();
    // Writes a run's outcome to the log and shows it in the result window,
    // with the failure's detail (the engine's account of code) behind Show
    // Details; archive is the backup file a finished run wrote.
    void Report(int32_t state, uint32_t code, const QString &detail, uint32_t retriesSoFar, const QString &archive);
    void StopSchedule();
    // Ends the session between runs; the log says when a device that did
    // not answer was left to end it by itself.
    void LeaveDevice();
    void ShowNextRun(int64_t t);
    // The chosen boxes for the log's tables, from the last box list known.
    LoggedBoxes Logged(const std::vector<uint32_t> &chosen) const;
    QString Target() const;
    int64_t Now() const;

    CBackupRestoreDlg &main_;
    DeviceSession &session_;
    AppState &app_;
    ScheduleState state_;
    QTimer timer_;
    // The box list of the last successful connection: a run that finds
    // chosen boxes gone takes their names from here.
    std::vector<VTBOX> knownBoxes_;
};

}  // namespace vtutil
