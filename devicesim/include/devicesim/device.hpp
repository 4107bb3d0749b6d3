// The simulated device: box web service, FTP server and the store behind them.
//
//   devicesim::DeviceOptions o;
//   o.store = tempDir;                 // the folder that holds SHR/BOX/...
//   devicesim::Device device(o);
//   device.Start();                    // throws std::runtime_error when it cannot listen
//   ... device.HttpPort(), device.FtpPort(), device.GetFaults(), device.Records() ...
//   device.Stop();                     // also done by the destructor
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "devicesim/faults.hpp"

namespace devicesim {

// The engine version text that switches the FTP server to the shell dialect
// ("ls mkdir rmdir cd delete").
inline constexpr const char *kShellDialectVersion = "Korvo-D V1.0.0.0";

// A device on a LAN rather than on loopback: how long each reply takes and how
// fast and how many data connections move. All zero (the default) is
// loopback speed. Set at start (DeviceOptions::lan), changed while running
// (Device::SetLan, or the control page's "lan" entry).
struct LanModel {
    unsigned latencyMs = 0;           // before each FTP reply and each box service reply
    unsigned rateKbps = 0;            // per FTP data connection, kilobits (1000 bits) a second; 0 unlimited
    unsigned maxDataConnections = 0;  // FTP data connections open at once; 0 unlimited; more get 425
    bool operator==(const LanModel &) const = default;
};

// Bounds of the LAN model's values: a reply later than 10 s is a failing
// device, not a slow one (the faults delay replies for longer); 10 Gbit/s is
// beyond any printer's interface; the FTP server serves 64 connections at once.
inline constexpr unsigned kMaxLatencyMs = 10000;
inline constexpr unsigned kMaxRateKbps = 10000000;
inline constexpr unsigned kMaxDataConnectionsLimit = 64;

struct DeviceOptions {
    std::filesystem::path store;        // made (with SHR/BOX/DATABASE and DATA) when missing
    std::string address = "127.0.0.1";  // both servers listen here
    uint16_t httpPort = 0;              // 0: any free port (see Device::HttpPort)
    uint16_t ftpPort = 0;
    std::string password = "admin";  // administrator password
    std::string engineVersion = "Korvo-B V1.3.0.0";
    std::string mac = "02:00:5E:10:20:30";
    uint32_t capacityKb = 1048576;      // disk capacity reported by the disk space page
    bool listingCrLf = false;           // listing lines end in CR LF instead of a bare LF
    bool busyAsHttp503 = false;         // exclusive mode refusals as HTTP 503, not Result 211/212
    unsigned maxSessions = 64;          // web sessions open at once; more get Result 102
    unsigned sessionIdleSeconds = 900;  // a session idle this long ends (0: never); jobs touch every 5 minutes
    LanModel lan;                       // loopback speed unless set
};

// One boxnwDirSerialClusterChange request as the device accepted it.
struct SerialChangeCall {
    uint32_t sid = 0;
    unsigned box = 0, folder = 0, document = 0, noc = 0, mod = 0;
    bool operator==(const SerialChangeCall &) const = default;
};

// What the device saw, in arrival order (each list keeps its last 10000 items).
struct DeviceRecords {
    std::vector<std::string> httpRequests;  // request targets: path and query as received
    std::vector<SerialChangeCall> serialChanges;
    unsigned keepAlives = 0;               // boxnwGetBoxProperty requests with only a SID
    std::vector<std::string> ftpCommands;  // command lines, PASS arguments masked as "****"
    // Counts of every FTP command (by verb, upper-cased) and every box service
    // request (by page, the last part of its path), however many there were.
    // Names that are not plain words, and names beyond the first
    // kMaxCountedNames of a kind, are counted under kOtherName.
    uint64_t ftpCommandTotal = 0;
    std::map<std::string, uint64_t> ftpCommandCounts;
    uint64_t boxRequestTotal = 0;
    std::map<std::string, uint64_t> boxRequestCounts;
};

// Distinct names counted per kind: every verb of both dialects and every page
// fit many times over, while a client sending made-up words cannot grow the
// counts without end.
inline constexpr size_t kMaxCountedNames = 64;
// The longest name counted by itself (a verb or a page name).
inline constexpr size_t kMaxCountedNameLength = 40;
inline constexpr const char *kOtherName = "(other)";

class Device {
public:
    explicit Device(DeviceOptions options);
    ~Device();
    Device(const Device &) = delete;
    Device &operator=(const Device &) = delete;

    // Binds both servers and starts serving. A device starts once.
    void Start();
    // Closes the listeners, ends every connection and joins every thread. Idempotent.
    void Stop();

    uint16_t HttpPort() const;
    uint16_t FtpPort() const;
    const DeviceOptions &Options() const;
    bool ShellDialect() const;

    Faults &GetFaults();
    // The LAN model from now on: latency for the next reply, rate and limit
    // for the next data connection. Values above the bounds are capped.
    void SetLan(const LanModel &lan);
    LanModel Lan() const;
    // Records and counts; ClearRecords clears both.
    DeviceRecords Records() const;
    void ClearRecords();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace devicesim
