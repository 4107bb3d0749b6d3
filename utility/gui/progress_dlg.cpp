#include "progress_dlg.hpp"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "busy_animation.hpp"
#include "device_release.hpp"
#include "icons.hpp"
#include "job_figures.hpp"
#include "language.hpp"
#include "message_box.hpp"
#include "status_line.hpp"
#include "text_format.hpp"
#include "text_ids.hpp"
#include "widget_marks.hpp"

namespace vtutil {

namespace {
// Room for a box, a folder and a document name of some 25 characters each.
constexpr int kWidth = 460;
constexpr DWORD kWaitSliceMs = 20;
// The seconds left of a wait for the device are counted down once a second.
constexpr int kWaitTickMs = 1000;

bool IsBackup(const JobRequest &request) { return request.operation == JobOperation::Backup; }

QLabel *TextLine(QWidget *parent, const char *name) {
    auto *line = new QLabel(parent);
    line->setObjectName(QLatin1String(name));
    line->setTextFormat(Qt::PlainText);
    // Long names must not widen the window.
    line->setMinimumWidth(1);
    line->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    return line;
}
}  // namespace

CProgressDlg::CProgressDlg(DeviceSession &session, JobRequest request, QWidget *parent)
    : QDialog(parent), session_(session), request_(std::move(request)) {
    const bool backup = IsBackup(request_);
    setObjectName(QStringLiteral("progress"));
    setWindowTitle(Text(backup ? ids::kBackingUpTitle : ids::kRestoringTitle));
    setWindowIcon(icons::Application());
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setModal(true);

    animation_ =
        new BusyAnimation(backup ? BusyAnimation::Direction::ToFile : BusyAnimation::Direction::ToDevice, this);
    phaseLine_ = TextLine(this, "phase");
    phaseLine_->setText(Text(backup ? ids::kBackupStarting : ids::kRestoreStarting));
    bar_ = new QProgressBar(this);
    bar_->setObjectName(QStringLiteral("bar"));
    bar_->setRange(0, CJobThread::kProgressRange);
    bar_->setValue(0);
    bar_->setTextVisible(false);
    // The two lines show names from the device and counts.
    statusLine_ = TextLine(this, "where");
    MarkShowsData(statusLine_);
    documentsLine_ = TextLine(this, "documents");
    MarkShowsData(documentsLine_);
    // Elapsed time, time left and speed: figures in the language's labels.
    figuresLine_ = TextLine(this, "figures");
    MarkShowsData(figuresLine_);
    cancel_ = new QPushButton(Text(ids::kCancel), this);
    cancel_->setObjectName(QStringLiteral("cancel"));
    cancel_->setAutoDefault(false);
    connect(cancel_, &QPushButton::clicked, this, &CProgressDlg::OnCancel);
    waitTicks_.setInterval(kWaitTickMs);
    connect(&waitTicks_, &QTimer::timeout, this, &CProgressDlg::ShowDeviceWait);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancel_);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(animation_, 0, Qt::AlignHCenter);
    layout->addWidget(phaseLine_);
    layout->addWidget(bar_);
    layout->addWidget(statusLine_);
    layout->addWidget(documentsLine_);
    layout->addWidget(figuresLine_);
    layout->addSpacing(6);
    layout->addLayout(buttons);
    setFixedWidth(kWidth);
}

CProgressDlg::~CProgressDlg() { DeleteJob(); }

void CProgressDlg::DeleteJob() { job_.reset(); }

void CProgressDlg::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    if (started_) return;
    started_ = true;
    StartJob();
}

void CProgressDlg::StartJob() {
    waitForThread_.reset(CreateEventA(nullptr, FALSE, FALSE, "WAITFORTHREAD"));
    if (IsBackup(request_))
        job_ = std::make_unique<CBackupThread>(session_, request_, waitForThread_.get());
    else
        job_ = std::make_unique<CRestoreThread>(session_, request_, waitForThread_.get());

    CJobThread *job = job_.get();
    connect(
        job, &CJobThread::ProgressReset, this,
        [this](int range, int) {
            bar_->setRange(0, range);
            bar_->setValue(0);
            update();
        },
        Qt::QueuedConnection);
    connect(job, &CJobThread::AnimationStarted, animation_, &BusyAnimation::Play, Qt::QueuedConnection);
    connect(job, &CJobThread::PercentChanged, bar_, &QProgressBar::setValue, Qt::QueuedConnection);
    // Once the cancel is confirmed, progress sent before it no longer shows.
    const auto unlessStopping = [this](QLabel *line) {
        return [this, line](const QString &text) {
            if (!stopping_ && !deviceWait_) line->setText(text);
        };
    };
    connect(job, &CJobThread::PhaseTextChanged, this, unlessStopping(phaseLine_), Qt::QueuedConnection);
    connect(job, &CJobThread::WhereChanged, this, &CProgressDlg::OnWhereChanged, Qt::QueuedConnection);
    connect(
        job, &CJobThread::FiguresChanged, figuresLine_,
        [this](double seconds, int percent, qint64 bytes) {
            if (!releasing_ && !stopping_)
                figuresLine_->setText(vtutil::FiguresLine(JobFigures{seconds, percent, bytes}));
        },
        Qt::QueuedConnection);
    connect(job, &CJobThread::DocumentsLineChanged, this, unlessStopping(documentsLine_), Qt::QueuedConnection);
    connect(job, &CJobThread::DeviceWaitStarted, this, &CProgressDlg::OnDeviceWaitStarted, Qt::QueuedConnection);
    connect(job, &CJobThread::DeviceWaitEnded, this, &CProgressDlg::OnDeviceWaitEnded, Qt::QueuedConnection);
    connect(job, &CJobThread::ReleaseStarted, this, &CProgressDlg::OnReleaseStarted, Qt::QueuedConnection);
    connect(job, &CJobThread::ReleaseStepChanged, this, &CProgressDlg::OnReleaseStep, Qt::QueuedConnection);
    connect(job, &CJobThread::Ended, this, &CProgressDlg::OnEnded, Qt::QueuedConnection);

    job->start();
    if (!job->isRunning() && !job->isFinished()) {
        // No thread: the job ends failed, once the modal run has begun.
        QMetaObject::invokeMethod(
            this, [this] { OnEnded(JobOutcome{}); }, Qt::QueuedConnection);
    }
}

void CProgressDlg::OnWhereChanged(const QString &box, const QString &folder, const QString &document) {
    box_ = box;
    folder_ = folder;
    document_ = document;
    FitWhere();
}

void CProgressDlg::FitWhere() {
    if (releasing_ || stopping_ || deviceWait_ || (box_.isEmpty() && folder_.isEmpty() && document_.isEmpty())) return;
    const QFontMetrics metrics(statusLine_->font());
    const int room = statusLine_->contentsRect().width();
    statusLine_->setText(FitStatusLine(box_, folder_, document_,
                                       [&](const QString &line) { return metrics.horizontalAdvance(line) <= room; }));
}

void CProgressDlg::resizeEvent(QResizeEvent *event) {
    QDialog::resizeEvent(event);
    FitWhere();
}

void CProgressDlg::OnReleaseStarted(int seconds) {
    releasing_ = true;
    deviceWait_ = 0;
    waitSeconds_ = seconds;
    releaseStep_ = static_cast<int>(vtjobs::ReleaseStep::DeleteAccount);
    waitClock_.start();
    cancel_->setText(Text(ids::kStopWaiting));
    figuresLine_->clear();
    cancel_->setEnabled(!asking_);
    ShowDeviceWait();
    waitTicks_.start();
}

void CProgressDlg::OnReleaseStep(int step) {
    releaseStep_ = step;
    ShowDeviceWait();
}

void CProgressDlg::OnDeviceWaitStarted(int what, int seconds) {
    if (stopping_ || releasing_) return;
    deviceWait_ = what;
    waitSeconds_ = seconds;
    waitClock_.start();
    ShowDeviceWait();
    waitTicks_.start();
}

void CProgressDlg::OnDeviceWaitEnded() {
    if (!deviceWait_) return;
    deviceWait_ = 0;
    waitTicks_.stop();
    if (stopping_) return;
    statusLine_->clear();
    FitWhere();
}

void CProgressDlg::ShowDeviceWait() {
    if (ended_ || (!releasing_ && !deviceWait_)) return;
    uint32_t line = ids::kReleasingAccount;
    if (releasing_) {
        if (releaseStep_ == static_cast<int>(vtjobs::ReleaseStep::Unlock)) line = ids::kReleasingLock;
    } else if (stopping_) {
        return;
    } else {
        switch (static_cast<JobWait>(deviceWait_)) {
        case JobWait::Lock: line = ids::kJobLocking; break;
        case JobWait::Account: line = ids::kJobMakingAccount; break;
        case JobWait::CountBefore:
        case JobWait::CountAfter: line = ids::kJobCounting; break;
        }
    }
    phaseLine_->setText(Text(line));
    const qint64 left = std::max<qint64>(0, waitSeconds_ - waitClock_.elapsed() / 1000);
    statusLine_->setText(FormatValues(Text(ids::kReleaseWaiting), {QString::number(left)}));
}

void CProgressDlg::OnEnded(const JobOutcome &outcome) {
    outcome_ = outcome;
    ended_ = true;
    waitTicks_.stop();
    animation_->Close();
    // While the cancel question is up, the window ends once it is answered.
    if (!asking_) done(QDialog::Accepted);
}

void CProgressDlg::OnCancel() {
    if (ended_ || asking_ || !job_) return;
    if (releasing_) {
        // Nothing is left to cancel: the user no longer waits for the device.
        cancel_->setEnabled(false);
        job_->StopWaiting();
        return;
    }
    asking_ = true;
    job_->Gate().Close();
    cancel_->setEnabled(false);
    animation_->Stop();
    const bool backup = IsBackup(request_);
    const QMessageBox::StandardButton answer =
        ShowMessage(this, Text(backup ? ids::kAskCancelBackup : ids::kAskCancelRestore), Text(ids::kCaptionCancel),
                    QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (!ended_ && answer == QMessageBox::Yes) {
        // Said at once: the job may take a second to stop its work, and
        // longer to give the device back.
        stopping_ = true;
        if (!releasing_) {
            waitTicks_.stop();
            phaseLine_->setText(Text(ids::kWaitStopping));
            statusLine_->clear();
        }
        {
            WaitCursor wait;
            job_->SetCancelFlag();
            job_->Gate().Open();
            outcome_.state = kJobCancelled;
            WaitForJobThread();
        }
        animation_->Close();
        // The job has stopped its work and waits for the device: that wait
        // the user may end.
        if (releasing_ && !ended_) cancel_->setEnabled(true);
    } else {
        job_->Gate().Open();
        if (!ended_) {
            animation_->Play();
            cancel_->setEnabled(true);
        }
    }
    asking_ = false;
    if (ended_) done(QDialog::Accepted);
}

void CProgressDlg::WaitForJobThread() {
    // The window stays painted meanwhile; input waits until the job has
    // stopped its work. Giving the device back may take long when the device
    // does not answer: from then on the user may stop waiting.
    HANDLE event = waitForThread_.get();
    while (!ended_ && !releasing_) {
        if (event && WaitForSingleObject(event, kWaitSliceMs) == WAIT_OBJECT_0) break;
        QEventLoop::ProcessEventsFlags flags = QEventLoop::ExcludeUserInputEvents;
        // Without the event, the job's end arrives as an event.
        if (!event) flags |= QEventLoop::WaitForMoreEvents;
        QCoreApplication::processEvents(flags);
    }
}

void CProgressDlg::closeEvent(QCloseEvent *event) {
    if (ended_) {
        QDialog::closeEvent(event);
        return;
    }
    event->ignore();
    OnCancel();
}

void CProgressDlg::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace vtutil
