// The restore page: a backup file and the boxes it holds, each with a check
// box and its size. "Choose documents..." narrows a box to folders and
// documents of it. Its Start asks how to treat documents of the same name,
// runs a restore job behind the progress window and reports how it ended.
#pragma once

#include <QWidget>
#include <cstdint>
#include <map>

#include "choose_documents_dlg.hpp"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidgetItem;

namespace vtutil {

class BoxList;
class CBackupRestoreDlg;
class DeviceSession;

class CRestorePg : public QWidget {
    Q_OBJECT
public:
    CRestorePg(CBackupRestoreDlg &main, DeviceSession &session, QWidget *parent = nullptr);

    // The page-reload message: clears the file, the list and the total.
    void Reload();
    // Empties the list (the device is gone).
    void ClearList();
    // The page became the active one.
    void OnActivate();

    // The action button while this page is active.
    void Start();
    // Chooses an existing backup file.
    void Browse();
    // Opens the chooser of documents on the selected box; what it leaves
    // ticked is what a restore writes of that box.
    void ChooseDocuments();

    BoxList *List() const { return list_; }
    QLineEdit *PathEdit() const { return path_; }
    QPushButton *BrowseButton() const { return browse_; }
    QPushButton *ChooseButton() const { return choose_; }
    QLabel *TotalLabel() const { return total_; }
    // The chosen file's date, engine version and MAC address.
    QLabel *MadeLabel() const { return made_; }
    QLabel *EngineVersionLabel() const { return engineVersion_; }
    QLabel *MacAddressLabel() const { return macAddress_; }
    // Set once the chosen file was read and matches the connected device.
    bool TargetValid() const { return targetValid_; }
    // The backup file of the last job.
    const QString &ZipPath() const { return zipPath_; }
    // The boxes narrowed to chosen documents, by number.
    const std::map<uint32_t, DocumentChoice> &Choices() const { return choices_; }

private:
    bool PathIsZip() const;
    void OnPathChanged(const QString &text);
    void OnCheckChanged();
    // Reads the file's description and lists its boxes.
    void ReadFile(const QString &path);
    void ShowTotal();
    void Refuse(uint32_t message, const QString &details = {});
    // Chooser: enabled for the selected box of a file that can be restored.
    void EnableChooser();
    // Shows a box's row as the choice leaves it: narrowed, or whole again.
    void ApplyChoice(QTreeWidgetItem *row, const DocumentChoice &choice);

    CBackupRestoreDlg &main_;
    DeviceSession &session_;
    QGroupBox *group_;
    QLineEdit *path_;
    QPushButton *browse_;
    QPushButton *choose_;
    BoxList *list_;
    QLabel *total_;
    QLabel *made_;
    QLabel *engineVersion_;
    QLabel *macAddress_;
    bool targetValid_ = false;
    QString zipPath_;
    std::map<uint32_t, DocumentChoice> choices_;
};

}  // namespace vtutil
