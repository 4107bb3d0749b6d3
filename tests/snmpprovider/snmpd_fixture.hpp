// A real snmpd for the tests, and an agent that never answers.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>

namespace kx9test {

// snmpd on 127.0.0.1 and a free port, with a generated configuration: the
// read community "public", the write community "private" for the system
// group (sysContact, sysName, sysLocation) and the printer objects, and the
// printer objects of printer_pass.py (through pass_persist, two sparse
// tables of them writable). Stopped when the object dies.
class Snmpd {
public:
    explicit Snmpd(const std::string &workDir);
    ~Snmpd();
    Snmpd(const Snmpd &) = delete;
    Snmpd &operator=(const Snmpd &) = delete;

    bool running() const { return pid_ > 0 && error_.empty(); }
    const std::string &error() const { return error_; }
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

private:
    // One start on a newly chosen port; false when snmpd could not take it.
    bool Start(const std::string &workDir, int attempt);
    void Stop();

    pid_t pid_ = -1;
    unsigned port_ = 0;
    std::string error_;
};

// A UDP socket on 127.0.0.1 that reads what it is sent and never answers.
class SilentAgent {
public:
    SilentAgent();
    ~SilentAgent();
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
    // The datagrams received so far (read from the socket now).
    int Received();

private:
    int fd_ = -1;
    unsigned port_ = 0;
    int received_ = 0;
};

// Runs a shell command; its standard output, and its exit status in *status.
std::string Run(const std::string &command, int *status = nullptr);

// What snmpwalk -v1 -On prints for a subtree, by object identifier (without
// the leading dot): the value as this system shows it (numbers in decimal,
// strings without quotes, Hex-STRING bytes as "8E 2A").
std::map<std::string, std::string> SnmpWalk(const std::string &address, const std::string &oid);

// snmpget -v1 of one object, printed as SnmpWalk prints it.
std::string SnmpGet(const std::string &address, const std::string &oid);

}  // namespace kx9test
