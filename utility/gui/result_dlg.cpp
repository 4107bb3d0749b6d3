#include "result_dlg.hpp"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>

#include "error_text.hpp"
#include "file_viewer.hpp"
#include "icons.hpp"
#include "language.hpp"
#include "text_ids.hpp"

namespace vtutil {

namespace {

constexpr uint32_t kPathNotFound = 3;
constexpr int kIconSize = 32;
// Lines of details shown at once; longer ones scroll.
constexpr int kDetailsLines = 6;

QString SecondLineText(int kind, uint32_t result) {
    switch (kind) {
    case CResultDlg::kFinished: return result == 0 ? QString() : Text(ids::kDeviceNotReleased);
    case CResultDlg::kFailed: return result == kPathNotFound ? Text(ids::kMsgFolderNotMade) : ErrorTextFor(result);
    case CResultDlg::kRetriesUsedUp: return Text(ids::kRetriesUsedUp);
    case CResultDlg::kRetryPlanned:
        return (result == kPathNotFound ? Text(ids::kMsgFolderNotMade) : ShortErrorText(result)) + QLatin1Char('\n') +
               Text(ids::kRetryPlanned);
    case CResultDlg::kBoxesDeleted: return Text(ids::kBoxesDeletedStopped);
    default: return {};
    }
}

}  // namespace

CResultDlg::CResultDlg(int kind, uint32_t result, const QString &details, QWidget *parent)
    : QDialog(parent), kind_(kind), result_(result) {
    setObjectName(QStringLiteral("result"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    setModal(false);
    setWindowIcon(icons::Application());
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    const bool good = kind == kFinished || kind == kCancelled || kind == kStopped;
    setWindowTitle(Text(good ? ids::kCaptionBackup : ids::kCaptionError));

    QStyle::StandardPixmap pixmap = QStyle::SP_MessageBoxCritical;
    if (kind == kFinished && result == 0)
        pixmap = QStyle::SP_MessageBoxInformation;
    else if (kind == kCancelled || kind == kStopped || kind == kFinished)
        pixmap = QStyle::SP_MessageBoxWarning;
    auto *icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("icon"));
    icon->setPixmap(style()->standardIcon(pixmap, nullptr, this).pixmap(kIconSize, kIconSize));
    icon->setAlignment(Qt::AlignTop);

    uint32_t firstId = ids::kBackupFailed;
    if (kind == kFinished)
        firstId = ids::kBackupFinished;
    else if (kind == kCancelled)
        firstId = ids::kBackupCancelled;
    else if (kind == kStopped)
        firstId = ids::kScheduleStopped;
    first_ = new QLabel(Text(firstId), this);
    first_->setObjectName(QStringLiteral("first"));
    first_->setTextFormat(Qt::PlainText);
    summary_ = new QLabel(this);
    summary_->setObjectName(QStringLiteral("summary"));
    summary_->setTextFormat(Qt::PlainText);
    summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    summary_->hide();
    second_ = new QLabel(SecondLineText(kind, result), this);
    second_->setObjectName(QStringLiteral("second"));
    second_->setTextFormat(Qt::PlainText);
    second_->setWordWrap(true);

    viewLog_ = new QPushButton(Text(ids::kViewLogFile), this);
    viewLog_->setObjectName(QStringLiteral("viewLog"));
    viewLog_->setAutoDefault(false);
    ok_ = new QPushButton(Text(ids::kOk), this);
    ok_->setObjectName(QStringLiteral("ok"));
    ok_->setDefault(true);
    connect(viewLog_, &QPushButton::clicked, this, &CResultDlg::OnViewLog);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(viewLog_);
    if (!details.isEmpty()) {
        detailsButton_ = new QPushButton(Text(ids::kShowDetails), this);
        detailsButton_->setObjectName(QStringLiteral("showDetails"));
        detailsButton_->setAutoDefault(false);
        connect(detailsButton_, &QPushButton::clicked, this, &CResultDlg::OnToggleDetails);
        buttons->addWidget(detailsButton_);
        details_ = new QPlainTextEdit(details, this);
        details_->setObjectName(QStringLiteral("details"));
        details_->setReadOnly(true);
        details_->setFixedHeight(details_->fontMetrics().lineSpacing() * kDetailsLines);
        details_->hide();
    }
    buttons->addStretch(1);
    buttons->addWidget(ok_);

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(15, 15, 15, 12);
    grid->setHorizontalSpacing(15);
    grid->addWidget(icon, 0, 0, 3, 1);
    grid->addWidget(first_, 0, 1);
    grid->addWidget(summary_, 1, 1);
    grid->addWidget(second_, 2, 1, Qt::AlignTop);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(3, 1);
    grid->addLayout(buttons, 4, 0, 1, 2);
    if (details_) grid->addWidget(details_, 5, 0, 1, 2);
    setMinimumWidth(340);
}

void CResultDlg::SetSummary(const QString &summary) {
    summary_->setText(summary);
    summary_->setVisible(!summary.isEmpty());
    adjustSize();
}

void CResultDlg::OnViewLog() { OpenLogFile(this); }

void CResultDlg::OnToggleDetails() {
    const bool show = !details_->isVisible();
    details_->setVisible(show);
    detailsButton_->setText(Text(show ? ids::kHideDetails : ids::kShowDetails));
    adjustSize();
}

}  // namespace vtutil
