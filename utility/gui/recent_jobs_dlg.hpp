// The window of recent jobs (File > Recent Jobs): the backups and restores
// this user ran on this computer, by hand, from the schedule and with vtbox,
// newest first, from the job history that they all write. A backup's folder
// opens from here, and Restore... takes its file to the restore page.
#pragma once

#include <QDialog>
#include <vector>

#include "job_history.hpp"

class QLabel;
class QPushButton;
class QTreeWidget;

namespace vtutil {

class CBackupRestoreDlg;

class CRecentJobsDlg : public QDialog {
    Q_OBJECT
public:
    enum Column { When, Job, Outcome, Device, Boxes, File, Size, Documents, TimeTaken, Reason, ColumnCount };

    explicit CRecentJobsDlg(CBackupRestoreDlg &main);

    QTreeWidget *List() const { return list_; }
    // Says that there is no job yet, or why the history cannot be read.
    QLabel *Note() const { return note_; }
    QPushButton *OpenFolderButton() const { return openFolder_; }
    QPushButton *RestoreButton() const { return restore_; }

private:
    void Fill();
    const vtjobs::HistoryEntry *Selected() const;
    void OnSelectionChanged();
    void OnOpenFolder();
    void OnRestore();

    CBackupRestoreDlg &main_;
    std::vector<vtjobs::HistoryEntry> entries_;
    QTreeWidget *list_;
    QLabel *note_;
    QPushButton *openFolder_;
    QPushButton *restore_;
};

}  // namespace vtutil
