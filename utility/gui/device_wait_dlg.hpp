// Waiting for a device call with a live window: the call runs on a thread of
// its own (DeviceCall); once it has taken a moment, a small modal dialog names
// the device and what is waited for, and its Cancel stops waiting.
#pragma once

#include <QDialog>

#include "device_call.hpp"

class QLabel;
class QPushButton;

namespace vtutil {

class DeviceSession;
struct AppState;

// The device as the windows name it: its name and address, or the address.
QString DeviceDisplayName(const AppState &app);

class CDeviceWaitDlg : public QDialog {
    Q_OBJECT
public:
    CDeviceWaitDlg(const QString &device, DeviceWait what, QWidget *parent = nullptr);

    QLabel *WaitLine() const { return waitLine_; }
    QPushButton *CancelButton() const { return cancel_; }

signals:
    // Cancel, the close box or Escape: stop waiting.
    void StopRequested();

public slots:
    // Only the end of the call closes the dialog.
    void reject() override;

private:
    QLabel *waitLine_;
    QPushButton *cancel_;
};

// Runs call (see DeviceCall) and waits for it. Input to the windows is held
// back at once; after kWaitDialogDelayMs the wait dialog shows, and its Cancel
// stops waiting (the result says stopped).
DeviceCallResult RunWithWaitDialog(const QString &device, DeviceWait what, VTMFPSESSION *session,
                                   DeviceCall::Call call);
// Says that device did not answer and that waiting for it was stopped,
// followed by afterStop when given.
void SayDeviceDidNotAnswer(const QString &device, const QString &afterStop = {});

// How long a call runs before the wait dialog shows: long enough that a
// device that answers at once shows none.
inline constexpr int kWaitDialogDelayMs = 1500;

// Makes the session wait for its device calls with RunWithWaitDialog; a wait
// the user stopped marks the session lost before it is said.
void WaitForDeviceWithDialog(DeviceSession &session);

}  // namespace vtutil
