// Message boxes with the language library's captions, and the wait cursor.
#pragma once

#include <QMessageBox>
#include <QString>
#include <cstdint>
#include <memory>

namespace vtutil {

class DeviceSession;
struct JobReport;

// Shows a modal message box and returns the button pressed. The parent may
// be null (then the box is modal for the whole program). The arrow cursor
// shows over the box even while a wait cursor is up. Details, when given,
// are behind "Show Details".
QMessageBox::StandardButton ShowMessage(QWidget *parent, const QString &text, const QString &caption,
                                        QMessageBox::Icon icon, QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton,
                                        const QString &details = {});

// ErrorTextFor(code) with the error caption and icon; behind Show Details
// the failure's detail (the engine's, as vtBoxGetLastErrorText gave it right
// after the call) and the code (FailureDetails).
void ShowErrorCode(QWidget *parent, uint32_t code, const QString &detail = {});

// The report of a job as a message box, not yet shown; the engine's
// account of a failure, when there is one, is behind "Show Details".
std::unique_ptr<QMessageBox> MakeReportBox(QWidget *parent, const JobReport &report);
// Shows it (modal).
void ShowReport(QWidget *parent, const JobReport &report);

// Makes the session report its connection failures in message boxes, and
// ask there whether to release a device that a job of this computer left
// held.
void ReportSessionErrorsInMessageBoxes(DeviceSession &session);

// The wait cursor for the life of the object.
class WaitCursor {
public:
    WaitCursor();
    ~WaitCursor();
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
};

}  // namespace vtutil
