// A simulated device on loopback with the utility's state around it: the
// registry store, the runtime folder, the state folder (the log of automatic
// backup) and the web service port point into a fresh temporary folder for
// the life of the object, and the device is the chosen one.
#pragma once

#include <memory>
#include <string>

#include "app_state.hpp"
#include "brd_registry.hpp"
#include "closed_port.hpp"
#include "device_session.hpp"
#include "device_wait_dlg.hpp"
#include "message_box.hpp"
#include "sim_device.hpp"

namespace vttest {

// Writes values under the utility's key, creating it.
inline void WriteBrdValues(std::initializer_list<std::pair<std::string, std::string>> values) {
    vtutil::BrdKey key = vtutil::BrdKey::Create();
    for (const auto &[name, value] : values) key.Write(name, value);
}

inline std::string ReadBrdValue(const char *name) {
    return vtutil::BrdKey::Open(KEY_READ).Read(name).value_or("<missing>");
}

class UtilityDevice {
public:
    explicit UtilityDevice(const SimOptions &options = SimOptions())
        : sim(options), httpPort("VTBOX_HTTP_PORT", std::to_string(sim.device->HttpPort())),
          runtime("XDG_RUNTIME_DIR", MakeRuntimeFolder(sim.dir)), state("XDG_STATE_HOME", sim.dir / "state") {
        app.deviceAddress = "127.0.0.1";
        app.deviceName = "Print room";
        WriteBrdValues({{vtutil::kLastSelectedIp, app.deviceAddress}, {vtutil::kLastSelectedName, app.deviceName}});
        vtutil::ReportSessionErrorsInMessageBoxes(session);
        vtutil::WaitForDeviceWithDialog(session);
    }

    // Logs in without a dialog.
    void Login(const std::string &password = "admin") {
        session.SetPassword(password);
        session.ConnectDevice(vtutil::ConnectReason::Connect);
    }

    // Requests for page (whose query also holds part, "MOD=1", when given).
    size_t CountRequests(const std::string &page, const std::string &part = {}) const {
        size_t n = 0;
        for (const std::string &target : sim.device->Records().httpRequests)
            if (target.find(page) != std::string::npos && target.find(part) != std::string::npos) ++n;
        return n;
    }

    SimDevice sim;
    ScopedEnv httpPort;
    ScopedEnv runtime;
    ScopedEnv state;
    vtutil::AppState app;
    vtutil::DeviceSession session{app};

private:
    static std::string MakeRuntimeFolder(const TempDir &dir) {
        std::string folder = dir / "run";
        std::filesystem::create_directories(folder);
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
        return folder;
    }
};

}  // namespace vttest
