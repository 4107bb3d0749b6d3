#include "message_box.hpp"

#include <QApplication>

#include "device_session.hpp"
#include "error_text.hpp"
#include "language.hpp"
#include "text_ids.hpp"

namespace vtutil {

QMessageBox::StandardButton ShowMessage(QWidget *parent, const QString &text, const QString &caption,
                                        QMessageBox::Icon icon, QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton) {
    QMessageBox box(icon, caption, text, buttons, parent);
    if (defaultButton != QMessageBox::NoButton) box.setDefaultButton(defaultButton);
    const bool waiting = QApplication::overrideCursor() != nullptr;
    if (waiting) QApplication::setOverrideCursor(Qt::ArrowCursor);
    int answer = box.exec();
    if (waiting) QApplication::restoreOverrideCursor();
    return static_cast<QMessageBox::StandardButton>(answer);
}

void ShowErrorCode(QWidget *parent, uint32_t code) {
    ShowMessage(parent, ErrorTextFor(code), Text(ids::kCaptionError), QMessageBox::Critical);
}

void ReportSessionErrorsInMessageBoxes(DeviceSession &session) {
    // No owner: the failure may come while no window of ours is up.
    session.SetErrorReporter([](uint32_t code) { ShowErrorCode(nullptr, code); });
}

WaitCursor::WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
WaitCursor::~WaitCursor() { QApplication::restoreOverrideCursor(); }

}  // namespace vtutil
