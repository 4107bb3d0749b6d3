// A fleet run: every chosen device of an inventory backed up (or its newest
// backup verified) by a vtbox process of its own, a few at once, each
// failure kept to its device, the state and the metrics written after every
// device, and one report at the end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fleet_inventory.hpp"

namespace vtcli::fleet {

struct RunOptions {
    uint32_t jobs = 0;  // 0: the inventory's
    std::vector<std::string> groups, devices;
    bool verify = false;  // fleet backup --verify
    bool json = false;
    std::string metrics;  // --metrics, beats the inventory's metrics-file
    std::string program;  // the vtbox program that each device's job runs
};

// The devices a run takes: the enabled ones, of the groups and names given
// (every name given must exist). False with the message for a name that
// does not.
bool ChooseDevices(const Inventory &inventory, const RunOptions &options, std::vector<const DeviceConfig *> *chosen,
                   std::string *error);

int RunFleetBackup(const Inventory &inventory, const RunOptions &options);
int RunFleetVerify(const Inventory &inventory, const RunOptions &options);
int RunFleetStatus(const Inventory &inventory, bool json);

}  // namespace vtcli::fleet
