// Plain POSIX socket helpers shared by the HTTP and FTP servers.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>

namespace devicesim {

// Owns one file descriptor.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd &&other) noexcept : fd_(other.Release()) {}
    Fd &operator=(Fd &&other) noexcept;
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd() { Reset(); }
    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset(int fd = -1);

private:
    int fd_ = -1;
};

// A listening TCP socket on address:port (port 0 = any free port). Throws
// std::runtime_error with the reason when it cannot listen.
Fd ListenTcp(const std::string &address, uint16_t port);
uint16_t LocalPort(int fd);

// Waits up to timeoutMs for a connection; an invalid Fd when none came.
Fd AcceptWithTimeout(int listenFd, int timeoutMs, sockaddr_storage *peer);

// Connects to a peer with a time-out; an invalid Fd on failure. A receive
// buffer size other than 0 is set before connecting, so that the window the
// peer sees follows it.
Fd ConnectTcp(const sockaddr_storage &peer, int timeoutMs, int receiveBuffer = 0);

bool SendAll(int fd, const void *data, size_t size);
inline bool SendAll(int fd, const std::string &text) { return SendAll(fd, text.data(), text.size()); }
void SetReceiveTimeout(int fd, int seconds);

bool IsLoopback(const sockaddr_storage &address);
std::string AddressText(const sockaddr_storage &address);
bool SameHost(const sockaddr_storage &a, const sockaddr_storage &b);

// Reads CR LF or LF terminated lines with a length bound.
class LineReader {
public:
    explicit LineReader(int fd) : fd_(fd) {}
    enum class Status { Line, TooLong, Closed };
    // Strips the line end. A line longer than `max` bytes is skipped whole and
    // reported as TooLong.
    Status ReadLine(std::string &line, size_t max);
    // Bytes already read past the last line.
    std::string &Pending() { return buffer_; }

private:
    bool Fill();
    int fd_;
    std::string buffer_;
};

// The connection threads of one server. Stop() wakes every thread by shutting
// its sockets down and joins all of them.
class ConnectionSet {
public:
    explicit ConnectionSet(size_t maxThreads) : max_(maxThreads) {}
    ~ConnectionSet() { Stop(); }
    // Runs fn on a new thread that owns `fd`. False (fd is closed) when the set
    // is full or stopping.
    bool Spawn(Fd fd, std::function<void(int fd)> fn);
    // Other sockets of a connection (FTP data connections) that Stop() must reach.
    void Track(int fd);
    void Untrack(int fd);
    void Stop();
    bool Stopping() const { return stopping_; }

private:
    struct Worker {
        std::thread thread;
        bool done = false;
    };
    void ReapLocked();
    std::mutex mutex_;
    std::list<Worker> workers_;
    std::set<int> fds_;
    size_t max_;
    std::atomic<bool> stopping_{false};
};

}  // namespace devicesim
