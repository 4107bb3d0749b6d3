#include "automatic_backup.hpp"

#include <QDateTime>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

#include "app_state.hpp"
#include "auto_backup_dlg.hpp"
#include "backup_page.hpp"
#include "backup_restore_dlg.hpp"
#include "box_list.hpp"
#include "clock.hpp"
#include "device_release.hpp"
#include "device_session.hpp"
#include "error_text.hpp"
#include "job_report.hpp"
#include "language.hpp"
#include "log_path.hpp"
#include "message_box.hpp"
#include "progress_dlg.hpp"
#include "result_dlg.hpp"
#include "status_bar.hpp"
#include "system_schedule.hpp"
#include "target_path.hpp"
#include "text_format.hpp"
#include "text_ids.hpp"
#include "vtresult.h"

namespace vtutil {

namespace {

constexpr uint32_t kPathNotFound = 3;
constexpr double kBytesPerKb = 1024;

bool HasBox(const std::vector<VTBOX> &boxes, uint32_t number) {
    return std::any_of(boxes.begin(), boxes.end(), [number](const VTBOX &box) { return box.BoxNo == number; });
}

// What the log says of a failed run: the short error text, or for a missing
// folder the message that says so.
QString FailureDetail(uint32_t code) {
    return code == kPathNotFound ? Text(ids::kMsgFolderNotMade) : ShortErrorText(code);
}

// The message of a passed start without its last line (the advice to
// choose a later time, which a missed run cannot follow).
QString MissedRunText() {
    const QString text = Text(ids::kMsgStartPassed);
    const qsizetype cut = text.lastIndexOf(QLatin1Char('\n'));
    return cut < 0 ? text : text.left(cut);
}

}  // namespace

AutomaticBackup::AutomaticBackup(CBackupRestoreDlg &main, DeviceSession &session, AppState &app)
    : QObject(&main), main_(main), session_(session), app_(app) {
    timer_.setObjectName(QStringLiteral("timer564"));
    timer_.setInterval(kTimerPeriodMs);
    connect(&timer_, &QTimer::timeout, this, &AutomaticBackup::Tick);
}

int64_t AutomaticBackup::Now() const { return CurrentClock().Now(); }

QString AutomaticBackup::Target() const { return main_.BackupPage()->TargetEdit()->text(); }

LoggedBoxes AutomaticBackup::Logged(const std::vector<uint32_t> &chosen) const {
    return LoggedBoxes{knownBoxes_.data(), static_cast<uint32_t>(knownBoxes_.size()), chosen};
}

void AutomaticBackup::ShowNextRun(int64_t t) {
    main_.Status()->SetActivity(Text(ids::kNextBackup) + QLatin1Char(' ') + ScheduleTimeText(t));
}

void AutomaticBackup::SetUp() {
    if (state_.autoMode) return;
    if (main_.CountCheckedRows() == 0) {
        ShowMessage(&main_, Text(ids::kMsgTickABox), Text(ids::kCaptionAutomatic), QMessageBox::Critical);
        return;
    }
    if (!EndsWithZip(Target()) || !session_.Connected()) {
        ShowMessage(&main_, Text(ids::kMsgNeedZipAndLogin), Text(ids::kCaptionAutomatic), QMessageBox::Critical);
        return;
    }
    // The target as Start Backup checks it: a folder that is not there is
    // made when the user says so, and then made again by a run that finds
    // it gone.
    uint32_t code = 0;
    const bool folderMissing = ProbeFolder(FolderPart(Target()), &code) == FolderState::Missing;
    JobRequest check;
    if (!main_.BackupPage()->PrepareJob(false, &check)) return;
    CAutoBackupDlg setUp(&main_);
    if (setUp.exec() != QDialog::Accepted) return;
    if (setUp.RunWithProgramClosed()) {
        HandToSystem(setUp);
        return;
    }

    const RetrySettings retry = ReadRetrySettings();
    state_ = ScheduleState{};
    state_.retryInterval = retry.interval;
    state_.retryCount = retry.count;
    state_.intervalCode = setUp.IntervalCode();
    state_.makeFolder = folderMissing;
    state_.timeOfDay = QDateTime::fromSecsSinceEpoch(setUp.Start(), Qt::LocalTime).time();
    app_.automaticStart = setUp.Start();
    app_.continuePolicy = setUp.ContinuePolicy();
    app_.retryCounter = 0;
    const std::vector<uint32_t> chosen = main_.BackupPage()->List()->CheckedNumbers();
    knownBoxes_.assign(session_.BoxList(), session_.BoxList() + session_.BoxCount());

    UtilityLog log;
    log.Empty();
    log.OpenForAppend();
    ScheduleFacts facts;
    facts.deviceName = QString::fromStdString(app_.deviceName);
    facts.deviceAddress = QString::fromStdString(app_.deviceAddress);
    facts.target = Target();
    facts.intervalCode = state_.intervalCode;
    facts.start = app_.automaticStart;
    facts.continuePolicy = app_.continuePolicy;
    log.WriteAutoHeader(facts, Logged(chosen));
    log.Close();

    state_.nextRunTime = app_.automaticStart;
    ShowNextRun(state_.nextRunTime);
    timer_.start();
    // The device stays free between runs; each run connects again.
    LeaveDevice();
    session_.SetQuiet(true);
    app_.totalSizeKb = 0;
    main_.Status()->SetConnected(false);
    state_.autoMode = true;
    main_.SetWaiting(true);
}

QString AutomaticBackup::SystemScheduleDescription(const std::vector<uint32_t> &boxes, uint32_t intervalCode,
                                                   int64_t start) const {
    QStringList numbers;
    for (uint32_t box : boxes) numbers << QString::number(box);
    QString text = Text(ids::kSystemScheduleText);
    for (const QString &value : {numbers.join(QStringLiteral(", ")), main_.DeviceText(), Target(),
                                 Text(ids::kRepeatOnce + (intervalCode - kRunOnce)), ScheduleTimeText(start)})
        text = FormatText(text, value);
    return text;
}

void AutomaticBackup::HandToSystem(const CAutoBackupDlg &setUp) {
    const std::optional<QString> installed = InstalledSystemSchedule();
    if (installed) {
        if (ShowMessage(&main_, FormatText(Text(ids::kMsgReplaceSystemSchedule), *installed),
                        Text(ids::kCaptionAutomatic), QMessageBox::Question, QMessageBox::Yes | QMessageBox::No,
                        QMessageBox::No) != QMessageBox::Yes)
            return;
    }
    const std::vector<uint32_t> chosen = main_.BackupPage()->List()->CheckedNumbers();
    const RetrySettings retry = ReadRetrySettings();
    SystemSchedule schedule;
    schedule.deviceAddress = QString::fromStdString(app_.deviceAddress);
    schedule.httpPort = BoxServicePort();
    bool numeric = false;
    const uint32_t ftpPort = qEnvironmentVariable("VTBOX_FTP_PORT").toUInt(&numeric);
    if (numeric && ftpPort > 0 && ftpPort < 65536) schedule.ftpPort = ftpPort;
    schedule.boxes = chosen;
    schedule.target = Target();
    schedule.intervalCode = setUp.IntervalCode();
    schedule.start = setUp.Start();
    schedule.retryInterval = retry.interval;
    schedule.retryCount = retry.count;
    schedule.logPath = SystemScheduleLogPath();
    schedule.description = SystemScheduleDescription(chosen, schedule.intervalCode, schedule.start);
    schedule.startedLabel = Text(ids::kLogStarted);
    schedule.finishedLabel = Text(ids::kLogFinished);
    schedule.failedLabel = Text(ids::kLogFailed);
    QString detail;
    {
        WaitCursor wait;
        if (InstallSystemSchedule(schedule, session_.Password(), &detail) != 0) {
            ShowMessage(&main_,
                        installed ? FormatText(Text(ids::kMsgSystemScheduleKept), *installed)
                                  : Text(ids::kMsgSystemScheduleFailed),
                        Text(ids::kCaptionAutomatic), QMessageBox::Critical, QMessageBox::Ok, QMessageBox::NoButton,
                        detail);
            return;
        }
    }
    // Its own log, which the program's schedules leave alone: the header
    // now, each run's few lines from the service.
    UtilityLog log(schedule.logPath);
    log.Empty();
    log.OpenForAppend();
    ScheduleFacts facts;
    facts.deviceName = QString::fromStdString(app_.deviceName);
    facts.deviceAddress = schedule.deviceAddress;
    facts.target = schedule.target;
    facts.intervalCode = schedule.intervalCode;
    facts.start = schedule.start;
    facts.continuePolicy = 0;  // vtbox refuses boxes the device no longer has
    knownBoxes_.assign(session_.BoxList(), session_.BoxList() + session_.BoxCount());
    log.WriteAutoHeader(facts, Logged(chosen));
    log.Close();
    ShowMessage(&main_, FormatText(Text(ids::kMsgSystemScheduleSet), schedule.description),
                Text(ids::kCaptionAutomatic), QMessageBox::Information);
}

void AutomaticBackup::Tick() {
    if (state_.busy || state_.intervalCode == kNoSchedule) return;
    const int64_t t = state_.retryPending ? state_.retryTime : state_.nextRunTime;
    ShowNextRun(t);
    const int when = CompareToNow(t, Now());
    if (when > 0) return;
    if (when == 0) {
        Run();
        return;
    }
    if (state_.intervalCode == kRunOnce && !state_.retryPending) {
        // The one run's minute passed while the program could not start it.
        state_.busy = true;
        ShowMessage(&main_, MissedRunText(), Text(ids::kCaptionError), QMessageBox::Critical);
        state_.busy = false;
        state_.autoMode = false;
        state_.endReason = kEndFailed;
        StopSchedule();
        return;
    }
    AdvanceSchedule(state_, state_.retryPending ? Advance::Retry : Advance::Regular, Now());
    ShowNextRun(state_.retryPending ? state_.retryTime : state_.nextRunTime);
}

bool AutomaticBackup::PrepareRun(JobRequest *request, uint32_t *failure) {
    CBackupPage *page = main_.BackupPage();
    std::vector<uint32_t> chosen = page->List()->CheckedNumbers();
    if (app_.retryCounter == 0) {
        UtilityLog log;
        log.OpenForAppend();
        log.WriteRunHeading(state_.scheduleCounter);
    }
    state_.boxesDeleted = false;
    state_.deletedBoxes.clear();
    session_.ConnectDevice(ConnectReason::BeforeAutomaticRun);
    if (!session_.Connected()) {
        *failure = session_.LastResult();
        return false;
    }
    const std::vector<VTBOX> now(session_.BoxList(), session_.BoxList() + session_.BoxCount());
    std::vector<uint32_t> kept;
    for (uint32_t number : chosen) {
        if (HasBox(now, number)) {
            kept.push_back(number);
            continue;
        }
        auto old = std::find_if(knownBoxes_.begin(), knownBoxes_.end(),
                                [number](const VTBOX &box) { return box.BoxNo == number; });
        VTBOX gone{};
        if (old != knownBoxes_.end())
            gone = *old;
        else
            gone.BoxNo = number;
        state_.deletedBoxes.push_back(gone);
    }
    knownBoxes_ = now;
    page->LoadList();
    page->List()->CheckOnly(kept);

    if (!state_.deletedBoxes.empty()) state_.boxesDeleted = true;
    if ((state_.boxesDeleted && app_.continuePolicy == 0) || kept.empty()) {
        state_.autoMode = false;
        UtilityLog log;
        log.OpenForAppend();
        log.WriteAutoTrailer(kTrailerBoxesDeleted, &state_.trailerWritten, Now(), app_.totalSizeKb);
        log.Close();
        main_.ShowResult(CResultDlg::kBoxesDeleted, 0);
        return false;
    }
    main_.Status()->SetConnected(true);
    const QString folder = FolderPart(Target());
    uint32_t code = 0;
    if (state_.makeFolder && ProbeFolder(folder, &code) == FolderState::Missing) CreateFolderLevels(folder);
    return page->PrepareJob(true, request, failure);
}

void AutomaticBackup::Run() {
    // Busy from the first step: connecting waits in a loop of its own, in
    // which the timer goes on beating.
    state_.busy = true;
    struct NotBusy {
        ScheduleState &state;
        ~NotBusy() { state.busy = false; }
    } notBusy{state_};
    main_.DestroyResult();
    JobRequest request;
    uint32_t failure = 0;
    bool prepared = PrepareRun(&request, &failure);
    if (!state_.autoMode) {
        state_.endReason = kEndUnset;
        StopSchedule();
        return;
    }
    const QString target = Target();
    if (app_.retryCounter == 0) ++state_.scheduleCounter;

    // The run's file never replaces one on disk: a number that another
    // schedule (or vtbox) took already is passed over, and the log says so.
    const uint32_t number = prepared ? NextFreeRunNumber(target, state_.runCounter + 1) : 0;
    const QString archive = NumberedArchiveName(target, number);
    if (prepared && number == 0) {
        prepared = false;
        failure = VTBOX_E_ALREADY_EXISTS;
    } else if (prepared && number != state_.runCounter + 1) {
        UtilityLog log;
        log.OpenForAppend();
        log.WriteLine(FormatText(
            FormatText(Text(ids::kLogNumberTaken), NumberedArchiveName(target, state_.runCounter + 1)), archive));
    }

    const int64_t started = Now();
    JobOutcome outcome;
    if (prepared) {
        request.target = archive.toStdString();
        const std::vector<uint32_t> boxes = request.boxes;
        CProgressDlg progress(session_, std::move(request), &main_);
        progress.exec();
        outcome = progress.Outcome();
        progress.DeleteJob();
        RecordJob(JobOperation::Backup, boxes, outcome, main_.DeviceText(), true);
    }

    if (prepared && outcome.state != kJobFailed) {
        state_.retryPending = false;
        AdvanceSchedule(state_, Advance::Regular, Now());
        UtilityLog log;
        log.OpenForAppend();
        log.WriteRunEntry(Logged(main_.BackupPage()->List()->CheckedNumbers()), state_.deletedBoxes, archive, started);
        log.Close();
        if (outcome.state == kJobFinished) state_.runCounter = number;
        Report(outcome.state, outcome.result, outcome.detail, app_.retryCounter, archive);
        // The same facts as a backup made by hand.
        if (outcome.state == kJobFinished && main_.ResultWindow())
            main_.ResultWindow()->SetSummary(BackupSummary(outcome));
        app_.retryCounter = 0;
    } else {
        uint32_t code = prepared ? outcome.result : failure;
        QString detail = prepared ? outcome.detail : QString();
        if (!prepared && (code == 0 || code == session_.LastResult())) {
            code = session_.LastResult();
            detail = session_.LastDetail();
        }
        Report(kJobFailed, code, detail, app_.retryCounter, QString());
        if (app_.retryCounter <= state_.retryCount && IsRetryableError(code)) {
            PlanRetry(state_, app_.retryCounter, Now());
        } else {
            // This scheduled run is over: the next regular run starts its own
            // count, its own log block and its full budget of retries.
            state_.retryPending = false;
            app_.retryCounter = 0;
            AdvanceSchedule(state_, Advance::Regular, Now());
        }
    }
    if (outcome.state == kJobCancelled && state_.intervalCode != kNoSchedule) {
        state_.endReason = kEndStopped;
        state_.autoMode = false;
        StopSchedule();
    }
    // The schedule may have ended above (retries used up, a cancel).
    if (state_.intervalCode == kNoSchedule) return;
    if (state_.intervalCode == kRunOnce && !state_.retryPending) {
        state_.autoMode = false;
        if (!prepared || outcome.state == kJobFailed)
            state_.endReason = kEndFailed;
        else if (outcome.state == kJobFinished)
            state_.endReason = kEndFinished;
        else
            state_.endReason = kEndStopped;
        StopSchedule();
        return;
    }
    LeaveDevice();
    main_.Status()->SetConnected(false);
    ShowNextRun(state_.retryPending ? state_.retryTime : state_.nextRunTime);
}

void AutomaticBackup::LeaveDevice() {
    if (session_.CloseBetweenRuns()) return;
    UtilityLog log;
    log.OpenForAppend();
    log.WriteLine(FormatValues(Text(ids::kLogSessionLeft), {QString::number(vtjobs::ReleaseSeconds())}));
}

void AutomaticBackup::Report(int32_t state, uint32_t code, const QString &detail, uint32_t retriesSoFar,
                             const QString &archive) {
    UtilityLog log;
    log.OpenForAppend();
    int kind = kOutcomeFailed;
    QString text;
    if (state == kJobFinished) {
        kind = kOutcomeFinished;
        text = Text(ids::kLogFinished);
        // The file is whole, but the device's panel may stay locked unseen.
        if (code != 0) text += QLatin1Char('\n') + Text(ids::kDeviceNotReleased);
    } else if (state == kJobCancelled) {
        kind = kOutcomeCancelled;
        text = Text(ids::kBackupCancelled);
    } else {
        const QString why = FailureDetail(code);
        kind = RunOutcomeKind(state, code, retriesSoFar, state_.retryCount);
        if (kind == kOutcomeRetryPlanned)
            text = FormatText(Text(ids::kLogFailedRetry), why);
        else if (kind == kOutcomeRetriesUsedUp)
            text = Text(ids::kLogFailed) + QLatin1Char('\n') + Text(ids::kRetriesUsedUp);
        else
            text = Text(ids::kLogFailed) + QLatin1Char('\n') + why;
    }
    // Whatever went wrong (the run, or the release after it) carries its
    // detail, as every other failure report does.
    main_.ShowResult(kind, code, code != 0 ? FailureDetails(code, detail) : QString());
    if (kind == kOutcomeFinished) {
        const QFileInfo file(archive);
        const double kb = file.exists() ? static_cast<double>(file.size()) / kBytesPerKb : 0;
        log.WriteSizeLine(kb);
        app_.totalSizeKb += kb;
    }
    log.WriteLine(text);
    log.Close();
    if (kind == kOutcomeRetriesUsedUp) {
        state_.autoMode = false;
        state_.endReason = kEndFailed;
        StopSchedule();
    }
}

void AutomaticBackup::StopByUser() {
    if (!state_.autoMode || state_.busy) return;
    StopSchedule();
}

void AutomaticBackup::StopSchedule() {
    UtilityLog log;
    log.OpenForAppend();
    if (state_.autoMode) {
        // The user pressed the button.
        state_.busy = true;
        const auto answer = ShowMessage(&main_, Text(ids::kMsgAskStopAutomatic), Text(ids::kCaptionAutomatic),
                                        QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        state_.busy = false;
        if (answer != QMessageBox::Yes) return;
        log.WriteAutoTrailer(kTrailerStopped, &state_.trailerWritten, Now(), app_.totalSizeKb);
        main_.ShowResult(CResultDlg::kStopped, 0);
    } else {
        int kind = kTrailerFinished;
        if (state_.endReason == kEndFailed || state_.endReason == kEndStopped)
            kind = static_cast<int>(state_.endReason);
        else if (state_.endReason == kEndFinished && state_.boxesDeleted)
            kind = kTrailerFinishedBoxesDeleted;
        log.WriteAutoTrailer(kind, &state_.trailerWritten, Now(), app_.totalSizeKb);
    }
    log.Close();

    timer_.stop();
    state_.intervalCode = kNoSchedule;
    state_.autoMode = false;
    state_.retryPending = false;
    state_.deletedBoxes.clear();
    state_.runCounter = 0;
    state_.scheduleCounter = 0;
    session_.SetQuiet(false);
    main_.Status()->SetActivity(QString());
    main_.SetWaiting(false);
    main_.RefreshAfterSchedule();
}

bool AutomaticBackup::ConfirmExit() {
    if (!state_.autoMode) return true;
    state_.busy = true;
    const auto answer = ShowMessage(&main_, Text(ids::kMsgExitDuringSchedule), Text(ids::kCaptionExit),
                                    QMessageBox::Warning, QMessageBox::Ok | QMessageBox::Cancel);
    state_.busy = false;
    if (answer != QMessageBox::Ok) return false;
    state_.deletedBoxes.clear();
    timer_.stop();
    state_.intervalCode = kNoSchedule;
    state_.autoMode = false;
    session_.SetQuiet(false);
    UtilityLog log;
    log.OpenForAppend();
    log.WriteAutoTrailer(kTrailerStopped, &state_.trailerWritten, Now(), app_.totalSizeKb);
    return true;
}

}  // namespace vtutil
