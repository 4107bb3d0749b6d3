#include "file_viewer.hpp"

#include <unistd.h>

#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLabel>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "icons.hpp"
#include "language.hpp"
#include "log_path.hpp"
#include "program_files.hpp"
#include "text_ids.hpp"
#include "vtplatform/local_file.hpp"
#include "widget_marks.hpp"

namespace vtutil {

namespace {

constexpr QSize kViewerSize(640, 480);

void ShowViewer(CFileViewerDlg::Kind kind, const QString &path, const QString &title, QWidget *parent) {
    auto *viewer = new CFileViewerDlg(kind, path, title, parent);
    viewer->show();
    viewer->raise();
    viewer->activateWindow();
}

// The desktop opens the file; when it has no opener, or the opener says it
// could not, the program's own viewer does.
void Open(CFileViewerDlg::Kind kind, const QString &path, const QString &title, QWidget *parent) {
    const QString opener = DesktopOpener();
    if (opener.isEmpty()) {
        ShowViewer(kind, path, title, parent);
        return;
    }
    // Not owned by a window: an opener that waits for its viewer outlives
    // the window that asked, and is never killed with it.
    auto *process = new QProcess;
    const QPointer<QWidget> owner(parent);
    const auto fallBack = [=] {
        process->deleteLater();
        ShowViewer(kind, path, title, owner.data());
    };
    QObject::connect(process, &QProcess::errorOccurred, process, [=](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) fallBack();
    });
    QObject::connect(process, &QProcess::finished, process, [=](int code, QProcess::ExitStatus status) {
        if (status == QProcess::NormalExit && code == 0)
            process->deleteLater();
        else
            fallBack();
    });
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    process->start(opener, {path});
}

}  // namespace

QString ReadLogTail(const QString &path, qint64 maxBytes) {
    // A FIFO or a device at the log's name is shown as no log, never waited on.
    struct stat st {};
    std::string error;
    const int fd = vt::OpenLocalFile(QFile::encodeName(path).toStdString(), vt::LinkRule::Follow, &st, &error);
    if (fd < 0) return {};
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {};
    }
    const qint64 size = file.size();
    if (size <= maxBytes) return QString::fromUtf8(file.read(maxBytes));
    // One byte more than shown, to tell whether the part begins a line.
    file.seek(size - maxBytes - 1);
    QByteArray tail = file.read(maxBytes + 1);
    // From the first whole line on.
    const qsizetype lineEnd = tail.indexOf('\n');
    tail.remove(0, lineEnd < 0 ? 1 : lineEnd + 1);
    return QStringLiteral("...\n") + QString::fromUtf8(tail);
}

CFileViewerDlg::CFileViewerDlg(Kind kind, const QString &path, const QString &title, QWidget *parent)
    : QDialog(parent), path_(path) {
    setObjectName(QStringLiteral("fileViewer"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setWindowTitle(title);
    setWindowIcon(icons::Application());
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    pathLabel_ = new QLabel(Text(ids::kViewerFile) + QLatin1Char(' ') + path, this);
    pathLabel_->setObjectName(QStringLiteral("path"));
    pathLabel_->setTextFormat(Qt::PlainText);
    pathLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    pathLabel_->setWordWrap(true);
    MarkShowsData(pathLabel_);

    browser_ = new QTextBrowser(this);
    browser_->setObjectName(QStringLiteral("browser"));
    browser_->setReadOnly(true);
    browser_->setOpenExternalLinks(false);
    MarkShowsData(browser_);
    if (!QFileInfo::exists(path)) {
        browser_->setPlainText(Text(ids::kViewerNoFile));
    } else if (kind == Kind::Html) {
        browser_->setSource(QUrl::fromLocalFile(path), QTextDocument::HtmlResource);
    } else {
        browser_->setLineWrapMode(QTextEdit::NoWrap);
        browser_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        browser_->setPlainText(ReadLogTail(path));
        browser_->moveCursor(QTextCursor::End);
    }

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *close = buttons->addButton(Text(ids::kViewerClose), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("close"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(pathLabel_);
    layout->addWidget(browser_, 1);
    layout->addWidget(buttons);
    resize(kViewerSize);
}

void OpenHelp(QWidget *parent) { Open(CFileViewerDlg::Kind::Html, HelpFilePath(), Text(ids::kHelpTitle), parent); }

void OpenLogFile(QWidget *parent) {
    Open(CFileViewerDlg::Kind::Text, UtilityLogPath(), Text(ids::kLogTitleViewer), parent);
}

}  // namespace vtutil
