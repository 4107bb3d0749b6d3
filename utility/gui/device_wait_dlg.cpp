#include "device_wait_dlg.hpp"

#include <QApplication>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "app_state.hpp"
#include "device_session.hpp"
#include "job_report.hpp"
#include "language.hpp"
#include "message_box.hpp"
#include "text_format.hpp"
#include "text_ids.hpp"

namespace vtutil {

namespace {

// How often the window thread looks whether the call has returned.
constexpr int kPollMs = 20;

uint32_t WaitTextId(DeviceWait what) {
    switch (what) {
    case DeviceWait::Connect: return ids::kWaitConnect;
    case DeviceWait::Login: return ids::kWaitLogin;
    case DeviceWait::BoxList: return ids::kWaitBoxList;
    case DeviceWait::Close: return ids::kWaitClose;
    case DeviceWait::Lock: return ids::kWaitLock;
    case DeviceWait::DeleteAll: return ids::kWaitDeleteAll;
    case DeviceWait::Unlock: return ids::kWaitUnlock;
    case DeviceWait::EndSession: return ids::kWaitEndSession;
    }
    return ids::kWaitConnect;
}

// Runs the event loop with flags until the call has finished or, when
// limitMs is not negative, that time has passed.
void WaitFor(const DeviceCall &call, QEventLoop::ProcessEventsFlags flags, int limitMs) {
    if (call.Finished()) return;
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(kPollMs);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (call.Finished()) loop.quit();
    });
    poll.start();
    QTimer limit;
    if (limitMs >= 0) {
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        limit.start(limitMs);
    }
    loop.exec(flags);
}

}  // namespace

QString DeviceDisplayName(const AppState &app) {
    const QString name = QString::fromStdString(app.deviceName), address = QString::fromStdString(app.deviceAddress);
    if (name.isEmpty() || name == address) return address;
    return FormatText(FormatText(Text(ids::kDeviceNameAndAddress), name), address);
}

CDeviceWaitDlg::CDeviceWaitDlg(const QString &device, DeviceWait what, QWidget *parent) : QDialog(parent) {
    setWindowTitle(Text(ids::kWaitDeviceTitle));
    setWindowModality(Qt::ApplicationModal);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    waitLine_ = new QLabel(FormatText(Text(WaitTextId(what)), device), this);
    waitLine_->setWordWrap(true);
    waitLine_->setMinimumWidth(320);
    auto *buttons = new QDialogButtonBox(this);
    cancel_ = buttons->addButton(Text(ids::kCancel), QDialogButtonBox::RejectRole);
    connect(cancel_, &QPushButton::clicked, this, &CDeviceWaitDlg::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(waitLine_);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CDeviceWaitDlg::reject() {
    if (!cancel_->isEnabled()) return;
    cancel_->setEnabled(false);
    waitLine_->setText(Text(ids::kWaitStopping));
    emit StopRequested();
}

DeviceCallResult RunWithWaitDialog(const QString &device, DeviceWait what, VTMFPSESSION *session,
                                   DeviceCall::Call call) {
    DeviceCall running(session, std::move(call));
    // Until the dialog shows, the windows repaint but take no input: a
    // second command must not start on the session meanwhile.
    WaitFor(running, QEventLoop::ExcludeUserInputEvents, kWaitDialogDelayMs);
    if (!running.Finished()) {
        CDeviceWaitDlg dialog(device, what, QApplication::activeWindow());
        QObject::connect(&dialog, &CDeviceWaitDlg::StopRequested, &dialog, [&running] { running.Stop(); });
        // The arrow over the dialog, even under a command's wait cursor.
        const bool waiting = QApplication::overrideCursor() != nullptr;
        if (waiting) QApplication::setOverrideCursor(Qt::ArrowCursor);
        dialog.show();
        WaitFor(running, QEventLoop::AllEvents, -1);
        dialog.hide();
        if (waiting) QApplication::restoreOverrideCursor();
    }
    return running.Result();
}

void SayDeviceDidNotAnswer(const QString &device, const QString &afterStop) {
    QString text = FormatText(Text(ids::kMsgDeviceDidNotAnswer), device);
    if (!afterStop.isEmpty()) text += QStringLiteral("\n\n") + afterStop;
    ShowMessage(QApplication::activeWindow(), text, Text(ids::kWaitDeviceTitle), QMessageBox::Warning);
}

void WaitForDeviceWithDialog(DeviceSession &session) {
    session.SetCallRunner([&session](DeviceWait what, VTMFPSESSION *record, DeviceCall::Call call) {
        const QString device = DeviceDisplayName(session.App());
        DeviceCallResult result = RunWithWaitDialog(device, what, record, std::move(call));
        // An end of the session that is not waited for leaves nothing to
        // say: the device ends the session after its idle time.
        if (result.stopped && what != DeviceWait::EndSession) {
            session.MarkLost();
            SayDeviceDidNotAnswer(device);
        }
        return result;
    });
}

}  // namespace vtutil
