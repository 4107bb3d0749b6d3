// Message boxes with the language library's captions, and the wait cursor.
#pragma once

#include <QMessageBox>
#include <QString>
#include <cstdint>

namespace vtutil {

class DeviceSession;

// Shows a modal message box and returns the button pressed. The parent may
// be null (then the box is modal for the whole program). The arrow cursor
// shows over the box even while a wait cursor is up.
QMessageBox::StandardButton ShowMessage(QWidget *parent, const QString &text, const QString &caption,
                                        QMessageBox::Icon icon,
                                        QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

// ErrorTextFor(code) with the error caption and icon.
void ShowErrorCode(QWidget *parent, uint32_t code);

// Makes the session report its connection failures in message boxes.
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
