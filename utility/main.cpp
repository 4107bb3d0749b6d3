// VAULTRABackupRestore: backs up and restores the document boxes of a
// network printer, interactively.
#include <QApplication>

#include "backup_restore_app.hpp"
#include "icons.hpp"

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VAULTRABackupRestore"));
    QApplication::setDesktopFileName(QStringLiteral("vaultra-backup-restore"));
    QApplication::setWindowIcon(vtutil::icons::Application());
    vtutil::CBackupRestoreApp app;
    return app.Run();
}
