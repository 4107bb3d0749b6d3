#include "backup_restore_app.hpp"

#include <QDir>
#include <QEventLoop>
#include <QMessageBox>

#include "backup_restore_dlg.hpp"
#include "brd_registry.hpp"
#include "device_session.hpp"
#include "device_wait_dlg.hpp"
#include "discovery.hpp"
#include "error_text.hpp"
#include "job_report.hpp"
#include "language.hpp"
#include "login_dlg.hpp"
#include "message_box.hpp"
#include "text_ids.hpp"

namespace vtutil {

CBackupRestoreApp::CBackupRestoreApp() : session_(std::make_unique<DeviceSession>(state_)) {}

CBackupRestoreApp::~CBackupRestoreApp() = default;

void CBackupRestoreApp::LoadLanguage() {
    // A language loaded before the run (another language, tests) stays.
    if (Language::Instance().Loaded()) return;
    languageLoadedHere_ = Language::Instance().Load();
    if (languageLoadedHere_) return;
    // The one text that cannot come from the library.
    QMessageBox box(QMessageBox::NoIcon, QString(), QStringLiteral("Coud not Load Language Library"), QMessageBox::Ok);
    box.exec();
}

bool CBackupRestoreApp::FindDevice() {
    std::optional<ChosenDevice> chosen = ReadChosenDevice();
    if (!chosen) {
        RunDiscovery();
        chosen = ReadChosenDevice();
    }
    if (!chosen) {
        ShowMessage(nullptr, Text(ids::kMsgNoDevice), Text(ids::kCaptionError), QMessageBox::Critical);
        return false;
    }
    state_.deviceAddress = chosen->address;
    state_.deviceName = chosen->name;
    return true;
}

void CBackupRestoreApp::RunMainWindow() {
    CBackupRestoreDlg window(state_, *session_);
    QEventLoop loop;
    QObject::connect(&window, &CBackupRestoreDlg::Closed, &loop, &QEventLoop::quit);
    window.show();
    loop.exec();
}

int CBackupRestoreApp::Run() {
    // A second start ends without a word; a lock that cannot be made at
    // all is said, with its cause.
    const SingleInstance::Result lock = instance_.Acquire();
    if (lock == SingleInstance::Result::AlreadyRunning) return 0;
    LoadLanguage();
    if (lock == SingleInstance::Result::Failed) {
        ShowMessage(nullptr,
                    FormatText(Text(ids::kMsgInstanceLockFailed), SingleInstance::LockPath()) + QLatin1Char('\n') +
                        ErrorTextFor(instance_.FailureCode()),
                    Text(ids::kCaptionError), QMessageBox::Critical);
        if (languageLoadedHere_) Language::Instance().Unload();
        return 1;
    }
    state_.startFolder = QDir::currentPath().toStdString();
    ReportSessionErrorsInMessageBoxes(*session_);
    WaitForDeviceWithDialog(*session_);

    if (FindDevice()) {
        CLoginDlg login(*session_);
        if (login.exec() == QDialog::Accepted) RunMainWindow();
    }

    session_->Close();
    session_.reset();
    if (languageLoadedHere_) Language::Instance().Unload();
    return 0;
}

}  // namespace vtutil
