#include "restore_pg.hpp"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "backup_restore_dlg.hpp"
#include "box_list.hpp"
#include "device_session.hpp"
#include "language.hpp"
#include "text_ids.hpp"

namespace vtutil {

namespace {
constexpr int kPathMaxLength = 228;
constexpr int kBoxColumnWidth = 299;
}  // namespace

CRestorePg::CRestorePg(CBackupRestoreDlg &main, DeviceSession &session, QWidget *parent)
    : QWidget(parent), main_(main), session_(session) {
    group_ = new QGroupBox(Text(ids::kBackupFileGroup), this);
    path_ = new QLineEdit(group_);
    path_->setObjectName(QStringLiteral("path"));
    path_->setMaxLength(kPathMaxLength);
    browse_ = new QPushButton(Text(ids::kBrowse), group_);
    // Reading a backup file and restoring it come with the restore job.
    path_->setEnabled(false);
    browse_->setEnabled(false);
    auto *row = new QHBoxLayout(group_);
    row->addWidget(path_, 1);
    row->addWidget(browse_);

    list_ = new BoxList(this);
    list_->setObjectName(QStringLiteral("restoreBoxes"));
    list_->setColumnCount(2);
    list_->setHeaderLabels({Text(ids::kNameHeader), Text(ids::kSizeHeader)});
    list_->setColumnWidth(0, kBoxColumnWidth);
    list_->header()->setStretchLastSection(true);

    total_ = new QLabel(this);
    total_->setObjectName(QStringLiteral("total"));
    total_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(group_);
    layout->addWidget(list_, 1);
    layout->addWidget(total_);
}

bool CRestorePg::PathIsZip() const { return path_->text().endsWith(QStringLiteral(".zip"), Qt::CaseInsensitive); }

void CRestorePg::Reload() {
    path_->clear();
    ClearList();
}

void CRestorePg::ClearList() {
    list_->clear();
    total_->clear();
}

void CRestorePg::OnActivate() {
    QPushButton *action = main_.ActionButton();
    action->setText(Text(ids::kStartRestore));
    if (!PathIsZip()) targetValid_ = false;
    action->setEnabled(targetValid_ && list_->CountChecked() > 0 && session_.Connected());
}

}  // namespace vtutil
