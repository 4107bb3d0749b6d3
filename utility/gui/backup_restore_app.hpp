// The application object: start-up (one instance, the language, the chosen
// device, login), the main window, and the end of the run.
#pragma once

#include <memory>

#include "app_state.hpp"
#include "single_instance.hpp"

namespace vtutil {

class DeviceSession;

class CBackupRestoreApp {
public:
    CBackupRestoreApp();
    ~CBackupRestoreApp();
    CBackupRestoreApp(const CBackupRestoreApp &) = delete;
    CBackupRestoreApp &operator=(const CBackupRestoreApp &) = delete;

    // Runs the program from start to end; returns the exit code. A second
    // instance returns 0 at once; one that cannot make its single-instance
    // lock says why and returns 1.
    int Run();

    AppState &State() { return state_; }
    // Null once the run has ended.
    DeviceSession *Session() { return session_.get(); }

private:
    void LoadLanguage();
    bool FindDevice();
    void RunMainWindow();

    AppState state_;
    std::unique_ptr<DeviceSession> session_;
    SingleInstance instance_;
    bool languageLoadedHere_ = false;
};

}  // namespace vtutil
