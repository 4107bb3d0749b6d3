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
    // The run is driven by the application object (login, then the main
    // window until it closes), not by the last window that closes.
    QApplication::setQuitOnLastWindowClosed(false);
    vtutil::CBackupRestoreApp app;
    return app.Run();
}
