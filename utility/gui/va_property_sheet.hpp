// The property sheet of the main window: the backup and the restore page as
// tabs. Qt's layouts keep the pages fitted to the window.
#pragma once

#include <QTabWidget>

namespace vtutil {

class CVAPropertySheet : public QTabWidget {
    Q_OBJECT
public:
    explicit CVAPropertySheet(QWidget *parent = nullptr);
};

}  // namespace vtutil
