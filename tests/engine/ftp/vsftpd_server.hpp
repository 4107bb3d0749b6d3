// A real FTP server from the system (vsftpd), started on a free loopback port
// for the life of the object and stopped with everything it started. It runs
// as the launching user with anonymous write access to its own temp folder;
// it leaves bytes alone under TYPE A, as the device does. Its protocol log
// records every command it received.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "temp_dir.hpp"

namespace vttest {

inline const char *kVsftpdProgram = "/usr/sbin/vsftpd";

// A port that nothing listens on right now (another process may take it
// before the server binds it: the server's greeting tells whose it is).
inline uint16_t FreeLoopbackPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    uint16_t port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    if (fd >= 0) ::close(fd);
    return port;
}

// Whether the server on the port greets with the given words: a server that
// another process started on the same port greets otherwise.
inline bool GreetsWith(uint16_t port, const std::string &words) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    timeval wait{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    std::string greeting;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0) {
        char buf[256];
        ssize_t n;
        while (greeting.find('\n') == std::string::npos && (n = ::recv(fd, buf, sizeof buf, 0)) > 0)
            greeting.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return greeting.find(words) != std::string::npos;
}

class VsftpdServer {
public:
    VsftpdServer() {
        namespace fs = std::filesystem;
        if (!fs::exists(kVsftpdProgram)) throw std::runtime_error("vsftpd is not installed");
        fs::create_directories(root());
        fs::create_directories(dir_ / "empty");
        // A port taken by another process between the choice and the
        // server's bind makes the server give up: another port, a few times.
        for (int attempt = 0; attempt < 8 && pid_ <= 0; ++attempt) Start();
        if (pid_ <= 0) throw std::runtime_error("vsftpd did not start");
    }
    ~VsftpdServer() { Stop(); }
    VsftpdServer(const VsftpdServer &) = delete;
    VsftpdServer &operator=(const VsftpdServer &) = delete;

    uint16_t port() const { return port_; }
    // The folder that anonymous sessions start in. The server runs without a
    // chroot, so remote paths are this folder's real paths.
    std::string root() const { return dir_ / "root"; }
    // Everything the server logged so far (commands and replies).
    std::string Log() const {
        std::ifstream in(dir_ / "vsftpd.log", std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    void Stop() {
        if (pid_ <= 0) return;
        ::kill(-pid_, SIGTERM);  // the server and its session processes
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }

private:
    void Start() {
        port_ = FreeLoopbackPort();
        const std::string banner = "vttest " + dir_.filename().string() + " " + std::to_string(port_);
        std::string conf = dir_ / "vsftpd.conf";
        {
            std::ofstream out(conf);
            out << "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\n"
                << "listen_port=" << port_ << "\n"
                << "background=NO\nrun_as_launching_user=YES\n"
                << "anonymous_enable=YES\nno_anon_password=YES\nlocal_enable=NO\n"
                << "write_enable=YES\nanon_upload_enable=YES\nanon_mkdir_write_enable=YES\n"
                << "anon_other_write_enable=YES\nanon_world_readable_only=NO\nanon_umask=022\n"
                << "anon_root=" << root() << "\n"
                << "port_enable=YES\npasv_enable=NO\nconnect_from_port_20=NO\n"
                << "secure_chroot_dir=" << (dir_ / "empty").string() << "\n"
                << "seccomp_sandbox=NO\ndirmessage_enable=NO\n"
                << "ftpd_banner=" << banner << "\n"
                << "xferlog_enable=YES\nxferlog_std_format=NO\nlog_ftp_protocol=YES\n"
                << "vsftpd_log_file=" << (dir_ / "vsftpd.log").string() << "\n";
        }
        pid_t pid = ::fork();
        if (pid == 0) {
            ::setpgid(0, 0);
            ::execl(kVsftpdProgram, kVsftpdProgram, conf.c_str(), static_cast<char *>(nullptr));
            ::_exit(127);
        }
        if (pid < 0) return;
        ::setpgid(pid, pid);
        pid_ = pid;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline) {
            if (GreetsWith(port_, banner)) return;
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) break;  // it gave up (port taken?)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        Stop();
    }

    TempDir temp_;
    std::filesystem::path dir_{temp_.path()};
    uint16_t port_ = 0;
    pid_t pid_ = -1;
};

}  // namespace vttest
