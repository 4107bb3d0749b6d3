// A small HTTP server on loopback that answers each request from a handler,
// for tests of the transport and of the exports with fixed replies.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vttest {

struct CannedReply {
    int status = 200;
    std::string body;
    int delayMs = 0;        // wait before answering
    bool goSilent = false;  // stop listening and never answer this request
    bool raw = false;       // body is the whole response, sent as is
    int trickleMs = 0;      // send the response one byte at a time, this far apart
    bool endless = false;   // after the head, send the body over and over until the client goes
};

class CannedHttpServer {
public:
    using Handler = std::function<CannedReply(const std::string &target)>;

    explicit CannedHttpServer(Handler handler);
    ~CannedHttpServer();
    CannedHttpServer(const CannedHttpServer &) = delete;
    CannedHttpServer &operator=(const CannedHttpServer &) = delete;

    unsigned short port() const { return port_; }
    // Request targets (path and query) in the order received.
    std::vector<std::string> requests();
    // The raw request heads received.
    std::vector<std::string> heads();

private:
    void AcceptLoop();
    void Serve(int fd);
    void CloseListener();

    Handler handler_;
    int listener_ = -1;
    int wake_[2] = {-1, -1};
    unsigned short port_ = 0;
    std::atomic<bool> stopping_{false};
    std::mutex m_;
    std::vector<std::string> requests_, heads_;
    std::vector<std::thread> workers_;
    std::thread acceptor_;
};

}  // namespace vttest
