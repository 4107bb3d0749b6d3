// The progress window of a backup or restore job. It starts the job thread
// when it is first shown, shows what the job reports, offers Cancel, and
// ends only when the job thread asks it to; the outcome stays in it for the
// caller to report. While the job gives the device back at its end, the
// window says what it waits for and for how much longer, and Cancel becomes
// Stop Waiting.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>
#include <memory>

#include "job_thread.hpp"
#include "vthandles.hpp"

class QLabel;
class QProgressBar;
class QPushButton;

namespace vtutil {

class BusyAnimation;
class DeviceSession;

class CProgressDlg : public QDialog {
    Q_OBJECT
public:
    CProgressDlg(DeviceSession &session, JobRequest request, QWidget *parent = nullptr);
    ~CProgressDlg() override;

    // After the modal run: how the job ended.
    const JobOutcome &Outcome() const { return outcome_; }
    int32_t State() const { return outcome_.state; }
    uint32_t Result() const { return outcome_.result; }
    // Ends the job thread object once the caller has read the outcome.
    void DeleteJob();

    // What it shows (tests, pictures).
    BusyAnimation *Animation() const { return animation_; }
    QLabel *PhaseLine() const { return phaseLine_; }
    QLabel *StatusLine() const { return statusLine_; }
    QLabel *DocumentsLine() const { return documentsLine_; }
    QLabel *FiguresLine() const { return figuresLine_; }
    QProgressBar *Bar() const { return bar_; }
    QPushButton *CancelButton() const { return cancel_; }
    // The job thread, once the window has been shown.
    CJobThread *Job() const { return job_.get(); }

public slots:
    // Only the job closes the window.
    void reject() override {}

protected:
    void showEvent(QShowEvent *event) override;
    // The close box asks the same question as Cancel.
    void closeEvent(QCloseEvent *event) override;
    // Escape does nothing.
    void keyPressEvent(QKeyEvent *event) override;
    // The names are fitted again to the line's room.
    void resizeEvent(QResizeEvent *event) override;

private:
    void StartJob();
    void OnCancel();
    // The job gives the device back: what it waits for and for how long.
    void OnReleaseStarted(int seconds);
    void OnReleaseStep(int step);
    // A device call of the job's own at its start or end (JobWait).
    void OnDeviceWaitStarted(int what, int seconds);
    void OnDeviceWaitEnded();
    // What the job waits for and the seconds left of its bound.
    void ShowDeviceWait();
    void OnEnded(const JobOutcome &outcome);
    void WaitForJobThread();
    void OnWhereChanged(const QString &box, const QString &folder, const QString &document);
    // The names, cut only as far as the line's room needs.
    void FitWhere();

    DeviceSession &session_;
    JobRequest request_;
    BusyAnimation *animation_;
    QLabel *phaseLine_;
    QProgressBar *bar_;
    QLabel *statusLine_;
    QLabel *documentsLine_;
    QLabel *figuresLine_;
    // Where the job is, as the job gave it.
    QString box_, folder_, document_;
    QPushButton *cancel_;
    vt::OwnedHandle waitForThread_;
    std::unique_ptr<CJobThread> job_;
    JobOutcome outcome_;
    bool started_ = false;
    bool ended_ = false;
    bool asking_ = false;
    // A cancel was confirmed: the job's progress is no longer shown, only
    // "Stopping..." and then the release.
    bool stopping_ = false;
    // The job is releasing the device: Cancel stops waiting for it.
    bool releasing_ = false;
    int releaseStep_ = 0;
    // The device call at the job's start or end that is waited for (JobWait), 0: none.
    int deviceWait_ = 0;
    QElapsedTimer waitClock_;
    int waitSeconds_ = 0;
    QTimer waitTicks_;
};

}  // namespace vtutil
