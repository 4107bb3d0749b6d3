// Saves pictures of the utility's windows for people to look at (not a
// test): the login dialog, the main window on each page and enlarged, the
// Device menu, the device choice, a question and the about box.
//
//   utility_screenshots OUTPUT_FOLDER PASSWORD
//
// The device is the chosen one of the registry store (VTBOX_REGISTRY_DIR,
// VTBOX_HTTP_PORT); scripts/screenshots sets everything up.
#include <QApplication>
#include <QLineEdit>
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <cstdio>

#include "about_dlg.hpp"
#include "backup_restore_dlg.hpp"
#include "brd_registry.hpp"
#include "device_session.hpp"
#include "language.hpp"
#include "login_dlg.hpp"
#include "message_box.hpp"
#include "select_devices_dlg.hpp"
#include "text_ids.hpp"
#include "va_property_sheet.hpp"

namespace {

QDir g_out;

void Save(QWidget *widget, const char *name) {
    QTest::qWait(400);
    const QString path = g_out.filePath(QString::fromLatin1(name));
    if (!widget->grab().save(path)) std::fprintf(stderr, "utility_screenshots: cannot write %s\n", qPrintable(path));
    else std::printf("%s\n", qPrintable(path));
}

}  // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: utility_screenshots OUTPUT_FOLDER PASSWORD\n");
        return 2;
    }
    g_out = QDir(QString::fromLocal8Bit(argv[1]));
    if (!vtutil::Language::Instance().LoadFrom(QStringLiteral(VTUTIL_LANGUAGE_LIBRARY))) {
        std::fprintf(stderr, "utility_screenshots: cannot load %s\n", VTUTIL_LANGUAGE_LIBRARY);
        return 1;
    }
    std::optional<vtutil::ChosenDevice> chosen = vtutil::ReadChosenDevice();
    if (!chosen) {
        std::fprintf(stderr, "utility_screenshots: no chosen device in the registry store\n");
        return 1;
    }
    vtutil::AppState state;
    state.deviceAddress = chosen->address;
    state.deviceName = chosen->name;
    vtutil::DeviceSession session(state);
    vtutil::ReportSessionErrorsInMessageBoxes(session);

    vtutil::CLoginDlg login(session);
    login.show();
    QTest::keyClicks(login.PasswordEdit(), QString::fromLocal8Bit(argv[2]));
    Save(&login, "login.png");
    login.accept();
    if (!session.Connected()) {
        std::fprintf(stderr, "utility_screenshots: the login failed\n");
        return 1;
    }

    vtutil::CBackupRestoreDlg window(state, session);
    window.show();
    Save(&window, "main-backup.png");
    window.Sheet()->setCurrentIndex(1);
    Save(&window, "main-restore.png");
    window.Sheet()->setCurrentIndex(0);
    window.resize(820, 680);
    Save(&window, "main-enlarged.png");
    window.resize(450, 550);

    QMenu *device = window.Menus().value(3);
    if (device) {
        window.Sheet()->setCurrentIndex(1);
        device->popup(window.mapToGlobal(QPoint(120, 40)));
        Save(device, "menu-device.png");
        device->hide();
        window.Sheet()->setCurrentIndex(0);
    }

    vtutil::CSelectDevicesDlg choose(state, &window);
    choose.show();
    Save(&choose, "device-choice.png");
    choose.hide();

    // The question before the storage is initialised, as the command asks it.
    QMessageBox question(QMessageBox::Question, vtutil::Text(vtutil::ids::kCaptionInitialise),
                         vtutil::Text(vtutil::ids::kMsgConfirmInitialise), QMessageBox::Yes | QMessageBox::No, &window);
    question.setDefaultButton(QMessageBox::No);
    question.show();
    Save(&question, "message-initialise.png");
    question.hide();

    vtutil::CAboutDlg about(&window);
    about.show();
    Save(&about, "about.png");
    about.hide();

    session.Close();
    return 0;
}
