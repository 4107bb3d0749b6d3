// The help and the log, opened with the desktop's opener ("xdg-open"), or,
// when there is none or it fails, shown in a window of the program's own: the
// help as HTML in a text browser, the log read-only with its path above it.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QTextBrowser;

namespace vtutil {

class CFileViewerDlg : public QDialog {
    Q_OBJECT
public:
    enum class Kind { Html, Text };
    // Modeless; deletes itself when closed.
    CFileViewerDlg(Kind kind, const QString &path, const QString &title, QWidget *parent = nullptr);

    QString Path() const { return path_; }
    QLabel *PathLabel() const { return pathLabel_; }
    QTextBrowser *Browser() const { return browser_; }

private:
    QString path_;
    QLabel *pathLabel_;
    QTextBrowser *browser_;
};

// The most of a log that the viewer reads: its last 4 MiB, so that a log
// grown without bound cannot exhaust the program's memory.
inline constexpr qint64 kLogShownBytes = 4 * 1024 * 1024;

// The log's text as the viewer shows it: the whole file, or its last
// maxBytes after a line "..." when it is longer.
QString ReadLogTail(const QString &path, qint64 maxBytes = kLogShownBytes);

// Help (F1) and View Log File.
void OpenHelp(QWidget *parent);
void OpenLogFile(QWidget *parent);

}  // namespace vtutil
