#include "snmpd_fixture.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace kx9test {

namespace {

// A free UDP port on loopback (asked of the kernel, then given back).
unsigned FreeUdpPort() {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    unsigned port = 0;
    if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    close(fd);
    return port;
}

std::string Program(const char *name) {
    for (const char *dir : {"/usr/sbin/", "/usr/bin/", "/usr/local/sbin/", "/usr/local/bin/"})
        if (access((std::string(dir) + name).c_str(), X_OK) == 0) return std::string(dir) + name;
    return name;
}

// One "OID = TYPE: value" line of snmpwalk/snmpget -On into oid and shown value.
bool ParseLine(const std::string &line, std::string *oid, std::string *value) {
    size_t eq = line.find(" = ");
    if (eq == std::string::npos || line.empty() || line[0] != '.') return false;
    *oid = line.substr(1, eq - 1);
    std::string rest = line.substr(eq + 3);
    if (rest == "\"\"") {
        value->clear();
        return true;
    }
    size_t colon = rest.find(": ");
    std::string type = colon == std::string::npos ? "" : rest.substr(0, colon);
    std::string v = colon == std::string::npos ? rest : rest.substr(colon + 2);
    if (type == "STRING" && v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    if (type == "Timeticks" && !v.empty() && v[0] == '(') v = v.substr(1, v.find(')') - 1);
    if (type == "OID" && !v.empty() && v[0] == '.') v = v.substr(1);
    while (!v.empty() && v.back() == ' ') v.pop_back();  // Hex-STRING ends in a blank
    *value = v;
    return true;
}

const char *kTools = "MIBS= MIBDIRS=/nonexistent ";

}  // namespace

std::string Run(const std::string &command, int *status) {
    std::string out;
    FILE *p = popen(command.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int rc = pclose(p);
    if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

std::map<std::string, std::string> SnmpWalk(const std::string &address, const std::string &oid) {
    std::map<std::string, std::string> values;
    std::istringstream lines(Run(kTools + Program("snmpwalk") + " -v1 -c public -On -Oe " + address + " " + oid));
    std::string line, o, v;
    while (std::getline(lines, line))
        if (ParseLine(line, &o, &v)) values[o] = v;
    return values;
}

std::string SnmpGet(const std::string &address, const std::string &oid) {
    std::string o, v;
    std::string line = Run(kTools + Program("snmpget") + " -v1 -c public -On -Oe " + address + " " + oid);
    while (!line.empty() && line.back() == '\n') line.pop_back();
    return ParseLine(line, &o, &v) ? v : "<" + line + ">";
}

Snmpd::Snmpd(const std::string &dir) {
    // The port was free a moment ago; another process may take it before
    // snmpd binds it. snmpd then ends at start, or (when the other process is
    // an agent too) someone else answers: another port, a few times.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (Start(dir, attempt)) return;
        Stop();
    }
}

bool Snmpd::Start(const std::string &dir, int attempt) {
    error_.clear();
    port_ = FreeUdpPort();
    // Our own agent is told from another by the system description it gives.
    const std::string mark =
        "vttest-" + std::to_string(getpid()) + "-" + std::to_string(port_) + "-" + std::to_string(attempt);
    const std::string conf = dir + "/snmpd.conf";
    std::ofstream(conf) << "rocommunity public 127.0.0.1\n"
                           // One community line per community: a second would not widen the first.
                           "view writable included .1.3.6.1.2.1.1\n"
                           "view writable included .1.3.6.1.2.1.43\n"
                           "rwcommunity private 127.0.0.1 -V writable\n"
                           "sysdescr "
                        << mark
                        << "\n"
                           "pass_persist .1.3.6.1.2.1.43 /usr/bin/env python3 " KX9_PRINTER_PASS "\n";
    const std::string snmpd = Program("snmpd"), log = dir + "/snmpd.log", persist = dir + "/persist";
    const std::string listen = "udp:" + address();
    pid_ = fork();
    if (pid_ == 0) {
        setenv("MIBS", "", 1);  // no MIB files to look for
        setenv("MIBDIRS", "/nonexistent", 1);
        setenv("SNMP_PERSISTENT_DIR", persist.c_str(), 1);
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        execl(snmpd.c_str(), "snmpd", "-f", "-C", "-c", conf.c_str(), "-Lf", log.c_str(), listen.c_str(),
              static_cast<char *>(nullptr));
        _exit(127);
    }
    if (pid_ < 0) {
        error_ = "fork failed";
        return false;
    }
    // Ready once it answers with its own mark.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            std::ifstream in(log);
            std::stringstream text;
            text << in.rdbuf();
            error_ = "snmpd ended at start: " + text.str();
            return false;
        }
        int rc = 1;
        std::string descr = Run(kTools + Program("snmpget") + " -v1 -c public -t 0.2 -r 0 -Oqv " + address() +
                                    " 1.3.6.1.2.1.1.1.0 2>/dev/null",
                                &rc);
        if (rc == 0 && descr.find(mark) != std::string::npos) {
            // The printer objects' helper starts with the first request for them.
            Run(kTools + Program("snmpget") + " -v1 -c public -t 10 -r 0 " + address() +
                " 1.3.6.1.2.1.43.5.1.1.16.1 2>/dev/null");
            return true;
        }
        if (rc == 0) {
            error_ = "another agent answers on " + address();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    error_ = "snmpd did not answer on " + address();
    return false;
}

void Snmpd::Stop() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 50 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (waitpid(pid_, &status, WNOHANG) == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
    }
    pid_ = -1;
}

Snmpd::~Snmpd() { Stop(); }

SilentAgent::SilentAgent() {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len) == 0)
        port_ = ntohs(a.sin_port);
}

SilentAgent::~SilentAgent() {
    if (fd_ >= 0) close(fd_);
}

int SilentAgent::Received() {
    char buf[2048];
    while (recv(fd_, buf, sizeof buf, 0) >= 0) ++received_;
    return received_;
}

}  // namespace kx9test
