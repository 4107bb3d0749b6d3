// The FTP side of the device: active mode only (PORT/EPRT), raw byte
// transfers, and one of two command dialects chosen by the engine version.
#pragma once

#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "device_state.hpp"
#include "devicesim/device.hpp"
#include "devicesim/faults.hpp"
#include "lan.hpp"
#include "net.hpp"
#include "store.hpp"

namespace devicesim {

// The words of one dialect for list, make folder, remove folder, change
// folder and delete file. The other dialect's words are unknown commands.
struct FtpDialect {
    const char *list;
    const char *makeFolder;
    const char *removeFolder;
    const char *changeFolder;
    const char *deleteFile;
};
inline constexpr FtpDialect kListDialect{"LIST", "MKD", "RMD", "CWD", "DELE"};
inline constexpr FtpDialect kShellDialect{"ls", "mkdir", "rmdir", "cd", "delete"};

// A command line as the records keep it: a PASS command (whatever blanks
// precede it) without its argument.
std::string RecordedLine(const std::string &line);

// One long-format line, without its line end:
// "-rw-r--r--   1 vtbox    vtbox            1234 Nov 14 22:15 D0000001.XML".
std::string ListingLine(const std::string &name, bool folder, uint64_t size, int64_t mtime);

// Parses the argument of PORT ("h1,h2,h3,h4,p1,p2") or EPRT ("|1|addr|port|").
bool ParsePortArgument(const std::string &argument, sockaddr_storage &target);
bool ParseEprtArgument(const std::string &argument, sockaddr_storage &target);

class FtpServer {
public:
    FtpServer(const DeviceOptions &options, Store &store, DeviceState &state, Faults &faults, Recorder &recorder,
              LanState &lan);
    ~FtpServer() { Stop(); }
    void Start();
    void Stop();
    uint16_t Port() const { return port_; }
    const FtpDialect &Dialect() const { return dialect_; }

    // Runs one control connection on a connected socket until the client
    // quits or goes away (the fuzz target drives it over a socket pair
    // without Start()).
    void ServeConnection(int fd, const sockaddr_storage &peer);

private:
    class Session;
    void AcceptLoop();

    const DeviceOptions &options_;
    Store &store_;
    DeviceState &state_;
    Faults &faults_;
    Recorder &recorder_;
    LanState &lan_;
    const FtpDialect &dialect_;
    std::atomic<uint16_t> port_{0};
    Fd listen_;
    std::thread acceptThread_;
    std::atomic<bool> stop_{false};
    ConnectionSet connections_{64};
};

}  // namespace devicesim
