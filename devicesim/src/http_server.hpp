// The HTTP side of the device: one thread per connection, HTTP/1.0 and 1.1
// requests, one reply per connection (Content-Length, then close). The
// faults for silence, delay, forced status, forced Result and malformed
// replies are applied here, around the page handler.
#pragma once

#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "device_state.hpp"
#include "devicesim/faults.hpp"
#include "lan.hpp"
#include "net.hpp"

namespace devicesim {

struct HttpRequest {
    std::string method;
    std::string target;  // as received: path and query
    std::string path;
    std::string query;
    std::string version;                                      // "HTTP/1.0" or "HTTP/1.1"
    std::vector<std::pair<std::string, std::string>> params;  // query pairs, percent-decoded
    bool loopbackPeer = false;

    // The first value of a query key; nullopt when the key is absent.
    std::optional<std::string> Param(const std::string &key) const;
    bool Has(const std::string &key) const { return Param(key).has_value(); }
};

struct HttpReply {
    int status = 200;
    std::string contentType = "text/xml; charset=utf-8";
    std::string body;
};

// Decodes every "%XX" (hex digits in either case) of text into out. A "+"
// stays a plus sign: clients escape every byte outside the unreserved set,
// a blank among them. False when a "%" is not followed by two hex digits.
bool PercentDecode(std::string_view text, std::string &out);
// Splits "a=1&b=&c" into pairs, keys and values percent-decoded; false when
// an escape is malformed.
bool ParseQuery(std::string_view query, std::vector<std::pair<std::string, std::string>> &pairs);
// Parses a request line ("GET /path?query HTTP/1.0"); false when it is
// malformed, its query escapes among it.
bool ParseRequestLine(const std::string &line, HttpRequest &request);
// The request target as the device's records keep it: the PWD value is
// replaced by "****" however it is escaped. Parts after it that name no query
// key of the pages can only be pieces of a password sent with a raw "&", and
// are folded into the mask.
std::string MaskedTarget(std::string_view target);
// "HTTP/1.0 200 OK" style status line text.
const char *ReasonPhrase(int status);
// Cuts a reply document so that no XML parser accepts it.
std::string Malform(const std::string &body);

class HttpServer {
public:
    using Handler = std::function<HttpReply(const HttpRequest &)>;
    // Paths that begin with `controlPrefix` go to `control` and bypass faults and records.
    // `version` is the Header/Version text of replies with a forced Result.
    // Every reply but the control page's waits the LAN model's latency.
    HttpServer(std::string address, uint16_t port, std::string version, Faults &faults, Recorder &recorder,
               LanState &lan, Handler pages, std::string controlPrefix, Handler control);
    ~HttpServer() { Stop(); }

    void Start();
    void Stop();
    uint16_t Port() const { return port_; }

    // Reads one request from a connected socket and answers it (the fuzz
    // target drives it over a socket pair without Start()).
    void Serve(int fd, bool loopbackPeer);

private:
    void AcceptLoop();
    bool IsControl(const HttpRequest &request) const;
    HttpReply Answer(const HttpRequest &request, bool &answer);

    std::string address_;
    std::string version_;
    std::atomic<uint16_t> port_;
    Faults &faults_;
    Recorder &recorder_;
    LanState &lan_;
    Handler pages_;
    std::string controlPrefix_;
    Handler control_;
    Fd listen_;
    std::thread acceptThread_;
    std::atomic<bool> stop_{false};
    ConnectionSet connections_{256};
};

}  // namespace devicesim
