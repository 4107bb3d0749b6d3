#include "backup_page.hpp"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "backup_restore_dlg.hpp"
#include "box_list.hpp"
#include "device_session.hpp"
#include "language.hpp"
#include "status_bar.hpp"
#include "text_ids.hpp"

namespace vtutil {

namespace {
constexpr int kTargetMaxLength = 228;
}  // namespace

CBackupPage::CBackupPage(CBackupRestoreDlg &main, DeviceSession &session, QWidget *parent)
    : QWidget(parent), main_(main), session_(session) {
    group_ = new QGroupBox(Text(ids::kBackupFileGroup), this);
    target_ = new QLineEdit(group_);
    target_->setObjectName(QStringLiteral("target"));
    target_->setMaxLength(kTargetMaxLength);
    browse_ = new QPushButton(Text(ids::kBrowse), group_);
    // Choosing the file and starting a backup come with the backup job.
    target_->setEnabled(false);
    browse_->setEnabled(false);
    auto *row = new QHBoxLayout(group_);
    row->addWidget(target_, 1);
    row->addWidget(browse_);

    list_ = new BoxList(this);
    list_->setObjectName(QStringLiteral("backupBoxes"));
    list_->setHeaderLabels({Text(ids::kBoxesHeader)});
    connect(list_, &QTreeWidget::itemChanged, this, &CBackupPage::OnCheckChanged);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(group_);
    layout->addWidget(list_, 1);
}

bool CBackupPage::TargetIsZip() const { return target_->text().endsWith(QStringLiteral(".zip"), Qt::CaseInsensitive); }

void CBackupPage::Reload() {
    if (!main_.AutoMode()) target_->clear();
    LoadList();
}

void CBackupPage::LoadList() {
    list_->clear();
    main_.Status()->SetAddress(QString::fromStdString(session_.App().deviceAddress));
    main_.Status()->SetConnected(session_.Connected());
    const VTBOX *boxes = session_.BoxList();
    const QSignalBlocker quiet(list_);
    for (uint32_t i = 0; boxes && i < session_.BoxCount(); ++i)
        list_->AddBox(boxes[i].BoxNo, BoxNameText(boxes[i].BoxName, sizeof boxes[i].BoxName), boxes[i].Protected != 0);
}

void CBackupPage::ClearList() { list_->clear(); }

void CBackupPage::OnActivate() {
    QPushButton *action = main_.ActionButton();
    action->setText(Text(ids::kStartBackup));
    action->setEnabled(TargetIsZip() && session_.Connected() && list_->CountChecked() > 0);
}

void CBackupPage::OnCheckChanged() {
    if (TargetIsZip() && session_.Connected()) main_.ActionButton()->setEnabled(list_->CountChecked() > 0);
}

}  // namespace vtutil
