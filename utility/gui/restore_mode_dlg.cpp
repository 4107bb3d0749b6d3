#include "restore_mode_dlg.hpp"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "icons.hpp"
#include "job_thread.hpp"
#include "language.hpp"
#include "text_ids.hpp"

namespace vtutil {

CRestoreModeDlg::CRestoreModeDlg(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("restoreMode"));
    setWindowTitle(Text(ids::kRestoreModeTitle));
    setWindowIcon(icons::Application());
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto *question = new QLabel(Text(ids::kRestoreModeQuestion), this);
    question->setObjectName(QStringLiteral("question"));
    question->setWordWrap(true);
    auto *group = new QGroupBox(Text(ids::kRestoreModeGroup), this);
    replace_ = new QRadioButton(Text(ids::kRestoreModeReplace), group);
    replace_->setObjectName(QStringLiteral("replace"));
    keepBoth_ = new QRadioButton(Text(ids::kRestoreModeKeepBoth), group);
    keepBoth_->setObjectName(QStringLiteral("keepBoth"));
    replace_->setChecked(true);
    auto *choices = new QVBoxLayout(group);
    choices->addWidget(replace_);
    choices->addWidget(keepBoth_);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *ok = buttons->addButton(Text(ids::kOk), QDialogButtonBox::AcceptRole);
    ok->setDefault(true);
    buttons->addButton(Text(ids::kCancel), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(question);
    layout->addWidget(group);
    layout->addWidget(buttons);
    setMinimumWidth(360);
}

uint32_t CRestoreModeDlg::RestoreMode() const { return replace_->isChecked() ? kRestoreReplace : kRestoreKeepBoth; }

}  // namespace vtutil
