// The table of known devices that the discovery program keeps in the
// registry, and the device it leaves chosen.
#pragma once

#include <QString>
#include <vector>

#include "brd_registry.hpp"

namespace vtdiscover {

struct KnownDevice {
    QString name, address, model, location;
};

std::vector<KnownDevice> LoadKnownDevices();

// Merges a checked device into the list: an address already listed gets the
// new model; a new one is appended (false when the table is full).
bool MergeDevice(std::vector<KnownDevice> &devices, const KnownDevice &device);

// Writes the table and makes chosen the device to use (creating the key on
// a fresh machine). False when the registry cannot be written.
bool SaveChoice(const std::vector<KnownDevice> &devices, const KnownDevice &chosen);

// A value cut to what the registry readers accept (255 bytes of UTF-8).
QString RegistryText(const QString &text);

}  // namespace vtdiscover
