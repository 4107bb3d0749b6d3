// The simulated device, seeded in a temporary store and started on free
// loopback ports, for the engine's integration tests. The registry store and
// VTBOX_FTP_PORT point at it for the life of the object.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "devicesim/device.hpp"
#include "devicesim/seeding.hpp"
#include "temp_dir.hpp"
#include "vtBoxBRD.h"

namespace vttest {

struct SimOptions {
    devicesim::SeedOptions seed;
    bool seedStore = true;
    std::string engineVersion = "Korvo-B V1.3.0.0";
    std::string password = "admin";
    bool busyAsHttp503 = false;
    bool listingCrLf = false;
    unsigned sessionIdleSeconds = 900;
    std::string address = "127.0.0.1";  // any of 127.0.0.0/8, for many devices side by side
};

class SimDevice {
public:
    explicit SimDevice(const SimOptions &o = SimOptions()) {
        storeRoot = dir / "store";
        std::string error;
        if (o.seedStore && !devicesim::SeedStore(storeRoot, o.seed, error)) throw std::runtime_error(error);
        devicesim::DeviceOptions d;
        d.store = storeRoot;
        d.password = o.password;
        d.engineVersion = o.engineVersion;
        d.busyAsHttp503 = o.busyAsHttp503;
        d.listingCrLf = o.listingCrLf;
        d.sessionIdleSeconds = o.sessionIdleSeconds;
        d.address = address = o.address;
        device = std::make_unique<devicesim::Device>(d);
        device->Start();
        ftpPort = std::make_unique<ScopedEnv>("VTBOX_FTP_PORT", std::to_string(device->FtpPort()));
    }

    VTMFPSESSION Session() const {
        VTMFPSESSION s{};
        std::snprintf(s.Host, sizeof s.Host, "%s", address.c_str());
        s.Port = device->HttpPort();
        s.Reserved2 = 10000;
        return s;
    }

    size_t RequestCount() const { return device->Records().httpRequests.size(); }
    devicesim::Faults &faults() { return device->GetFaults(); }

    TempDir dir;
    ScopedEnv registry{"VTBOX_REGISTRY_DIR", dir / "registry"};
    std::string storeRoot;
    std::string address;
    std::unique_ptr<devicesim::Device> device;
    std::unique_ptr<ScopedEnv> ftpPort;
};

// The device is free: another session can lock it and make an FTP account.
inline void ExpectDeviceReleased(SimDevice &sim) {
    VTMFPSESSION s = sim.Session();
    ASSERT_EQ(vtBoxOpenConnection(&s), 0u);
    uint32_t t = 0;
    EXPECT_EQ(vtBoxLockUiJob(&s, "admin", 0, &t), 0u) << "the panel is still locked";
    char login[256];
    EXPECT_EQ(vtBoxCreateFTPAccount(&s, "admin", login), 0u) << "the FTP account still exists";
    vtBoxDeleteFTPAccount(&s, "admin");
    vtBoxUnlockUiJob(&s, "admin", 0);
    vtBoxCloseConnection(&s);
}

}  // namespace vttest
