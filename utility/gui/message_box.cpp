#include "message_box.hpp"

#include <QApplication>

#include "device_session.hpp"
#include "error_text.hpp"
#include "job_report.hpp"
#include "language.hpp"
#include "text_ids.hpp"

namespace vtutil {

QMessageBox::StandardButton ShowMessage(QWidget *parent, const QString &text, const QString &caption,
                                        QMessageBox::Icon icon, QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton, const QString &details) {
    QMessageBox box(icon, caption, text, buttons, parent);
    if (defaultButton != QMessageBox::NoButton) box.setDefaultButton(defaultButton);
    if (!details.isEmpty()) box.setDetailedText(details);
    const bool waiting = QApplication::overrideCursor() != nullptr;
    if (waiting) QApplication::setOverrideCursor(Qt::ArrowCursor);
    int answer = box.exec();
    if (waiting) QApplication::restoreOverrideCursor();
    return static_cast<QMessageBox::StandardButton>(answer);
}

void ShowErrorCode(QWidget *parent, uint32_t code, const QString &detail) {
    ShowMessage(parent, ErrorTextFor(code), Text(ids::kCaptionError), QMessageBox::Critical, QMessageBox::Ok,
                QMessageBox::NoButton, FailureDetails(code, detail));
}

std::unique_ptr<QMessageBox> MakeReportBox(QWidget *parent, const JobReport &report) {
    QMessageBox::Icon icon = QMessageBox::Critical;
    if (report.icon == JobReport::Icon::Information)
        icon = QMessageBox::Information;
    else if (report.icon == JobReport::Icon::Warning)
        icon = QMessageBox::Warning;
    auto box = std::make_unique<QMessageBox>(icon, report.caption, report.text, QMessageBox::Ok, parent);
    box->setTextFormat(Qt::PlainText);
    if (!report.details.isEmpty()) box->setDetailedText(report.details);
    return box;
}

void ShowReport(QWidget *parent, const JobReport &report) {
    std::unique_ptr<QMessageBox> box = MakeReportBox(parent, report);
    box->exec();
}

void ReportSessionErrorsInMessageBoxes(DeviceSession &session) {
    // No owner: the failure may come while no window of ours is up.
    session.SetErrorReporter([](uint32_t code, const QString &detail) { ShowErrorCode(nullptr, code, detail); });
    session.SetLeftJobQuestion([] {
        return ShowMessage(nullptr, Text(ids::kMsgReleaseLeftJob), Text(ids::kLoginTitle), QMessageBox::Question,
                           QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) == QMessageBox::Yes;
    });
}

WaitCursor::WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
WaitCursor::~WaitCursor() { QApplication::restoreOverrideCursor(); }

}  // namespace vtutil
