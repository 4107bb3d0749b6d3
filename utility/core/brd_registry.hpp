// The utility's values in the registry store: the chosen device, the table of
// known devices that the discovery program keeps, and the retry policy.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "vthandles.hpp"
#include "vtregistry.h"

namespace vtutil {

inline constexpr const char *kBrdKeyPath = "SOFTWARE\\Norvik-Vemo\\Norvik-Vemo Client\\BRD";
inline constexpr const char *kLastSelectedIp = "Last Selected IP";
inline constexpr const char *kLastSelectedName = "Last Selected Name";
inline constexpr const char *kRetryCount = "RetryCount";
inline constexpr const char *kRetryInterval = "RetryInterval";
// Rows of the device table: "Address"n, "Name"n, "Model"n, "Location"n.
inline constexpr int kDeviceTableRows = 64;

// The key under HKEY_CURRENT_USER, open for the life of the object.
class BrdKey {
public:
    // Opens the key if it exists; the utility never creates it.
    static BrdKey Open(DWORD access);
    // Opens the key, creating it (the discovery program, on a fresh machine).
    static BrdKey Create();

    BrdKey(BrdKey &&other) noexcept = default;
    BrdKey &operator=(BrdKey &&) = delete;
    BrdKey(const BrdKey &) = delete;

    bool IsOpen() const { return key_ != nullptr; }
    // A text value read into 256 bytes; missing when absent, not text, or
    // longer than 255 bytes.
    std::optional<std::string> Read(const char *name) const;
    std::optional<std::string> Read(const std::string &name) const { return Read(name.c_str()); }
    bool Write(const char *name, const std::string &value);
    bool Write(const std::string &name, const std::string &value) { return Write(name.c_str(), value); }
    bool Delete(const std::string &name);

private:
    explicit BrdKey(HKEY key) : key_(key) {}
    vt::RegistryKey key_;
};

// The chosen device: both values, or nothing.
struct ChosenDevice {
    std::string address;
    std::string name;
};
std::optional<ChosenDevice> ReadChosenDevice();

// One row of the known-device table.
struct DeviceRow {
    int index = 0;  // n of "Address"n
    std::string address, name, model, location;
};
// The rows that hold all four values, in row order; gaps are allowed.
std::vector<DeviceRow> ReadDeviceTable(const BrdKey &key);
// Writes rows 0.. of the table and removes the values of every later row.
// False when a write fails or there are more rows than the table holds.
bool WriteDeviceTable(BrdKey &key, const std::vector<DeviceRow> &rows);

}  // namespace vtutil
