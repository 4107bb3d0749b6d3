#include "fleet_metrics.hpp"

#include <cmath>
#include <cstdio>
#include <functional>

#include "replace_file.hpp"
#include "vtplatform/text.hpp"

namespace vtcli::fleet {

namespace {

// A label value in the text format: UTF-8 (a byte that is not becomes
// U+FFFD; the collector refuses the whole file otherwise), with backslash,
// double quote and line feed escaped.
std::string LabelValue(const std::string &text) {
    std::string out;
    for (char c : vt::Utf16ToUtf8(vt::Utf8ToUtf16(text))) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string Number(double value) {
    if (!std::isfinite(value)) return "NaN";
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

std::string Number(int64_t value) { return std::to_string(value); }

class Writer {
public:
    void Family(const char *name, const char *help) {
        name_ = name;
        text_ += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " gauge\n";
    }
    void Sample(const std::string &labels, const std::string &value) {
        text_ += name_ + (labels.empty() ? "" : "{" + labels + "}") + " " + value + "\n";
    }
    const std::string &text() const { return text_; }

private:
    std::string name_, text_;
};

}  // namespace

std::string MetricsText(const Inventory &inventory, const FleetState &state, const RunFigures &run) {
    const std::time_t now = std::time(nullptr);
    struct Row {
        const DeviceConfig *device;
        std::string labels;
        DeviceState state;
    };
    // A device that is not enabled is not backed up by design: it has no
    // rows, so that it never counts as stale.
    std::vector<Row> rows;
    for (const DeviceConfig &device : inventory.devices) {
        if (!device.enabled.value) continue;
        const auto found = state.devices.find(device.name);
        rows.push_back({&device,
                        "device=\"" + LabelValue(device.name) + "\",group=\"" + LabelValue(device.group) +
                            "\",host=\"" + LabelValue(device.host) + "\"",
                        found == state.devices.end() ? DeviceState{} : found->second});
    }
    Writer w;
    const auto each = [&](const char *name, const char *help, const std::function<std::string(const Row &)> &value) {
        w.Family(name, help);
        for (const Row &row : rows) {
            const std::string v = value(row);
            if (!v.empty()) w.Sample(row.labels, v);
        }
    };
    each("vtbox_fleet_device_last_success_timestamp_seconds",
         "When the device's last good backup was complete (0: never backed up).",
         [](const Row &r) { return Number(static_cast<int64_t>(r.state.success.time)); });
    each("vtbox_fleet_device_last_attempt_timestamp_seconds", "When the device's last job ended (0: never tried).",
         [](const Row &r) { return Number(static_cast<int64_t>(r.state.last.time)); });
    each("vtbox_fleet_device_last_exit_code", "The exit code of the device's last job (0: success).",
         [](const Row &r) { return Number(static_cast<int64_t>(r.state.last.exitCode)); });
    each("vtbox_fleet_device_last_duration_seconds", "How long the device's last job took.",
         [](const Row &r) { return Number(r.state.last.seconds); });
    each("vtbox_fleet_device_last_backup_size_bytes", "The size of the device's last good backup.",
         [](const Row &r) { return Number(static_cast<int64_t>(r.state.success.size)); });
    each("vtbox_fleet_device_last_backup_documents",
         "The documents in the device's last good backup (no sample when not known).", [](const Row &r) {
             return r.state.success.documents < 0 ? std::string() : Number(r.state.success.documents);
         });
    each("vtbox_fleet_device_stale_after_seconds", "How old the device's last good backup may grow before it is stale.",
         [](const Row &r) { return Number(static_cast<int64_t>(r.device->staleAfterSeconds.value)); });
    each("vtbox_fleet_device_up_to_date", "1 when the device has a good backup within its stale-after, else 0.",
         [now](const Row &r) { return std::string(IsStale(*r.device, r.state, now) ? "0" : "1"); });
    w.Family("vtbox_fleet_run_devices", "The devices of the last (or the running) fleet run.");
    w.Sample("", Number(static_cast<int64_t>(run.devices)));
    w.Family("vtbox_fleet_run_failed_devices", "The devices that failed in the last (or the running) fleet run.");
    w.Sample("", Number(static_cast<int64_t>(run.failed)));
    w.Family("vtbox_fleet_run_duration_seconds", "How long the last fleet run took (the running one: so far).");
    w.Sample("", Number(run.seconds));
    w.Family("vtbox_fleet_run_last_end_timestamp_seconds",
             "When the last fleet run ended (no sample while a run goes on).");
    if (run.finished) w.Sample("", Number(static_cast<int64_t>(run.started + std::llround(run.seconds))));
    return w.text();
}

bool WriteMetrics(const std::string &path, const std::string &text, std::string *error) {
    // Readable by the node exporter, which runs as a user of its own.
    return ReplaceFile(path, text, 0644, error);
}

}  // namespace vtcli::fleet
