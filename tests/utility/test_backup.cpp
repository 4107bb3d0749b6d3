// The backup page and its job against the simulated device: a whole backup
// from the page, cancelling, a device that drops off mid-job, and the checks
// of the backup file as it is typed and when the job starts.
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>

#include "backup_page.hpp"
#include "backup_restore_dlg.hpp"
#include "box_list.hpp"
#include "br_file_dialog.hpp"
#include "busy_animation.hpp"
#include "error_text.hpp"
#include "job_figures.hpp"
#include "job_files.hpp"
#include "language.hpp"
#include "modal_answerer.hpp"
#include "progress_dlg.hpp"
#include "restore_pg.hpp"
#include "size_texts.hpp"
#include "status_bar.hpp"
#include "text_format.hpp"
#include "utility_fixture.hpp"
#include "vthandles.hpp"

using vtutil::CProgressDlg;
using vtutil::Text;

namespace {

namespace fs = std::filesystem;

// What the progress window showed while it was up, sampled from a timer.
class ProgressWatch : public QObject {
public:
    ProgressWatch() {
        connect(&timer_, &QTimer::timeout, this, [this] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                auto *progress = qobject_cast<CProgressDlg *>(w);
                if (!progress || !progress->isVisible()) continue;
                percents.insert(progress->Bar()->value());
                phases.insert(progress->PhaseLine()->text());
                const QLabel *where = progress->StatusLine();
                if (!where->text().isEmpty()) statusLines.insert(where->text());
                if (QFontMetrics(where->font()).horizontalAdvance(where->text()) > where->contentsRect().width())
                    overflowed = true;
                if (!progress->FiguresLine()->text().isEmpty()) figuresLines.insert(progress->FiguresLine()->text());
                if (!progress->DocumentsLine()->text().isEmpty())
                    documentLines.insert(progress->DocumentsLine()->text());
                if (progress->Animation()->Playing()) sawAnimation = true;
            }
        });
        timer_.start(10);
    }
    std::set<int> percents;
    std::set<QString> phases, statusLines, documentLines, figuresLines;
    bool sawAnimation = false;
    bool overflowed = false;  // a status line wider than its room

private:
    QTimer timer_;
};

// A device whose backup takes a little while: enough documents that the
// progress window shows the download.
vttest::SimOptions BusyDevice() {
    vttest::SimOptions o;
    o.seed.docs = 10;
    return o;
}

struct Window {
    explicit Window(vttest::UtilityDevice &device) : window(device.app, device.session) { window.show(); }
    vtutil::CBackupPage *Page() { return window.BackupPage(); }
    QLineEdit *Target() { return Page()->TargetEdit(); }
    vtutil::CBackupRestoreDlg window;
};

std::vector<uint32_t> BoxesInFile(const std::string &path, std::string *version = nullptr) {
    VTBACKUPINFO info{};
    uint32_t count = 0;
    VTBOXBK *boxes = nullptr;
    void *handle = nullptr;
    const std::string folder = fs::path(path).parent_path().string();
    if (vtBoxGetXMLInfo(path.c_str(), folder.c_str(), &info, &count, &boxes, &handle) != 0) return {};
    std::vector<uint32_t> numbers;
    for (uint32_t i = 0; i < count; ++i) numbers.push_back(boxes[i].BoxNo);
    if (version) *version = info.EngineVersion;
    GlobalFree(handle);
    return numbers;
}

// The documents a backup file's description counts.
int DocumentsInFile(const std::string &path) {
    VTBACKUPINFO info{};
    uint32_t count = 0;
    VTBOXBK *boxes = nullptr;
    void *handle = nullptr;
    const std::string folder = fs::path(path).parent_path().string();
    if (vtBoxGetXMLInfo(path.c_str(), folder.c_str(), &info, &count, &boxes, &handle) != 0) return -1;
    vt::GlobalBlock owner(handle);
    int documents = 0;
    for (uint32_t i = 0; i < count; ++i) documents += static_cast<int>(boxes[i].NumOfDocs);
    return documents;
}

// The device was given back: the lock (a backup's, mode 0) and the FTP
// account of the job are gone.
void ExpectDeviceReleased(vttest::UtilityDevice &device) {
    QCOMPARE(device.CountRequests("boxnwBoxExModeIn?", "&MOD=0"), size_t(1));
    QCOMPARE(device.CountRequests("boxnwBoxExModeOut?", "&MOD=0"), size_t(1));
    QCOMPARE(device.CountRequests("boxnwBoxExModeIn?"), size_t(1));
    QCOMPARE(device.CountRequests("boxnwCreateFTPAccount?"), size_t(1));
    QCOMPARE(device.CountRequests("boxnwDeleteFTPAccount?"), size_t(1));
}

void ExpectCancelQuestion(QMessageBox *box) {
    QCOMPARE(box->windowTitle(), Text(108));
    QCOMPARE(box->text(), Text(49));
    QCOMPARE(box->defaultButton(), box->button(QMessageBox::No));
}

// Types a name into the file dialog's name field, as a user would.
void TypeFileName(QFileDialog *dialog, const QString &name) {
    auto *field = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    QVERIFY(field);
    field->setText(name);
}

}  // namespace

class BackupTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(vtutil::Language::Instance().LoadFrom(VTUTIL_LANGUAGE_LIBRARY)); }

    void AWholeBackupFromThePage() {
        vttest::KeepCwd keep;
        vttest::UtilityDevice device(BusyDevice());
        device.Login();
        Window w(device);
        QCOMPARE(w.Page()->List()->CountChecked(), 3);
        w.Page()->List()->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
        QVERIFY(!w.window.ActionButton()->isEnabled());

        // Capital letters stay: the file is written under the name as typed.
        const std::string folder = device.sim.dir / "Backups";
        fs::create_directories(folder);
        const std::string target = folder + "/Office.ZIP";
        w.Target()->setText(QString::fromStdString(target));
        QVERIFY(w.window.ActionButton()->isEnabled());

        // The download stands still three times for a moment, so that the
        // window is seen at three points of the job however fast it runs.
        for (unsigned nth : {2u, 10u, 20u})
            device.sim.faults().FreezeInTransfer(devicesim::FreezeScope::Ftp, nth, 0, 1);
        ProgressWatch watch;
        vttest::ModalAnswerer answerer;
        answerer.LetStay<CProgressDlg>();
        answerer.AnswerMessage(QMessageBox::Ok);
        w.window.ActionButton()->click();

        QVERIFY(answerer.Done());
        QVERIFY2(answerer.Unexpected().isEmpty(), qPrintable(answerer.Unexpected().join('\n')));
        QCOMPARE(answerer.Messages()[0].caption, Text(43));
        QCOMPARE(answerer.Messages()[0].icon, QMessageBox::Information);
        // What was written: the file as typed, its size, the boxes with
        // their documents, the time taken.
        const QStringList lines = answerer.Messages()[0].text.split('\n');
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines[0], Text(51));
        QCOMPARE(lines[1], vtutil::FormatValues(Text(413), {QString::fromStdString(target)}));
        QCOMPARE(lines[2], vtutil::FormatValues(Text(414), {vtutil::FileSizeText(fs::file_size(target))}));
        QCOMPARE(lines[3], vtutil::FormatValues(Text(415), {"2", QString::number(DocumentsInFile(target))}));
        QVERIFY2(lines[4].startsWith(vtutil::FormatValues(Text(417), {""})), qPrintable(lines[4]));

        // The window moved on and showed where the job was.
        QVERIFY2(watch.percents.size() >= 3, qPrintable(QString::number(watch.percents.size())));
        QVERIFY(watch.phases.count(Text(92)));
        QVERIFY(!watch.statusLines.empty());
        // The names use the line's room and are cut only where they would
        // leave it: beside the long seeded box name (some 45 characters) a
        // document's name shows in part, where a cut to 30 characters left
        // only "...".
        QVERIFY(!watch.overflowed);
        QVERIFY(std::any_of(watch.statusLines.begin(), watch.statusLines.end(),
                            [](const QString &line) { return line.contains("\\Doc "); }));
        // Elapsed time, then time left and speed once there is a pace; the
        // speed counts the bytes downloaded, small files kept in memory too.
        QVERIFY(std::any_of(watch.figuresLines.begin(), watch.figuresLines.end(), [](const QString &line) {
            auto label = [](uint32_t id) { return Text(id).section('%', 0, 0); };
            return line.startsWith(label(419)) && line.contains(label(420)) && line.contains(label(421)) &&
                   !line.endsWith(vtutil::SpeedText(0));
        }));
        QVERIFY(watch.documentLines.size() >= 2);
        for (const QString &line : watch.documentLines) QVERIFY(line.startsWith(Text(113) + " "));
        QVERIFY(watch.sawAnimation);

        std::string version;
        QCOMPARE(BoxesInFile(target, &version), (std::vector<uint32_t>{1, 3}));
        QCOMPARE(version, std::string("Korvo-B V1.3.0.0"));
        QVERIFY(!fs::exists(folder + "/office.zip"));
        QVERIFY(vttest::WorkFoldersIn(folder).empty());
        ExpectDeviceReleased(device);
        QVERIFY(device.session.Connected());
    }

    void CancelAnsweredNoLetsTheJobFinish() {
        vttest::KeepCwd keep;
        vttest::UtilityDevice device;
        device.Login();
        // Two slow box replies keep the job busy while the question is up.
        device.sim.faults().DelayReply("boxnwGetBoxProperty", 1, 2);
        Window w(device);
        const std::string target = device.sim.dir / "office.zip";
        w.Target()->setText(QString::fromStdString(target));

        vttest::ModalAnswerer answerer;
        answerer.LetStay<CProgressDlg>();
        // Escape does nothing; the close box asks as Cancel does.
        answerer.OnDialog<CProgressDlg>([](CProgressDlg *progress) {
            vttest::Later([progress] {
                QTest::keyClick(progress, Qt::Key_Escape);
                QVERIFY(progress->isVisible());
                progress->close();
            });
        });
        answerer.AnswerMessage(QMessageBox::No, ExpectCancelQuestion);
        answerer.AnswerMessage(QMessageBox::Ok);
        w.window.ActionButton()->click();

        QVERIFY(answerer.Done());
        QVERIFY2(answerer.Unexpected().isEmpty(), qPrintable(answerer.Unexpected().join('\n')));
        QVERIFY(answerer.Messages()[1].text.startsWith(Text(51) + "\n"));
        QCOMPARE(BoxesInFile(target), (std::vector<uint32_t>{1, 2, 3}));
        ExpectDeviceReleased(device);
    }

    void CancelAnsweredYesStopsTheJob() {
        vttest::KeepCwd keep;
        vttest::UtilityDevice device;
        device.Login();
        device.sim.faults().DelayReply("boxnwGetBoxProperty", 1, 2);
        Window w(device);
        const std::string target = device.sim.dir / "office.zip";
        w.Target()->setText(QString::fromStdString(target));

        // Cancel is pressed once the engine has asked for the first box (the
        // FTP account made before it; steps that have not begun wait while the
        // question is up).
        const size_t asked = device.CountRequests("boxnwGetBoxProperty?");
        vttest::ModalAnswerer answerer;
        answerer.LetStay<CProgressDlg>();
        answerer.Then([&](QWidget *modal) {
            auto *progress = qobject_cast<CProgressDlg *>(modal);
            if (!progress || device.CountRequests("boxnwGetBoxProperty?") == asked) return false;
            vttest::Later([progress] { progress->CancelButton()->click(); });
            return true;
        });
        answerer.AnswerMessage(QMessageBox::Yes, ExpectCancelQuestion);
        answerer.AnswerMessage(QMessageBox::Ok);
        w.window.ActionButton()->click();

        QVERIFY(answerer.Done());
        QVERIFY2(answerer.Unexpected().isEmpty(), qPrintable(answerer.Unexpected().join('\n')));
        // The cancellation, without a detail, and the device given back.
        QCOMPARE(answerer.Messages()[1].caption, Text(43));
        QCOMPARE(answerer.Messages()[1].text, Text(53) + "\n\n" + Text(654));
        QCOMPARE(answerer.Messages()[1].icon, QMessageBox::Warning);
        QVERIFY(!fs::exists(target));
        QVERIFY(vttest::WorkFoldersIn(device.sim.dir.path()).empty());
        ExpectDeviceReleased(device);
        QVERIFY(device.session.Connected());
    }

    // A cancel confirmed after the engine wrote the file's last byte does
    // not call a complete backup cancelled.
    void CancelAfterTheLastStepReportsTheFinishedBackup() {
        vttest::KeepCwd keep;
        vttest::UtilityDevice device;
        device.Login();
        Window w(device);
        const std::string target = device.sim.dir / "office.zip";
        w.Target()->setText(QString::fromStdString(target));

        // Cancel is pressed once the engine's work has begun (the steps
        // before it wait while the question is up); the first download is
        // held until then.
        device.sim.faults().FreezeInTransfer(devicesim::FreezeScope::Ftp, 1, 0, 0);
        vttest::ModalAnswerer answerer;
        answerer.LetStay<CProgressDlg>();
        answerer.Then([&](QWidget *modal) {
            auto *progress = qobject_cast<CProgressDlg *>(modal);
            if (!progress || progress->PhaseLine()->text() != Text(92)) return false;
            vttest::Later([progress] { progress->CancelButton()->click(); });
            return true;
        });
        answerer.AnswerMessage(QMessageBox::Yes, [&](QMessageBox *) {
            // The engine goes on while the question is up; answer once it
            // has moved the finished file into place.
            device.sim.faults().Thaw();
            QTRY_VERIFY_WITH_TIMEOUT(fs::exists(target), 20000);
        });
        answerer.AnswerMessage(QMessageBox::Ok);
        w.window.ActionButton()->click();

        QVERIFY(answerer.Done());
        QVERIFY(answerer.Messages()[1].text.startsWith(Text(51) + "\n"));
        QCOMPARE(BoxesInFile(target), (std::vector<uint32_t>{1, 2, 3}));
        ExpectDeviceReleased(device);
    }

    // A device that stops answering at any step of the job. A confirmed
    // cancel says "Stopping..." at once with Cancel disabled, cuts the wait,
    // and the job ends cancelled, saying whether the device was released;
    // with nobody there, the wait ends by itself after its bound.
    void CancelEndsEveryWaitOfAFrozenDevice_data() {
        QTest::addColumn<QString>("page");  // frozen from its next request on; empty: the FTP transfers
        QTest::addColumn<int>("shown");     // the first line that the cancel waits for
        QTest::addColumn<bool>("cancel");
        QTest::newRow("lock") << "boxnwBoxExModeIn" << 650 << true;
        QTest::newRow("account") << "boxnwCreateFTPAccount" << 651 << true;
        QTest::newRow("listing") << "boxnwGetBoxProperty" << 94 << true;
        QTest::newRow("transfer") << "" << 92 << true;
        QTest::newRow("lock, nobody there") << "boxnwBoxExModeIn" << 650 << false;
    }

    void CancelEndsEveryWaitOfAFrozenDevice() {
        QFETCH(QString, page);
        QFETCH(int, shown);
        QFETCH(bool, cancel);
        vttest::KeepCwd keep;
        vttest::ScopedEnv releaseBound("VTBOX_RELEASE_SECONDS", "4");
        vttest::UtilityDevice device;
        device.Login();
        Window w(device);
        const std::string target = device.sim.dir / "office.zip";
        w.Target()->setText(QString::fromStdString(target));
        if (page.isEmpty())
            device.sim.faults().FreezeInTransfer(devicesim::FreezeScope::Ftp, 1, 0, 0);
        else
            device.sim.faults().FreezeOn(page.toStdString(), devicesim::FreezeScope::Web, 0);

        // What the window shows from the confirmed cancel on.
        bool confirmed = false;
        QPointer<QMessageBox> question;
        QStringList afterYes;
        QElapsedTimer sinceYes;
        QTimer sample;
        QObject::connect(&sample, &QTimer::timeout, [&] {
            // Not while the question is still there: a closed box's loop may
            // still run a turn before the window goes on from its answer.
            if (question || qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) return;
            for (QWidget *top : QApplication::topLevelWidgets()) {
                auto *progress = qobject_cast<CProgressDlg *>(top);
                if (!confirmed || !progress || !progress->isVisible()) continue;
                const QString seen = progress->PhaseLine()->text();
                if (afterYes.isEmpty() || afterYes.last() != seen) afterYes << seen;
                // Only the release's Stop Waiting may be pressed.
                if (progress->CancelButton()->isEnabled()) QCOMPARE(progress->CancelButton()->text(), Text(403));
            }
        });
        sample.start(5);
        vttest::ModalAnswerer answerer;
        answerer.LetStay<CProgressDlg>();
        QString details;
        if (cancel) {
            answerer.Then([&](QWidget *modal) {
                auto *progress = qobject_cast<CProgressDlg *>(modal);
                if (!progress || progress->PhaseLine()->text() != Text(shown)) return false;
                vttest::Later([progress] { progress->CancelButton()->click(); });
                return true;
            });
            answerer.AnswerMessage(QMessageBox::Yes, [&](QMessageBox *box) {
                question = box;
                confirmed = true;
                sinceYes.start();
            });
        }
        answerer.AnswerMessage(QMessageBox::Ok, [&](QMessageBox *box) { details = box->detailedText(); });
        w.window.ActionButton()->click();
        const qint64 seconds = sinceYes.isValid() ? sinceYes.elapsed() / 1000 : -1;
        device.sim.faults().Thaw();

        QVERIFY(answerer.Done());
        QVERIFY2(answerer.Unexpected().isEmpty(), qPrintable(answerer.Unexpected().join('\n')));
        const vttest::SeenMessage &end = answerer.Messages().back();
        QCOMPARE(end.caption, Text(43));
        QVERIFY(!fs::exists(target));
        QVERIFY(vttest::WorkFoldersIn(device.sim.dir.path()).empty());
        if (!cancel) {
            QVERIFY2(end.text.startsWith(Text(52) + "\n" + vtutil::ErrorTextFor(12002)), qPrintable(end.text));
            QVERIFY2(details.contains(vtutil::FormatValues(Text(653), {"4"})), qPrintable(details));
            QVERIFY2(end.text.endsWith(Text(404) + "\n" + Text(405)), qPrintable(end.text));
            return;
        }
        qInfo("from the confirmed cancel to the end: %lld s", seconds);
        QVERIFY2(!afterYes.isEmpty() && afterYes[0] == Text(638), qPrintable(afterYes.join(" | ")));
        for (const QString &line : afterYes.mid(1)) QVERIFY2(line == Text(400) || line == Text(401), qPrintable(line));
        QCOMPARE(end.icon, QMessageBox::Warning);
        // Only the FTP server froze in a transfer: the release is answered.
        const QString left = page.isEmpty() ? Text(654) : Text(404) + "\n" + Text(405);
        QVERIFY2(end.text == Text(53) + "\n\n" + left, qPrintable(end.text));
    }

    void ADeviceThatDropsOffMidJob() {
        vttest::KeepCwd keep;
        vttest::UtilityDevice device;
        vttest::ScopedEnv releaseBound("VTBOX_RELEASE_SECONDS", "2");
        device.Login();
        // The download stalls part-way, so that the job is surely running
        // when the device goes.
        device.sim.faults().FreezeInTransfer(devicesim::FreezeScope::Ftp, 10, 100, 0);
        Window w(device);
        w.window.RestorePage()->List()->AddBox(4, "From a file", false);
        const std::string target = device.sim.dir / "office.zip";
        w.Target()->setText(QString::fromStdString(target));

        vttest::ModalAnswerer answerer;
        answerer.LetStay<CProgressDlg>();
        // Off the network once the boxes are being read.
        answerer.Then([&](QWidget *modal) {
            auto *progress = qobject_cast<CProgressDlg *>(modal);
            if (!progress || progress->Bar()->value() < 5) return false;
            device.sim.device->Stop();
            return true;
        });
        answerer.AnswerMessage(QMessageBox::Ok, [&](QMessageBox *) {
            // Marked before the message shows.
            QVERIFY(!device.session.Connected());
            QVERIFY(!w.window.Status()->ShowsConnected());
            QCOMPARE(w.Page()->List()->topLevelItemCount(), 0);
            QCOMPARE(w.window.RestorePage()->List()->topLevelItemCount(), 0);
            QVERIFY(!w.window.ActionButton()->isEnabled());
        });
        w.window.ActionButton()->click();

        QVERIFY(answerer.Done());
        QVERIFY2(answerer.Unexpected().isEmpty(), qPrintable(answerer.Unexpected().join('\n')));
        const vttest::SeenMessage &failure = answerer.Messages()[0];
        QCOMPARE(failure.caption, Text(43));
        QCOMPARE(failure.icon, QMessageBox::Critical);
        QVERIFY2(failure.text.startsWith(Text(52) + "\n"), qPrintable(failure.text));
        QVERIFY(failure.text.contains(vtutil::ErrorTextFor(12029)) ||
                failure.text.contains(vtutil::ErrorTextFor(12004)) ||
                failure.text.contains(vtutil::ErrorTextFor(1460)));
        // Nothing answers the release either: the report says what that means.
        QVERIFY2(failure.text.endsWith(Text(404) + "\n" + Text(405)), qPrintable(failure.text));
        QVERIFY(!fs::exists(target));
        QVERIFY(vttest::WorkFoldersIn(device.sim.dir.path()).empty());
    }

    // What the engine knows about a failure reaches the report: from the
    // worker's long call and from the job thread's own calls.
    void AFailureCarriesTheEngineDetail() {
        vttest::KeepCwd keep;
        vttest::UtilityDevice device;
        device.Login();
        const auto run = [&device] {
            vtutil::JobRequest request;
            request.target = device.sim.dir / "detail.zip";
            request.boxes = {1};
            return vttest::RunJobWithoutWindow(device.session, request);
        };
        // Transfers: the box record, two listings, then the first file.
        device.sim.faults().DropDataConnection(4);
        vtutil::JobOutcome outcome = run();
        QCOMPARE(outcome.result, 12030u);
        QVERIFY2(outcome.detail.contains("FTP 426 on RETR /SHR/BOX/DATA/B0000001/"), qPrintable(outcome.detail));

        device.sim.faults().Clear();
        device.sim.faults().ForceResult("boxnwBoxExModeIn", 100, 1);
        outcome = run();
        QCOMPARE(outcome.result, 1460u);
        QVERIFY2(outcome.detail.contains("boxnwBoxExModeIn"), qPrintable(outcome.detail));

        // A release that keeps failing is given up after its bound, and its
        // failure is the job's result.
        vttest::ScopedEnv releaseBound("VTBOX_RELEASE_SECONDS", "2");
        device.sim.faults().ForceHttpStatus("boxnwDeleteFTPAccount", 500);
        outcome = run();
        QCOMPARE(outcome.state, vtutil::kJobFinished);
        QVERIFY(!outcome.released);
        QVERIFY(outcome.result != 0);
        QVERIFY2(outcome.detail.contains("boxnwDeleteFTPAccount"), qPrintable(outcome.detail));
        QVERIFY(!outcome.detail.contains("admin"));
    }

    // A folder that cannot be written to, for a job and for a new folder:
    // the report says why, with the system's words and the code behind
    // Show Details.
    void AFailureReportCarriesTheSystemDetail() {
        // /sys is a folder that nobody may make anything in, root included.
        if (::mkdir("/sys/.vtbox-test", 0700) == 0 || errno == ENOENT) {
            ::rmdir("/sys/.vtbox-test");
            QSKIP("no read-only /sys here");
        }
        vttest::KeepCwd keep;
        vttest::UtilityDevice device;
        device.Login();
        Window w(device);
        vttest::ModalAnswerer answerer;
        answerer.LetStay<CProgressDlg>();
        QString details;
        answerer.AnswerMessage(QMessageBox::Ok, [&](QMessageBox *box) { details = box->detailedText(); });
        w.Target()->setText("/sys/office.zip");
        w.window.ActionButton()->click();
        QVERIFY(answerer.Done());
        QCOMPARE(answerer.Messages()[0].text, Text(52) + "\n" + vtutil::ErrorTextFor(5));
        QVERIFY2(details.startsWith(vtutil::FormatValues(Text(411), {"/sys", std::strerror(EPERM)})) ||
                     details.startsWith(vtutil::FormatValues(Text(411), {"/sys", std::strerror(EACCES)})),
                 qPrintable(details));
        QVERIFY2(details.endsWith(vtutil::FailureDetails(5).section('\n', -1)), qPrintable(details));
        QCOMPARE(device.CountRequests("boxnwBoxExModeIn?"), size_t(0));

        answerer.AnswerMessage(QMessageBox::Yes, [](QMessageBox *box) {
            QCOMPARE(box->text(), vtutil::FormatValues(Text(139), {"/sys/new/"}));
        });
        answerer.AnswerMessage(QMessageBox::Ok, [&](QMessageBox *box) { details = box->detailedText(); });
        w.Target()->setText("/sys/new/office.zip");
        w.window.ActionButton()->click();
        QVERIFY(answerer.Done());
        QCOMPARE(answerer.Messages()[2].text, Text(66));
        QVERIFY2(details.contains("/sys/new") && details.contains(QString::number(5)), qPrintable(details));
        QVERIFY(answerer.Unexpected().isEmpty());
    }

    void TheTypedFileIsChecked() {
        vttest::UtilityDevice device;
        device.Login();
        Window w(device);
        const QString dir = QString::fromStdString(device.sim.dir.path());

        vttest::ModalAnswerer answerer;
        answerer.LetStay<CProgressDlg>();
        struct Refused {
            QString typed;
            int message;
        };
        const Refused refused[] = {
            {"backups/office.zip", 180},
            {dir + "/what?.zip", 181},
            {dir + "/a<b.ZIP", 181},
            {"//server/share/office.zip", 179},
        };
        for (const Refused &r : refused) {
            answerer.AnswerMessage(QMessageBox::Ok);
            w.Target()->setText(r.typed);
            QVERIFY(answerer.Done());
            QCOMPARE(answerer.Messages().back().text, Text(r.message));
            QCOMPARE(answerer.Messages().back().caption, Text(88));
            QVERIFY2(w.Target()->text().isEmpty(), qPrintable(r.typed));
            QVERIFY(!w.window.ActionButton()->isEnabled());
        }
        // Not a zip file yet: nothing is checked while typing.
        w.Target()->setText("what?");
        QVERIFY(answerer.Messages().size() == 4);

        // An existing file: No keeps it and empties the field.
        const std::string existing = device.sim.dir / "kept.zip";
        std::ofstream(existing) << "older";
        answerer.AnswerMessage(QMessageBox::No, [&existing](QMessageBox *box) {
            // A question about the file named, not an error.
            QCOMPARE(box->text(), vtutil::FormatValues(Text(74), {QString::fromStdString(existing)}));
            QCOMPARE(box->windowTitle(), Text(43));
            QCOMPARE(box->defaultButton(), box->button(QMessageBox::No));
        });
        w.Target()->setText(QString::fromStdString(existing));
        QVERIFY(answerer.Done());
        QVERIFY(w.Target()->text().isEmpty());
        QVERIFY(!w.window.ActionButton()->isEnabled());
        QVERIFY(answerer.Unexpected().isEmpty());
    }

    void StartMakesTheFolderAndAsksOnceAboutAnExistingFile() {
        vttest::KeepCwd keep;
        vttest::UtilityDevice device;
        device.Login();
        Window w(device);

        // A folder the system cannot examine (a link to itself): said so,
        // with the system's reason; nothing is asked or made.
        const std::string loop = device.sim.dir / "loop";
        std::filesystem::create_symlink("loop", loop);
        vttest::ModalAnswerer answerer;
        answerer.LetStay<CProgressDlg>();
        w.Target()->setText(QString::fromStdString(loop + "/office.zip"));
        answerer.AnswerMessage(QMessageBox::Ok);
        w.window.ActionButton()->click();
        QVERIFY(answerer.Done());
        QCOMPARE(answerer.Messages().back().text,
                 vtutil::FormatValues(Text(418), {QString::fromStdString(loop + "/"), std::strerror(ELOOP)}));
        QCOMPARE(answerer.Messages().back().caption, Text(43));
        QCOMPARE(device.CountRequests("boxnwBoxExModeIn?"), size_t(0));

        // A folder two levels deep that does not exist: asked at Start, made.
        const std::string deeper = device.sim.dir / "new/deeper";
        w.Target()->setText(QString::fromStdString(deeper + "/office.zip"));
        QCOMPARE(answerer.Messages().size(), size_t(1));
        answerer.AnswerMessage(QMessageBox::Yes, [&deeper](QMessageBox *box) {
            QCOMPARE(box->text(), vtutil::FormatValues(Text(139), {QString::fromStdString(deeper + "/")}));
            QCOMPARE(box->windowTitle(), Text(43));
        });
        answerer.AnswerMessage(QMessageBox::Ok);
        w.window.ActionButton()->click();
        QVERIFY(answerer.Done());
        QVERIFY(answerer.Messages().back().text.startsWith(Text(51) + "\n"));
        QCOMPARE(BoxesInFile(deeper + "/office.zip").size(), size_t(3));

        // The same file again: asked once while typed, not again at Start.
        w.Target()->clear();
        answerer.AnswerMessage(QMessageBox::Yes, [&deeper](QMessageBox *box) {
            QCOMPARE(box->text(), vtutil::FormatValues(Text(74), {QString::fromStdString(deeper + "/office.zip")}));
        });
        w.Target()->setText(QString::fromStdString(deeper + "/office.zip"));
        QVERIFY(answerer.Done());
        QVERIFY(w.window.ActionButton()->isEnabled());
        answerer.AnswerMessage(QMessageBox::Ok);
        w.window.ActionButton()->click();
        QVERIFY(answerer.Done());
        QCOMPARE(answerer.Messages().size(), size_t(5));
        QVERIFY(answerer.Messages().back().text.startsWith(Text(51) + "\n"));
        QVERIFY(answerer.Unexpected().isEmpty());
    }

    void TheFileDialogShowsTheFreeSpaceAndRefusesBadNames() {
        vttest::UtilityDevice device;
        device.Login();
        Window w(device);
        const QString dir = QString::fromStdString(device.sim.dir.path());
        w.Target()->setText(dir + "/first.zip");

        vttest::ModalAnswerer answerer;
        answerer.LetStay<CProgressDlg>();
        answerer.OnDialog<vtutil::CBRFileDialog>([&](vtutil::CBRFileDialog *dialog) {
            // Opens in the typed file's folder with a name made of the time.
            QCOMPARE(dialog->directory().absolutePath(), dir);
            const QString line = dialog->FreeSpaceLine()->text();
            QVERIFY2(line.startsWith(Text(81) + "  /"), qPrintable(line));
            QVERIFY(line.contains("  " + Text(82) + "  "));
            QVERIFY(line.endsWith("  MB") || line.endsWith("  KB"));
            QVERIFY(QRegularExpression("^\\d{8}_\\d{6}$")
                        .match(dialog->ChosenPath().section('/', -1).section('.', 0, 0))
                        .hasMatch());
            TypeFileName(dialog, "bad|name");
            vttest::Later([dialog] { dialog->accept(); });
        });
        answerer.AnswerMessage(QMessageBox::Ok, [](QMessageBox *box) { QCOMPARE(box->text(), Text(75)); });
        answerer.OnDialog<vtutil::CBRFileDialog>([](vtutil::CBRFileDialog *dialog) {
            // Still open; a plain name gets the zip extension.
            TypeFileName(dialog, "office");
            vttest::Later([dialog] { dialog->accept(); });
        });
        w.Page()->BrowseButton()->click();

        QVERIFY(answerer.Done());
        QVERIFY(answerer.Unexpected().isEmpty());
        QCOMPARE(w.Target()->text(), dir + "/office.zip");
        QCOMPARE(w.Target()->cursorPosition(), w.Target()->text().size());
        QVERIFY(w.window.ActionButton()->isEnabled());
    }
};

QTEST_MAIN(BackupTest)
#include "test_backup.moc"
