#include "net.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace devicesim {

Fd &Fd::operator=(Fd &&other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
}

void Fd::Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

Fd ListenTcp(const std::string &address, uint16_t port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo *found = nullptr;
    const std::string service = std::to_string(port);
    int rc = ::getaddrinfo(address.empty() ? nullptr : address.c_str(), service.c_str(), &hints, &found);
    if (rc != 0) throw std::runtime_error("bad listen address '" + address + "': " + gai_strerror(rc));
    std::string reason = "no usable address";
    for (addrinfo *ai = found; ai; ai = ai->ai_next) {
        Fd fd(::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol));
        if (!fd.Valid()) {
            reason = std::strerror(errno);
            continue;
        }
        int one = 1;
        ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (::bind(fd.Get(), ai->ai_addr, ai->ai_addrlen) != 0 || ::listen(fd.Get(), 64) != 0) {
            reason = std::strerror(errno);
            continue;
        }
        ::freeaddrinfo(found);
        return fd;
    }
    ::freeaddrinfo(found);
    throw std::runtime_error("cannot listen on " + address + ":" + service + ": " + reason);
}

uint16_t LocalPort(int fd) {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) return 0;
    if (addr.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in *>(&addr)->sin_port);
    if (addr.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6 *>(&addr)->sin6_port);
    return 0;
}

// Replies are small writes that follow one another ("150", data, "226"):
// without this each would wait for the peer's delayed acknowledgement.
static void NoDelay(int fd) {
    if (fd < 0) return;
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

Fd AcceptWithTimeout(int listenFd, int timeoutMs, sockaddr_storage *peer) {
    pollfd p{listenFd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0 || !(p.revents & POLLIN)) return Fd();
    socklen_t len = sizeof(sockaddr_storage);
    Fd fd(::accept4(listenFd, reinterpret_cast<sockaddr *>(peer), &len, SOCK_CLOEXEC));
    NoDelay(fd.Get());
    return fd;
}

Fd ConnectTcp(const sockaddr_storage &peer, int timeoutMs, int receiveBuffer) {
    Fd fd(::socket(peer.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.Valid()) return Fd();
    if (receiveBuffer > 0) ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    const socklen_t len = peer.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    if (::connect(fd.Get(), reinterpret_cast<const sockaddr *>(&peer), len) != 0) {
        if (errno != EINPROGRESS) return Fd();
        pollfd p{fd.Get(), POLLOUT, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return Fd();
        int err = 0;
        socklen_t errLen = sizeof err;
        if (::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &err, &errLen) != 0 || err != 0) return Fd();
    }
    int flags = ::fcntl(fd.Get(), F_GETFL);
    ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK);
    NoDelay(fd.Get());
    return fd;
}

bool SendAll(int fd, const void *data, size_t size) {
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void SetReceiveTimeout(int fd, int seconds) {
    timeval tv{seconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

bool IsLoopback(const sockaddr_storage &a) {
    if (a.ss_family == AF_INET) {
        const auto *in = reinterpret_cast<const sockaddr_in *>(&a);
        return (ntohl(in->sin_addr.s_addr) >> 24) == 127;
    }
    if (a.ss_family == AF_INET6) {
        const auto *in6 = reinterpret_cast<const sockaddr_in6 *>(&a);
        if (IN6_IS_ADDR_LOOPBACK(&in6->sin6_addr)) return true;
        return IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr) && in6->sin6_addr.s6_addr[12] == 127;
    }
    return false;
}

std::string AddressText(const sockaddr_storage &a) {
    char buf[INET6_ADDRSTRLEN] = "?";
    if (a.ss_family == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(&a)->sin_addr, buf, sizeof buf);
    else if (a.ss_family == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 *>(&a)->sin6_addr, buf, sizeof buf);
    return buf;
}

bool SameHost(const sockaddr_storage &a, const sockaddr_storage &b) {
    if (a.ss_family != b.ss_family) return false;
    if (a.ss_family == AF_INET)
        return reinterpret_cast<const sockaddr_in *>(&a)->sin_addr.s_addr ==
               reinterpret_cast<const sockaddr_in *>(&b)->sin_addr.s_addr;
    if (a.ss_family == AF_INET6)
        return std::memcmp(&reinterpret_cast<const sockaddr_in6 *>(&a)->sin6_addr,
                           &reinterpret_cast<const sockaddr_in6 *>(&b)->sin6_addr, sizeof(in6_addr)) == 0;
    return false;
}

bool LineReader::Fill() {
    char buf[4096];
    for (;;) {
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        buffer_.append(buf, static_cast<size_t>(n));
        return true;
    }
}

LineReader::Status LineReader::ReadLine(std::string &line, size_t max) {
    bool tooLong = false;
    for (;;) {
        size_t lf = buffer_.find('\n');
        if (lf != std::string::npos) {
            if (tooLong || lf > max + 1) {
                buffer_.erase(0, lf + 1);
                return Status::TooLong;
            }
            line.assign(buffer_, 0, lf);
            buffer_.erase(0, lf + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return Status::Line;
        }
        if (buffer_.size() > max + 1) {  // drop what cannot become a valid line
            tooLong = true;
            buffer_.clear();
        }
        if (!Fill()) return Status::Closed;
    }
}

bool ConnectionSet::Spawn(Fd fd, std::function<void(int fd)> fn) {
    std::lock_guard lock(mutex_);
    ReapLocked();
    if (stopping_ || workers_.size() >= max_) return false;
    const int raw = fd.Get();
    workers_.emplace_back();
    Worker *worker = &workers_.back();
    try {
        worker->thread = std::thread([this, raw, fn = std::move(fn), worker] {
            fn(raw);
            std::lock_guard lock(mutex_);
            fds_.erase(raw);
            ::close(raw);
            worker->done = true;
        });
    } catch (const std::system_error &) {  // no thread to be had: refuse this connection
        workers_.pop_back();
        return false;
    }
    fds_.insert(fd.Release());
    return true;
}

void ConnectionSet::Track(int fd) {
    std::lock_guard lock(mutex_);
    fds_.insert(fd);
    if (stopping_) ::shutdown(fd, SHUT_RDWR);
}

void ConnectionSet::Untrack(int fd) {
    std::lock_guard lock(mutex_);
    fds_.erase(fd);
}

void ConnectionSet::ReapLocked() {
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (it->done) {
            it->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
}

void ConnectionSet::Stop() {
    std::list<Worker> workers;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        for (int fd : fds_) ::shutdown(fd, SHUT_RDWR);
        workers.splice(workers.end(), workers_);
    }
    for (auto &w : workers)
        if (w.thread.joinable()) w.thread.join();
}

}  // namespace devicesim
