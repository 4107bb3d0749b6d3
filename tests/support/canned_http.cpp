#include "canned_http.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace vttest {

CannedHttpServer::CannedHttpServer(Handler handler) : handler_(std::move(handler)) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    bind(listener_, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    listen(listener_, 16);
    socklen_t len = sizeof addr;
    getsockname(listener_, reinterpret_cast<sockaddr *>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    if (pipe2(wake_, O_CLOEXEC) != 0) wake_[0] = wake_[1] = -1;
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

CannedHttpServer::~CannedHttpServer() {
    stopping_ = true;
    if (wake_[1] >= 0) (void)!write(wake_[1], "x", 1);
    acceptor_.join();
    std::vector<std::thread> workers;
    {
        std::lock_guard<std::mutex> g(m_);
        workers.swap(workers_);
    }
    for (auto &t : workers) t.join();
    CloseListener();
    if (wake_[0] >= 0) close(wake_[0]);
    if (wake_[1] >= 0) close(wake_[1]);
}

void CannedHttpServer::CloseListener() {
    std::lock_guard<std::mutex> g(m_);
    if (listener_ >= 0) close(listener_);
    listener_ = -1;
}

std::vector<std::string> CannedHttpServer::requests() {
    std::lock_guard<std::mutex> g(m_);
    return requests_;
}

std::vector<std::string> CannedHttpServer::heads() {
    std::lock_guard<std::mutex> g(m_);
    return heads_;
}

void CannedHttpServer::AcceptLoop() {
    while (!stopping_) {
        int lfd;
        {
            std::lock_guard<std::mutex> g(m_);
            lfd = listener_;
        }
        pollfd fds[2] = {{wake_[0], POLLIN, 0}, {lfd, POLLIN, 0}};
        int n = poll(fds, lfd >= 0 ? 2 : 1, 100);
        if (n <= 0 || stopping_) continue;
        if (lfd < 0 || !(fds[1].revents & POLLIN)) continue;
        int fd = accept4(lfd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard<std::mutex> g(m_);
        workers_.emplace_back([this, fd] { Serve(fd); });
    }
}

void CannedHttpServer::Serve(int fd) {
    std::string head;
    char buf[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) {
            if (stopping_) break;
            continue;
        }
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        head.append(buf, static_cast<size_t>(n));
    }
    if (head.find("\r\n\r\n") == std::string::npos) {
        close(fd);  // a bare connection, such as the polling test
        return;
    }
    size_t sp1 = head.find(' '), sp2 = head.find(' ', sp1 + 1);
    std::string target = head.substr(sp1 + 1, sp2 - sp1 - 1);
    {
        std::lock_guard<std::mutex> g(m_);
        requests_.push_back(target);
        heads_.push_back(head);
    }
    CannedReply reply = handler_(target);
    if (reply.goSilent) {
        CloseListener();
        while (!stopping_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        close(fd);
        return;
    }
    for (int waited = 0; waited < reply.delayMs && !stopping_; waited += 20)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    auto send_all = [&](const std::string &bytes) {
        size_t sent = 0;
        while (sent < bytes.size() && !stopping_) {
            size_t chunk = reply.trickleMs > 0 ? 1 : bytes.size() - sent;
            ssize_t n = send(fd, bytes.data() + sent, chunk, MSG_NOSIGNAL);
            if (n <= 0) return false;
            sent += static_cast<size_t>(n);
            if (reply.trickleMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(reply.trickleMs));
        }
        return sent == bytes.size();
    };
    if (reply.endless) {
        // No length: the body runs until the client stops reading.
        if (send_all("HTTP/1.0 200 Canned\r\nContent-Type: text/xml\r\n\r\n"))
            while (!stopping_ && send_all(reply.body)) {}
    } else {
        send_all(reply.raw ? reply.body
                           : "HTTP/1.0 " + std::to_string(reply.status) +
                                 " Canned\r\nContent-Type: text/xml\r\n"
                                 "Content-Length: " +
                                 std::to_string(reply.body.size()) + "\r\n\r\n" + reply.body);
    }
    shutdown(fd, SHUT_WR);
    close(fd);
}

}  // namespace vttest
