// The backup scheduled to run with the program closed (a systemd timer of
// the user's, set up from the automatic backup dialog): what it does, when it
// ran last and runs next, and a button that removes it.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace vtutil {

class CSystemScheduleDlg : public QDialog {
    Q_OBJECT
public:
    explicit CSystemScheduleDlg(QWidget *parent = nullptr);

    QLabel *DescriptionLabel() const { return description_; }
    // Its last run (time, outcome, file) and its next, from systemd.
    QLabel *RunsLabel() const { return runs_; }
    QPushButton *RemoveButton() const { return remove_; }

private:
    void ShowInstalled();
    void OnRemove();

    QLabel *description_;
    QLabel *runs_;
    QPushButton *remove_;
};

}  // namespace vtutil
