// The backup page's file dialog: the toolkit's own file dialog for a new or
// existing zip file, with one more line below that shows the free space of
// the file system of the folder on view.
#pragma once

#include <QFileDialog>

class QLabel;

namespace vtutil {

class CBRFileDialog : public QFileDialog {
    Q_OBJECT
public:
    // Opens in folder (the home folder when it does not exist) with the
    // suggested name.
    CBRFileDialog(const QString &folder, const QString &name, QWidget *parent = nullptr);

    QLabel *FreeSpaceLine() const { return freeSpace_; }
    // The chosen file, after OK.
    QString ChosenPath() const;

public slots:
    // A name with a character that a backup file may not hold is refused;
    // the dialog stays open.
    void accept() override;

private:
    void ShowFreeSpace(const QString &folder);

    QLabel *freeSpace_;
};

}  // namespace vtutil
