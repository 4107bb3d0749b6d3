// Automatic backup against the simulated device, with a clock that the test
// moves by hand: runs, missed runs, retries, deleted boxes, stopping, and
// the log each schedule leaves.
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "auto_backup_dlg.hpp"
#include "automatic_backup.hpp"
#include "backup_page.hpp"
#include "backup_restore_dlg.hpp"
#include "box_list.hpp"
#include "clock.hpp"
#include "device_wait_dlg.hpp"
#include "error_text.hpp"
#include "language.hpp"
#include "modal_answerer.hpp"
#include "progress_dlg.hpp"
#include "result_dlg.hpp"
#include "size_texts.hpp"
#include "status_bar.hpp"
#include "text_format.hpp"
#include "utility_fixture.hpp"
#include "va_property_sheet.hpp"

using vtutil::CBackupRestoreDlg;
using vtutil::CResultDlg;
using vtutil::Text;

namespace {

namespace fs = std::filesystem;

class FakeClock final : public vtutil::Clock {
public:
    int64_t Now() const override { return now; }
    int64_t now = 0;
};

int64_t At(int y, int mo, int d, int h, int mi) { return vtutil::LocalMoment(QDate(y, mo, d), QTime(h, mi)); }

vttest::SimOptions SmallDevice() {
    vttest::SimOptions o;
    o.seed.folders = 1;
    o.seed.docs = 1;
    o.seed.pages = 1;
    return o;
}

std::vector<uint32_t> BoxesInFile(const std::string &path) {
    VTBACKUPINFO info{};
    uint32_t count = 0;
    VTBOXBK *boxes = nullptr;
    void *handle = nullptr;
    const std::string folder = fs::path(path).parent_path().string();
    if (vtBoxGetXMLInfo(path.c_str(), folder.c_str(), &info, &count, &boxes, &handle) != 0) return {};
    std::vector<uint32_t> numbers;
    for (uint32_t i = 0; i < count; ++i) numbers.push_back(boxes[i].BoxNo);
    GlobalFree(handle);
    return numbers;
}

std::string Contents(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A device, the main window logged in to it with the target typed, and the
// clock in the test's hands.
class Scheduled {
public:
    explicit Scheduled(const vttest::SimOptions &o = SmallDevice()) : device(o), window(device.app, device.session) {
        vtutil::ReplaceClock(&clock);
        device.Login();
        window.RefreshPages();
        window.show();
        fs::create_directories(device.sim.dir / "b");
        target = device.sim.dir / "b/Set.zip";
        window.BackupPage()->TargetEdit()->setText(QString::fromStdString(target));
        answerer.LetStay<vtutil::CProgressDlg>();
    }
    ~Scheduled() { vtutil::ReplaceClock(nullptr); }

    // Sets a schedule up through the set-up window; repeat is the list's
    // row (0 once, 1 daily, 2 weekly, 3 monthly).
    void SetUp(int64_t start, int repeat, bool goOn = true) {
        const QDateTime when = QDateTime::fromSecsSinceEpoch(start, Qt::LocalTime);
        answerer.OnDialog<vtutil::CAutoBackupDlg>([=](vtutil::CAutoBackupDlg *dlg) {
            dlg->DateEdit()->setDate(when.date());
            dlg->TimeEdit()->setTime(when.time());
            dlg->RepeatList()->setCurrentIndex(repeat);
            (goOn ? dlg->GoOnButton() : dlg->StopButton())->setChecked(true);
            vttest::Later([dlg] { dlg->SetButton()->click(); });
        });
        window.Action(CBackupRestoreDlg::Command::AutomaticBackup)->trigger();
        QVERIFY(answerer.Done());
        QVERIFY(window.AutoMode());
    }

    void TickAt(int64_t t) {
        clock.now = t;
        vttest::KeepCwd keep;
        window.Automatic()->Tick();
    }

    int ResultKind() const { return window.ResultWindow() ? window.ResultWindow()->Kind() : 0; }
    void CloseResult() {
        QVERIFY(window.ResultWindow());
        window.ResultWindow()->OkButton()->click();
    }
    size_t Runs() const { return device.CountRequests("boxnwBoxExModeIn?"); }
    std::string Archive(int n) const { return device.sim.dir / QString::asprintf("b/Set_%03d.zip", n).toStdString(); }

    QStringList Log() const {
        QFile file(QString::fromStdString(device.sim.dir / "state/vtbox/BKRT_Log.txt"));
        if (!file.open(QIODevice::ReadOnly)) return {};
        return QString::fromUtf8(file.readAll()).split('\n');
    }
    int CountInLog(const QString &line) const { return static_cast<int>(Log().count(line)); }

    void DeleteBoxOnDevice(uint32_t number) {
        const std::string name = QString::asprintf("B0000%03u", number).toStdString();
        fs::remove(fs::path(device.sim.storeRoot) / "SHR/BOX/DATABASE" / (name + ".XML"));
        fs::remove_all(fs::path(device.sim.storeRoot) / "SHR/BOX/DATA" / name);
    }

    FakeClock clock;
    vttest::UtilityDevice device;
    CBackupRestoreDlg window;
    vttest::ModalAnswerer answerer;
    std::string target;
};

const QString kStars(53, '*');
// The trailer's end line for a kind ("[168] <end text> ").
QString Ended(const QString &endText) { return "[168] " + endText + " "; }

}  // namespace

class AutomaticTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(vtutil::Language::Instance().LoadFrom(VTUTIL_PSEUDO_LIBRARY)); }

    // Daily runs: the waiting window, two numbered backups with three
    // switched-off days between them, then the user stops the schedule.
    void DailyRunsSkipMissedDaysAndNumberTheirFiles() {
        Scheduled s;
        const int64_t start = At(2030, 5, 6, 10, 0);
        s.clock.now = start - 180;
        s.SetUp(start, 1);

        // Waiting: only the action button, captioned to stop, is live.
        QCOMPARE(s.window.ActionButton()->text(), Text(35));
        QVERIFY(s.window.ActionButton()->isEnabled());
        QVERIFY(!s.window.Sheet()->isEnabled());
        QVERIFY(!s.window.Menus()[1]->menuAction()->isEnabled());
        QVERIFY(!s.window.Action(CBackupRestoreDlg::Command::RestoreData)->isEnabled());
        QCOMPARE(s.window.Status()->Activity(), QString("[174] Monday, May 06, 2030, 10:00"));
        QVERIFY(!s.window.Status()->ShowsConnected());
        QVERIFY(s.window.Automatic()->Timer()->isActive());
        QCOMPARE(s.window.Automatic()->Timer()->interval(), 30000);

        s.TickAt(start - 60);
        QCOMPARE(s.Runs(), size_t(0));
        s.TickAt(start + 30);
        QCOMPARE(s.Runs(), size_t(1));
        QCOMPARE(s.ResultKind(), int(CResultDlg::kFinished));
        QCOMPARE(BoxesInFile(s.Archive(1)), (std::vector<uint32_t>{1, 2, 3}));
        // The same facts as a backup by hand: file, size, boxes, documents, time.
        const QStringList summary = s.window.ResultWindow()->Summary()->text().split('\n');
        QCOMPARE(summary.size(), 4);
        QCOMPARE(summary[0], vtutil::FormatValues(Text(413), {QString::fromStdString(s.Archive(1))}));
        QCOMPARE(summary[1], vtutil::FormatValues(Text(414), {vtutil::FileSizeText(fs::file_size(s.Archive(1)))}));
        QCOMPARE(summary[2], vtutil::FormatValues(Text(415), {"3", "3"}));
        QVERIFY(summary[3].startsWith(vtutil::FormatValues(Text(417), {""})));
        QCOMPARE(s.window.Automatic()->State().nextRunTime, At(2030, 5, 7, 10, 0));
        QVERIFY(!s.window.ActionButton()->isEnabled());  // while the result shows
        s.CloseResult();
        QVERIFY(s.window.ActionButton()->isEnabled());

        // Off from the 7th to the 10th: the missed days are skipped.
        s.TickAt(At(2030, 5, 10, 10, 30));
        QCOMPARE(s.Runs(), size_t(1));
        QCOMPARE(s.window.Automatic()->State().nextRunTime, At(2030, 5, 11, 10, 0));
        QCOMPARE(s.window.Status()->Activity(), QString("[174] Saturday, May 11, 2030, 10:00"));
        s.TickAt(At(2030, 5, 11, 10, 0));
        QCOMPARE(s.Runs(), size_t(2));
        QCOMPARE(BoxesInFile(s.Archive(2)), (std::vector<uint32_t>{1, 2, 3}));
        QVERIFY(!fs::exists(s.target));
        s.CloseResult();

        // The user stops it.
        s.answerer.AnswerMessage(QMessageBox::Yes, [](QMessageBox *box) {
            QCOMPARE(box->text(), Text(98));
            QCOMPARE(box->windowTitle(), Text(39));
            QCOMPARE(box->defaultButton(), box->button(QMessageBox::No));
        });
        s.clock.now = At(2030, 5, 11, 12, 0);
        s.window.ActionButton()->click();
        QVERIFY(s.answerer.Done());
        QVERIFY(!s.window.AutoMode());
        QCOMPARE(s.ResultKind(), int(CResultDlg::kStopped));
        QCOMPARE(s.window.ResultWindow()->FirstLine()->text(), Text(550));
        QVERIFY(s.window.ResultWindow()->Summary()->text().isEmpty());
        QVERIFY(!s.window.Automatic()->Timer()->isActive());
        QCOMPARE(s.window.ActionButton()->text(), Text(177));
        QVERIFY(s.window.RefreshAfterAutomatic());

        const QStringList log = s.Log();
        const int run1 = static_cast<int>(log.indexOf("[159] 1"));
        const int run2 = static_cast<int>(log.indexOf("[159] 2"));
        QVERIFY(run1 > 0 && run2 > run1);
        QCOMPARE(log.mid(0, 4), QStringList({kStars, "[151]", kStars, "[152]"}));
        QCOMPARE(log.at(run2 - 1), QString(53, '-'));
        QCOMPARE(log.at(run2 - 2), QString());
        QVERIFY(log.contains("[21] " + QString::fromStdString(s.Archive(1))));
        QVERIFY(log.contains("[21] " + QString::fromStdString(s.Archive(2))));
        QCOMPARE(log.count("[164]"), 2);
        QCOMPARE(s.CountInLog(Ended("[165]")), 1);
        const double kb = (fs::file_size(s.Archive(1)) + 0.0) / 1024 + (fs::file_size(s.Archive(2)) + 0.0) / 1024;
        QVERIFY(kb < 1024);
        QVERIFY(log.contains(QString("[170] %1 KB(s)").arg(static_cast<int>(kb))));
        QCOMPARE(log.at(log.size() - 2), kStars);

        // Closing the result takes the device up again.
        s.CloseResult();
        QVERIFY(s.device.session.Connected());
        QVERIFY(s.window.Sheet()->isEnabled());
        QCOMPARE(s.window.BackupPage()->List()->topLevelItemCount(), 3);
        QVERIFY(s.answerer.Unexpected().isEmpty());
    }

    // The device is slow to take the connection: the timer beats while the
    // run waits for it, and starts no second run.
    void ATimerBeatWhileARunConnectsStartsNothing() {
        Scheduled s;
        const int64_t start = At(2030, 5, 6, 10, 0);
        s.clock.now = start - 60;
        s.SetUp(start, 1);
        s.device.sim.faults().DelayReply("*", 2, 1);
        s.answerer.LetStay<vtutil::CDeviceWaitDlg>();
        bool beat = false;
        QTimer::singleShot(300, &s.window, [&] {
            beat = true;
            s.window.Automatic()->Tick();
        });
        s.TickAt(start);
        QVERIFY(beat);
        QCOMPARE(s.Runs(), size_t(1));
        QCOMPARE(s.ResultKind(), int(CResultDlg::kFinished));
        QCOMPARE(s.CountInLog("[159] 1"), 1);
        QCOMPARE(s.CountInLog("[164]"), 1);
        QVERIFY(!fs::exists(s.Archive(2)));
    }

    // A target in a folder that is not there: the set-up asks, as Start
    // Backup does, and makes it; a run that finds it gone makes it again.
    void ATargetFolderMadeAtSetUpIsMadeAgainByARun() {
        Scheduled s;
        const std::string folder = s.device.sim.dir / "b/new/deeper";
        s.target = folder + "/Set.zip";
        s.window.BackupPage()->TargetEdit()->setText(QString::fromStdString(s.target));
        const int64_t start = At(2030, 5, 6, 10, 0);
        s.clock.now = start - 60;
        s.answerer.AnswerMessage(QMessageBox::Yes, [](QMessageBox *box) { QCOMPARE(box->text(), Text(139)); });
        s.SetUp(start, 1);
        QVERIFY(fs::is_directory(folder));
        fs::remove_all(s.device.sim.dir / "b/new");
        s.TickAt(start);
        QCOMPARE(s.ResultKind(), int(CResultDlg::kFinished));
        QCOMPARE(BoxesInFile(folder + "/Set_001.zip"), (std::vector<uint32_t>{1, 2, 3}));
        QVERIFY(s.answerer.Unexpected().isEmpty());
    }

    // A second schedule on the same file name starts numbering after the
    // first one's files, and says so in its log: nothing is replaced.
    void ASecondScheduleKeepsTheFirstOnesFiles() {
        Scheduled s;
        const auto stop = [&s] {
            s.answerer.AnswerMessage(QMessageBox::Yes);
            s.window.ActionButton()->click();
            QVERIFY(s.answerer.Done());
            s.CloseResult();
        };
        const int64_t start = At(2030, 5, 6, 10, 0);
        s.clock.now = start - 60;
        s.SetUp(start, 1);
        s.TickAt(start);
        s.CloseResult();
        s.TickAt(At(2030, 5, 7, 10, 0));
        s.CloseResult();
        stop();
        const std::string first = Contents(s.Archive(1)), second = Contents(s.Archive(2));
        QVERIFY(!first.empty() && !second.empty());

        s.window.BackupPage()->TargetEdit()->setText(QString::fromStdString(s.target));
        s.clock.now = At(2030, 6, 1, 9, 0);
        s.SetUp(At(2030, 6, 1, 10, 0), 1);
        s.TickAt(At(2030, 6, 1, 10, 0));
        QCOMPARE(s.ResultKind(), int(CResultDlg::kFinished));
        s.CloseResult();
        s.TickAt(At(2030, 6, 2, 10, 0));
        QCOMPARE(s.ResultKind(), int(CResultDlg::kFinished));
        QCOMPARE(Contents(s.Archive(1)), first);
        QCOMPARE(Contents(s.Archive(2)), second);
        QCOMPARE(BoxesInFile(s.Archive(3)), (std::vector<uint32_t>{1, 2, 3}));
        QCOMPARE(BoxesInFile(s.Archive(4)), (std::vector<uint32_t>{1, 2, 3}));
        const QStringList log = s.Log();
        QCOMPARE(log.count("[500]"), 1);  // the first run of the new schedule only
        QVERIFY(log.contains("[21] " + QString::fromStdString(s.Archive(3))));
        QVERIFY(log.contains("[21] " + QString::fromStdString(s.Archive(4))));
        QVERIFY(!log.contains("[21] " + QString::fromStdString(s.Archive(1))));
    }

    // A single run's result window is open after the schedule has ended:
    // nothing the user does on the pages enables Start until it closes.
    void StartStaysOffWhileAResultWindowIsOpen() {
        Scheduled s;
        const int64_t start = At(2030, 5, 6, 10, 0);
        s.clock.now = start - 60;
        s.SetUp(start, 0);
        s.TickAt(start);
        QCOMPARE(s.ResultKind(), int(CResultDlg::kFinished));
        QVERIFY(!s.window.AutoMode());
        QVERIFY(s.window.Sheet()->isEnabled());
        s.window.Sheet()->setCurrentIndex(1);
        s.window.Sheet()->setCurrentIndex(0);
        QVERIFY(!s.window.ActionButton()->isEnabled());
        s.window.BackupPage()->List()->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
        s.window.BackupPage()->List()->topLevelItem(0)->setCheckState(0, Qt::Checked);
        QVERIFY(!s.window.ActionButton()->isEnabled());
        s.CloseResult();
        s.window.BackupPage()->TargetEdit()->setText(QString::fromStdString(s.device.sim.dir / "b/Other.zip"));
        QVERIFY(s.window.ActionButton()->isEnabled());
    }

    // Monthly from 31 January; then the program is closed, which ends the
    // schedule with the stopped trailer.
    void MonthlyFromTheLastOfJanuary() {
        Scheduled s;
        const int64_t start = At(2030, 1, 31, 22, 0);
        s.clock.now = start - 3600;
        s.SetUp(start, 3, false);
        s.TickAt(start);
        QCOMPARE(s.ResultKind(), int(CResultDlg::kFinished));
        QCOMPARE(s.window.Automatic()->State().nextRunTime, At(2030, 3, 3, 22, 0));

        s.answerer.AnswerMessage(QMessageBox::Cancel);
        s.window.close();
        QVERIFY(s.window.isVisible());
        QVERIFY(s.window.AutoMode());
        s.answerer.AnswerMessage(QMessageBox::Ok, [](QMessageBox *box) {
            QCOMPARE(box->text(), Text(121));
            QCOMPARE(box->windowTitle(), Text(141));
        });
        s.window.close();
        QVERIFY(s.answerer.Done());
        QVERIFY(!s.window.isVisible());
        QCOMPARE(s.CountInLog(Ended("[165]")), 1);
        QVERIFY(s.Log().contains("[41] [146]"));
        QVERIFY(s.Log().contains("[155] [149]"));
    }

    // The start must lie ahead, and no later than 18 January 2038 (the
    // schedule's times are 32-bit); the window stays open until it does.
    void TheStartIsChecked() {
        Scheduled s;
        s.clock.now = At(2037, 12, 1, 10, 0) + 30;
        const auto setStart = [&s](QDate date, QTime time) {
            s.answerer.OnDialog<vtutil::CAutoBackupDlg>([=](vtutil::CAutoBackupDlg *dlg) {
                dlg->DateEdit()->setDate(date);
                dlg->TimeEdit()->setTime(time);
                vttest::Later([dlg] { dlg->SetButton()->click(); });
            });
        };
        setStart(QDate(2037, 12, 1), QTime(10, 0));
        s.answerer.AnswerMessage(QMessageBox::Ok);
        setStart(QDate(2038, 1, 19), QTime(9, 0));
        s.answerer.AnswerMessage(QMessageBox::Ok);
        setStart(QDate(2038, 1, 18), QTime(23, 59));
        s.window.Action(CBackupRestoreDlg::Command::AutomaticBackup)->trigger();
        QVERIFY(s.answerer.Done());
        QCOMPARE(s.answerer.Messages().size(), size_t(2));
        QCOMPARE(s.answerer.Messages()[0].text, Text(58));
        QCOMPARE(s.answerer.Messages()[1].text, Text(57));
        QCOMPARE(s.answerer.Messages()[1].caption, Text(39));
        QVERIFY(s.window.AutoMode());
        QCOMPARE(s.window.Automatic()->State().nextRunTime, At(2038, 1, 18, 23, 59));
    }

    void AMissedSingleRunEndsTheSchedule() {
        Scheduled s;
        const int64_t start = At(2030, 5, 6, 10, 0);
        s.clock.now = start - 600;
        s.SetUp(start, 0);
        s.answerer.AnswerMessage(QMessageBox::Ok);
        s.TickAt(start + 120);
        QVERIFY(s.answerer.Done());
        QCOMPARE(s.answerer.Messages().back().text, Text(58));
        QCOMPARE(s.answerer.Messages().back().caption, Text(88));
        QCOMPARE(s.answerer.Messages().back().icon, QMessageBox::Critical);
        QCOMPARE(s.Runs(), size_t(0));
        QVERIFY(!s.window.AutoMode());
        QCOMPARE(s.CountInLog(Ended("[166]")), 1);
        // No result window: the pages come back at once.
        QVERIFY(s.device.session.Connected());
        QVERIFY(s.window.Sheet()->isEnabled());
        QCOMPARE(s.window.ActionButton()->text(), Text(177));
        QCOMPARE(s.window.BackupPage()->List()->CountChecked(), 3);
        QVERIFY(s.window.Action(CBackupRestoreDlg::Command::AutomaticBackup)->isEnabled());
    }

    // RetryCount 2: a time-out three times gives two planned retries and
    // then the end of the schedule.
    void FailedRunsAreRetriedWithinTheBudget() {
        Scheduled s;
        vttest::WriteBrdValues({{"RetryCount", "2"}, {"RetryInterval", "1"}});
        const int64_t start = At(2030, 5, 6, 10, 0);
        s.clock.now = start - 60;
        s.SetUp(start, 1);
        // Result 100 reads as a time-out (1460).
        s.device.sim.faults().ForceResult("boxnwBoxExModeIn", 100, 3);

        s.TickAt(start);
        QCOMPARE(s.ResultKind(), int(CResultDlg::kRetryPlanned));
        QVERIFY(s.window.Automatic()->State().retryPending);
        QCOMPARE(s.window.Status()->Activity(), QString("[174] Monday, May 06, 2030, 10:01"));
        s.CloseResult();
        s.TickAt(start + 60);
        QCOMPARE(s.ResultKind(), int(CResultDlg::kRetryPlanned));
        QVERIFY(s.window.AutoMode());
        s.TickAt(start + 120);
        QCOMPARE(s.ResultKind(), int(CResultDlg::kRetriesUsedUp));
        QCOMPARE(s.Runs(), size_t(3));
        QVERIFY(!s.window.AutoMode());
        QVERIFY(!fs::exists(s.Archive(1)));

        const QStringList log = s.Log();
        QCOMPARE(log.count("[159] 1"), 1);  // retries belong to the same run
        QCOMPARE(log.count("[167]"), 2);
        QCOMPARE(log.indexOf("[173]"), log.indexOf("[166]") + 1);
        QCOMPARE(s.CountInLog(Ended("[166]")), 1);
        QCOMPARE(s.device.CountRequests("boxnwBoxExModeOut?"), size_t(0));
        QVERIFY(s.answerer.Unexpected().isEmpty());
    }

    void AWrongPasswordIsNotRetried() {
        Scheduled s;
        const int64_t start = At(2030, 5, 6, 10, 0);
        s.clock.now = start - 60;
        s.SetUp(start, 1);
        // Result 2 reads as a refused password (1216).
        s.device.sim.faults().ForceResult("boxnwBoxExModeIn", 2, 1);
        s.TickAt(start);
        QCOMPARE(s.ResultKind(), int(CResultDlg::kFailed));
        QCOMPARE(s.window.ResultWindow()->SecondLine()->text(), vtutil::ErrorTextFor(1216));
        QVERIFY(s.window.AutoMode());
        QVERIFY(!s.window.Automatic()->State().retryPending);
        QCOMPARE(s.window.Automatic()->State().nextRunTime, At(2030, 5, 7, 10, 0));
        const QStringList log = s.Log();
        QCOMPARE(log.at(log.indexOf("[166]") + 1), vtutil::ShortErrorText(1216));
        // Behind Show Details, the engine's account of the failure, then its code.
        const auto details = [&s] {
            CResultDlg *result = s.window.ResultWindow();
            if (!result->DetailsButton()) return QString("<no details>");
            result->DetailsButton()->click();
            return result->Details()->isVisible() && result->DetailsButton()->text() == Text(622)
                       ? result->Details()->toPlainText()
                       : QString("<hidden>");
        };
        QVERIFY(!s.window.ResultWindow()->Details()->isVisible());
        QString shown = details();
        QVERIFY2(shown.endsWith("\n" + vtutil::FailureDetails(1216)) && shown.contains("Result 2"), qPrintable(shown));

        // The next day's login is refused: its detail is the session's.
        s.CloseResult();
        s.device.sim.faults().ForceResult("boxnwGetEngineVersion", 2, 1);
        s.TickAt(At(2030, 5, 7, 10, 0));
        QCOMPARE(s.ResultKind(), int(CResultDlg::kFailed));
        shown = details();
        QVERIFY2(shown.endsWith("\n" + vtutil::FailureDetails(1216)) && shown.contains("Result 2"), qPrintable(shown));

        // The day after goes through and takes the first number.
        s.CloseResult();
        s.TickAt(At(2030, 5, 8, 10, 0));
        QCOMPARE(s.ResultKind(), int(CResultDlg::kFinished));
        QVERIFY(!s.window.ResultWindow()->DetailsButton());
        QVERIFY(fs::exists(s.Archive(1)));
    }

    // A retry that fails for a reason waiting cannot cure ends that run's
    // tries: the next regular run is a run of its own again (its heading,
    // its number, its full budget), not a further retry.
    void ARetryFailingForGoodClearsTheRetryCount() {
        Scheduled s;
        vttest::WriteBrdValues({{"RetryCount", "3"}, {"RetryInterval", "1"}});
        const int64_t start = At(2030, 5, 6, 10, 0);
        s.clock.now = start - 60;
        s.SetUp(start, 1);
        s.device.sim.faults().ForceResult("boxnwBoxExModeIn", 100, 1);  // a time-out: tried again
        s.TickAt(start);
        QCOMPARE(s.ResultKind(), int(CResultDlg::kRetryPlanned));
        QCOMPARE(s.device.app.retryCounter, 1u);
        s.device.sim.faults().ForceResult("boxnwBoxExModeIn", 2, 1);  // a refused password: not tried again
        s.TickAt(start + 60);
        QCOMPARE(s.ResultKind(), int(CResultDlg::kFailed));
        QVERIFY(!s.window.Automatic()->State().retryPending);
        QCOMPARE(s.device.app.retryCounter, 0u);

        s.device.sim.faults().ForceResult("boxnwBoxExModeIn", 100, 1);
        s.TickAt(At(2030, 5, 7, 10, 0));
        QCOMPARE(s.ResultKind(), int(CResultDlg::kRetryPlanned));
        QCOMPARE(s.device.app.retryCounter, 1u);
        s.TickAt(At(2030, 5, 7, 10, 1));
        QCOMPARE(s.ResultKind(), int(CResultDlg::kFinished));
        QVERIFY(fs::exists(s.Archive(1)));

        const QStringList log = s.Log();
        QCOMPARE(log.count("[159] 1"), 1);
        QCOMPARE(log.count("[159] 2"), 1);
        QVERIFY(log.indexOf("[159] 2") > log.indexOf("[166]"));
        QCOMPARE(log.count("[167]"), 2);
    }

    // The file is written but the panel stays locked: the run is finished,
    // and both the result window and the log say the device was not released.
    void ARunWhoseDeviceWasNotReleased() {
        Scheduled s;
        const int64_t start = At(2030, 5, 6, 10, 0);
        s.clock.now = start - 60;
        s.SetUp(start, 1);
        // The device refuses every unlock; the release gives up after its bound.
        vttest::ScopedEnv releaseBound("VTBOX_RELEASE_SECONDS", "1");
        s.device.sim.faults().ForceResult("boxnwBoxExModeOut", 203);
        s.TickAt(start);
        s.device.sim.faults().Clear();
        QCOMPARE(s.ResultKind(), int(CResultDlg::kFinished));
        QCOMPARE(s.window.ResultWindow()->SecondLine()->text(), Text(501));
        QVERIFY(fs::exists(s.Archive(1)));
        const QStringList log = s.Log();
        QCOMPARE(log.at(log.indexOf("[164]") + 1), QString("[501]"));
        QVERIFY(!s.window.Automatic()->State().retryPending);
    }

    // The device freezes right after a run gave it back: the end of the
    // session between runs is given up after the release's bound, not the end
    // page's time-out (minutes), the log says the device ends it by itself,
    // and the schedule goes on.
    void ADeviceFrozenAfterARunIsLeftWithinTheBound() {
        Scheduled s;
        const int64_t start = At(2030, 5, 6, 10, 0);
        s.clock.now = start - 60;
        s.SetUp(start, 1);
        vttest::ScopedEnv releaseBound("VTBOX_RELEASE_SECONDS", "2");
        s.device.sim.faults().FreezeAfter("boxnwBoxExModeOut", devicesim::FreezeScope::Device, 0);
        QElapsedTimer run;
        run.start();
        s.TickAt(start);
        const qint64 took = run.elapsed();
        s.device.sim.faults().Thaw();
        QCOMPARE(s.ResultKind(), int(CResultDlg::kFinished));
        QCOMPARE(s.window.ResultWindow()->SecondLine()->text(), QString());
        QVERIFY(fs::exists(s.Archive(1)));
        QVERIFY2(took < 60000, qPrintable(QString::number(took)));
        const QStringList log = s.Log();
        QCOMPARE(log.count("[620]"), 1);
        QVERIFY(log.indexOf("[620]") > log.indexOf("[164]"));
        QVERIFY(s.window.AutoMode());
    }

    void ABoxDeletedWhileTheScheduleGoesOn() {
        Scheduled s;
        const VTBOX second = s.device.session.BoxList()[1];
        const int64_t start = At(2030, 5, 6, 10, 0);
        s.clock.now = start - 60;
        s.SetUp(start, 2, true);
        s.DeleteBoxOnDevice(2);
        s.TickAt(start);
        QCOMPARE(s.ResultKind(), int(CResultDlg::kFinished));
        QCOMPARE(BoxesInFile(s.Archive(1)), (std::vector<uint32_t>{1, 3}));
        QVERIFY(s.window.AutoMode());
        QCOMPARE(s.window.BackupPage()->List()->CheckedNumbers(), (std::vector<uint32_t>{1, 3}));
        const QStringList log = s.Log();
        const qsizetype deleted = log.indexOf("[162]");
        QVERIFY(deleted > 0);
        QCOMPARE(log.at(deleted - 1), QString());
        QCOMPARE(log.at(deleted + 3), "\t002 " + vtutil::BoxNameText(second.BoxName, sizeof second.BoxName));
        QCOMPARE(log.at(deleted + 4), "[21] " + QString::fromStdString(s.Archive(1)));
    }

    void ABoxDeletedStopsTheSchedule() {
        Scheduled s;
        const int64_t start = At(2030, 5, 6, 10, 0);
        s.clock.now = start - 60;
        s.SetUp(start, 1, false);
        s.DeleteBoxOnDevice(3);
        s.TickAt(start);
        QCOMPARE(s.ResultKind(), int(CResultDlg::kBoxesDeleted));
        QCOMPARE(s.Runs(), size_t(0));
        QVERIFY(!s.window.AutoMode());
        QVERIFY(!s.window.Automatic()->Timer()->isActive());
        const QStringList log = s.Log();
        QCOMPARE(log.count(kStars), 5);  // the header's three and one trailer's two
        QCOMPARE(log.count("[168] [166]"), 1);
        QCOMPARE(log.count("[171] "), 1);
        s.CloseResult();
        QVERIFY(s.device.session.Connected());
        QCOMPARE(s.window.BackupPage()->List()->topLevelItemCount(), 2);
    }
};

QTEST_MAIN(AutomaticTest)
#include "test_automatic.moc"
