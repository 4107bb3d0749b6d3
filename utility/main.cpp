// VAULTRABackupRestore: backs up and restores the document boxes of a
// network printer, interactively.
#include <QApplication>
#include <csignal>
#include <cstdio>
#include <exception>

#include "backup_restore_app.hpp"
#include "icons.hpp"

static int RunProgram(int argc, char *argv[]) {
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

// Nothing may end the program with an exception: a failure the code did not
// foresee (a broken temp folder, no memory) is said plainly and fails.
int main(int argc, char **argv) {
    // A file-size limit (ulimit -f) fails the write (reported as a full disk)
    // instead of ending the program with the device locked.
    std::signal(SIGXFSZ, SIG_IGN);
    try {
        return RunProgram(argc, argv);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "VAULTRABackupRestore: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "VAULTRABackupRestore: an unexpected failure\n");
    }
    return 1;
}
