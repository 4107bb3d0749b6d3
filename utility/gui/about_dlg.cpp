#include "about_dlg.hpp"

#include <QDialogButtonBox>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "icons.hpp"
#include "language.hpp"
#include "text_ids.hpp"

namespace vtutil {

namespace {
constexpr QSize kPictureSize(240, 120);
}  // namespace

CAboutDlg::CAboutDlg(QWidget *parent) : QDialog(parent) {
    setWindowTitle(Text(ids::kAboutTitle));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto *frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("pictureFrame"));
    frame->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    frame->setAutoFillBackground(true);
    frame->setBackgroundRole(QPalette::Base);
    auto *picture = new QLabel(frame);
    picture->setAlignment(Qt::AlignCenter);
    picture->setPixmap(QIcon(icons::AboutPicturePath()).pixmap(kPictureSize));
    auto *frameLayout = new QVBoxLayout(frame);
    frameLayout->setContentsMargins(12, 12, 12, 12);
    frameLayout->addWidget(picture);

    auto *product = new QLabel(Text(ids::kAboutProduct) + QLatin1Char(' ') + Text(ids::kAboutVersion), this);
    product->setObjectName(QStringLiteral("product"));
    QFont bold = product->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.15);
    product->setFont(bold);
    product->setAlignment(Qt::AlignCenter);

    auto *purpose = new QLabel(Text(ids::kAboutPurpose), this);
    purpose->setObjectName(QStringLiteral("purpose"));
    purpose->setWordWrap(true);
    purpose->setAlignment(Qt::AlignCenter);

    auto *copyright = new QLabel(Text(ids::kAboutCopyright) + QLatin1Char(' ') + Text(ids::kAboutHolder), this);
    copyright->setObjectName(QStringLiteral("copyright"));
    copyright->setAlignment(Qt::AlignCenter);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *ok = buttons->addButton(Text(ids::kOk), QDialogButtonBox::AcceptRole);
    ok->setDefault(true);
    buttons->setCenterButtons(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &CAboutDlg::accept);

    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(10);
    layout->addWidget(frame);
    layout->addWidget(product);
    layout->addWidget(purpose);
    layout->addWidget(copyright);
    layout->addSpacing(6);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    purpose->setFixedWidth(kPictureSize.width() + 120);
}

}  // namespace vtutil
