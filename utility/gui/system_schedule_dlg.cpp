#include "system_schedule_dlg.hpp"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "icons.hpp"
#include "language.hpp"
#include "message_box.hpp"
#include "system_schedule.hpp"
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
    layout->addSpacing(8);
    layout->addWidget(buttons);
    setMinimumWidth(420);
    ShowInstalled();
}

void CSystemScheduleDlg::ShowInstalled() {
    const std::optional<QString> installed = InstalledSystemSchedule();
    description_->setText(installed ? *installed : Text(ids::kNoneWithProgramClosed));
    remove_->setEnabled(installed.has_value());
}

void CSystemScheduleDlg::OnRemove() {
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
