#include "login_dlg.hpp"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

#include "device_session.hpp"
#include "icons.hpp"
#include "language.hpp"
#include "message_box.hpp"
#include "password_rules.hpp"
#include "text_ids.hpp"
#include "widget_marks.hpp"

namespace vtutil {

CLoginDlg::CLoginDlg(DeviceSession &session, QWidget *parent) : QDialog(parent), session_(session) {
    setWindowTitle(Text(ids::kLoginTitle));
    setWindowIcon(icons::Application());
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto *picture = new QLabel(this);
    picture->setPixmap(icons::Device().pixmap(48, 48));
    picture->setAlignment(Qt::AlignTop);

    // Which device this is: its name and address as the registry has them.
    const AppState &app = session_.App();
    QString device = QString::fromStdString(app.deviceName);
    if (QString::fromStdString(app.deviceAddress) != device)
        device += QStringLiteral("  (") + QString::fromStdString(app.deviceAddress) + QLatin1Char(')');
    auto *deviceLabel = new QLabel(device, this);
    deviceLabel->setObjectName(QStringLiteral("device"));
    deviceLabel->setTextFormat(Qt::PlainText);
    QFont bold = deviceLabel->font();
    bold.setBold(true);
    deviceLabel->setFont(bold);
    MarkShowsData(deviceLabel);

    auto *label = new QLabel(Text(ids::kLoginLabel), this);
    label->setWordWrap(true);
    password_ = new QLineEdit(this);
    password_->setObjectName(QStringLiteral("password"));
    password_->setEchoMode(QLineEdit::Password);
    password_->setMaxLength(kPasswordMaxLength);
    label->setBuddy(password_);

    auto *buttons = new QDialogButtonBox(this);
    ok_ = buttons->addButton(Text(ids::kOk), QDialogButtonBox::AcceptRole);
    ok_->setDefault(true);
    ok_->setEnabled(false);
    buttons->addButton(Text(ids::kCancel), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &CLoginDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CLoginDlg::reject);
    connect(password_, &QLineEdit::textChanged, this, &CLoginDlg::OnTextChanged);

    auto *grid = new QGridLayout(this);
    grid->setHorizontalSpacing(16);
    grid->addWidget(picture, 0, 0, 3, 1);
    grid->addWidget(deviceLabel, 0, 1);
    grid->addWidget(label, 1, 1);
    grid->addWidget(password_, 2, 1);
    grid->setRowMinimumHeight(3, 8);
    grid->addWidget(buttons, 4, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    setMinimumWidth(380);
    password_->setMinimumWidth(220);
    password_->setFocus();
}

void CLoginDlg::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    if (!centred_) {
        centred_ = true;
        CentreOnScreen(this);
    }
    // In front when it opens; not kept on top, so that the messages of a
    // failed login show above it.
    raise();
    activateWindow();
}

void CLoginDlg::OnTextChanged(const QString &text) {
    ok_->setEnabled(!text.isEmpty());
    if (FirstForbiddenPasswordChar(text) < 0) return;
    // Such a character vanishes as soon as it is typed (all of them when
    // pasted); the caret stays where it was among the others.
    const int cursor = password_->cursorPosition();
    QString kept;
    int keptBeforeCursor = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (FirstForbiddenPasswordChar(text.mid(i, 1)) == 0) continue;
        kept += text[i];
        if (i < cursor) ++keptBeforeCursor;
    }
    password_->setText(kept);  // changes the text again, which enables OK
    password_->setCursorPosition(keptBeforeCursor);
}

void CLoginDlg::accept() {
    session_.SetPassword(password_->text().toStdString());
    ok_->setEnabled(false);
    {
        WaitCursor wait;
        session_.ConnectDevice(ConnectReason::Connect);
    }
    if (session_.PasswordRejected()) {
        session_.Close();
        password_->clear();
        password_->setFocus();
        return;
    }
    QDialog::accept();
}

}  // namespace vtutil
