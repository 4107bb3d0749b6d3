#include "device_table.hpp"

namespace vtdiscover {

QString RegistryText(const QString &text) {
    QString cut = text.trimmed();
    while (cut.toUtf8().size() > 255) cut.chop(1);
    return cut;
}

std::vector<KnownDevice> LoadKnownDevices() {
    std::vector<KnownDevice> devices;
    vtutil::BrdKey key = vtutil::BrdKey::Open(KEY_READ);
    for (const vtutil::DeviceRow &row : vtutil::ReadDeviceTable(key))
        devices.push_back({QString::fromStdString(row.name), QString::fromStdString(row.address),
                           QString::fromStdString(row.model), QString::fromStdString(row.location)});
    return devices;
}

bool MergeDevice(std::vector<KnownDevice> &devices, const KnownDevice &device) {
    for (KnownDevice &known : devices) {
        if (known.address.compare(device.address, Qt::CaseInsensitive) != 0) continue;
        known.model = device.model;
        return true;
    }
    if (devices.size() >= static_cast<size_t>(vtutil::kDeviceTableRows)) return false;
    devices.push_back(device);
    return true;
}

bool SaveChoice(const std::vector<KnownDevice> &devices, const KnownDevice &chosen) {
    vtutil::BrdKey key = vtutil::BrdKey::Create();
    if (!key.IsOpen()) return false;
    std::vector<vtutil::DeviceRow> rows;
    for (const KnownDevice &d : devices)
        rows.push_back({static_cast<int>(rows.size()), RegistryText(d.address).toStdString(),
                        RegistryText(d.name).toStdString(), RegistryText(d.model).toStdString(),
                        RegistryText(d.location).toStdString()});
    bool ok = vtutil::WriteDeviceTable(key, rows);
    ok = key.Write(vtutil::kLastSelectedIp, RegistryText(chosen.address).toStdString()) && ok;
    ok = key.Write(vtutil::kLastSelectedName, RegistryText(chosen.name).toStdString()) && ok;
    return ok;
}

}  // namespace vtdiscover
