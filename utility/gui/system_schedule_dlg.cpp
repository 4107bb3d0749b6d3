#include "system_schedule_dlg.hpp"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "icons.hpp"
#include "language.hpp"
#include "message_box.hpp"
#include "system_schedule.hpp"
#include "text_format.hpp"
#include "text_ids.hpp"
#include "widget_marks.hpp"

namespace vtutil {

CSystemScheduleDlg::CSystemScheduleDlg(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("systemSchedule"));
    setWindowTitle(Text(ids::kSystemScheduleTitle));
    setWindowIcon(icons::Application());
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    description_ = new QLabel(this);
    description_->setObjectName(QStringLiteral("description"));
    description_->setTextFormat(Qt::PlainText);
    description_->setWordWrap(true);
    description_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    MarkShowsData(description_);

    runs_ = new QLabel(this);
    runs_->setObjectName(QStringLiteral("runs"));
    runs_->setTextFormat(Qt::PlainText);
    runs_->setWordWrap(true);
    runs_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    MarkShowsData(runs_);

    auto *buttons = new QDialogButtonBox(this);
    remove_ = buttons->addButton(Text(ids::kRemove), QDialogButtonBox::ActionRole);
    remove_->setObjectName(QStringLiteral("remove"));
    remove_->setAutoDefault(false);
    QPushButton *close = buttons->addButton(Text(ids::kViewerClose), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("close"));
    close->setDefault(true);
    connect(remove_, &QPushButton::clicked, this, &CSystemScheduleDlg::OnRemove);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(description_);
    layout->addWidget(runs_);
    layout->addSpacing(8);
    layout->addWidget(buttons);
    setMinimumWidth(420);
    ShowInstalled();
}

void CSystemScheduleDlg::ShowInstalled() {
    const std::optional<QString> installed = InstalledSystemSchedule();
    description_->setText(installed ? *installed : Text(ids::kNoneWithProgramClosed));
    remove_->setEnabled(installed.has_value());
    runs_->setVisible(installed.has_value());
    if (!installed) return;
    const LastRun last =
        ReadLastRun(SystemScheduleLogPath(), Text(ids::kLogStarted), Text(ids::kLogFinished), Text(ids::kLogFailed));
    QStringList lines;
    if (last.when.isEmpty()) {
        lines << Text(ids::kSystemScheduleNoRunYet);
    } else {
        // A run still under way has no outcome line yet.
        lines << FormatValues(Text(ids::kSystemScheduleLastRun), {last.when, last.outcome});
        if (!last.file.isEmpty()) lines << FormatValues(Text(ids::kSummaryFile), {last.file});
    }
    const QString next = SystemScheduleNextRun();
    lines << (next.isEmpty() ? Text(ids::kSystemScheduleNextUnknown)
                             : FormatValues(Text(ids::kSystemScheduleNextRun), {next}));
    runs_->setText(lines.join(QLatin1Char('\n')));
}

void CSystemScheduleDlg::OnRemove() {
    if (ShowMessage(this, Text(ids::kMsgRemoveSystemSchedule), Text(ids::kSystemScheduleTitle), QMessageBox::Question,
                    QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
        return;
    QString detail;
    uint32_t rc;
    {
        WaitCursor wait;
        rc = RemoveSystemSchedule(&detail);
    }
    if (rc != 0)
        ShowMessage(this, Text(ids::kMsgSystemScheduleNotRemoved), Text(ids::kCaptionError), QMessageBox::Warning,
                    QMessageBox::Ok, QMessageBox::NoButton, detail);
    ShowInstalled();
}

}  // namespace vtutil
