#include "http_server.hpp"

#include <chrono>

#include "xml_out.hpp"

namespace devicesim {

namespace {
constexpr size_t kMaxLine = 8192;
constexpr int kMaxHeaders = 100;
constexpr int kReceiveTimeoutSeconds = 30;
}  // namespace

std::optional<std::string> HttpRequest::Param(const std::string &key) const {
    for (const auto &[k, v] : params)
        if (k == key) return v;
    return std::nullopt;
}

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The query keys of the box pages.
bool IsPageKey(std::string_view key) {
    for (const char *k : {"SID", "BNO", "PWD", "FID", "DID", "NOC", "MOD"})
        if (key == k) return true;
    return false;
}

}  // namespace

bool PercentDecode(std::string_view text, std::string &out) {
    out.clear();
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (text.size() - i < 3) return false;
        const int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
    }
    return true;
}

bool ParseQuery(std::string_view query, std::vector<std::pair<std::string, std::string>> &out) {
    out.clear();
    size_t pos = 0;
    while (pos <= query.size() && out.size() < 64) {
        size_t amp = query.find('&', pos);
        if (amp == std::string_view::npos) amp = query.size();
        const std::string_view part = query.substr(pos, amp - pos);
        pos = amp + 1;
        if (part.empty()) continue;
        const size_t eq = part.find('=');
        std::string key, value;
        if (!PercentDecode(part.substr(0, eq), key)) return false;
        if (eq != std::string_view::npos && !PercentDecode(part.substr(eq + 1), value)) return false;
        out.emplace_back(std::move(key), std::move(value));
    }
    return true;
}

std::string MaskedTarget(std::string_view target) {
    const size_t q = target.find('?');
    if (q == std::string_view::npos) return std::string(target);
    std::string out(target.substr(0, q + 1));
    const std::string_view query = target.substr(q + 1);
    bool inPassword = false, first = true;
    for (size_t pos = 0; pos <= query.size();) {
        size_t amp = query.find('&', pos);
        if (amp == std::string_view::npos) amp = query.size();
        const std::string_view part = query.substr(pos, amp - pos);
        pos = amp + 1;
        const size_t eq = part.find('=');
        std::string key;
        if (!PercentDecode(part.substr(0, eq), key)) key.clear();
        if (inPassword && !IsPageKey(key)) continue;
        if (!first) out += '&';
        first = false;
        inPassword = key == "PWD";
        if (inPassword && eq != std::string_view::npos) {
            out.append(part.substr(0, eq + 1));
            out += "****";
        } else {
            out.append(part);
        }
    }
    return out;
}

bool ParseRequestLine(const std::string &line, HttpRequest &r) {
    size_t sp1 = line.find(' ');
    if (sp1 == std::string::npos || sp1 == 0) return false;
    size_t sp2 = line.find(' ', sp1 + 1);
    if (sp2 == std::string::npos || sp2 == sp1 + 1) return false;
    if (line.find(' ', sp2 + 1) != std::string::npos) return false;
    r.method = line.substr(0, sp1);
    r.target = line.substr(sp1 + 1, sp2 - sp1 - 1);
    r.version = line.substr(sp2 + 1);
    if (r.version != "HTTP/1.0" && r.version != "HTTP/1.1") return false;
    std::string target = r.target;
    // An absolute form ("http://host:port/path") is accepted as proxies send it.
    if (target.rfind("http://", 0) == 0) {
        size_t slash = target.find('/', 7);
        target = slash == std::string::npos ? "/" : target.substr(slash);
    }
    if (target.empty() || target[0] != '/') return false;
    size_t q = target.find('?');
    r.path = target.substr(0, q);
    r.query = q == std::string::npos ? "" : target.substr(q + 1);
    return ParseQuery(r.query, r.params);
}

const char *ReasonPhrase(int status) {
    switch (status) {
    case 200: return "OK";
    case 302: return "Found";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

std::string Malform(const std::string &body) {
    // Half a document with an unclosed tag and a stray markup character.
    return body.substr(0, body.size() / 2) + "<Result><<&\n";
}

HttpServer::HttpServer(std::string address, uint16_t port, std::string version, Faults &faults, Recorder &recorder,
                       LanState &lan, Handler pages, std::string controlPrefix, Handler control)
    : address_(std::move(address)), version_(std::move(version)), port_(port), faults_(faults), recorder_(recorder),
      lan_(lan), pages_(std::move(pages)), controlPrefix_(std::move(controlPrefix)), control_(std::move(control)) {}

void HttpServer::Start() {
    listen_ = ListenTcp(address_, port_);
    port_ = LocalPort(listen_.Get());
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

void HttpServer::Stop() {
    stop_ = true;
    if (acceptThread_.joinable()) acceptThread_.join();
    listen_.Reset();
    connections_.Stop();
}

void HttpServer::AcceptLoop() {
    while (!stop_) {
        if (faults_.Silent()) {
            // A silent device refuses connections: close the listener until the silence ends.
            listen_.Reset();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        if (!listen_.Valid()) {
            try {
                listen_ = ListenTcp(address_, port_);
            } catch (const std::exception &) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                continue;
            }
        }
        sockaddr_storage peer{};
        Fd client = AcceptWithTimeout(listen_.Get(), 50, &peer);
        if (!client.Valid()) continue;
        const bool loopback = IsLoopback(peer);
        connections_.Spawn(std::move(client), [this, loopback](int fd) { Serve(fd, loopback); });
    }
}

void HttpServer::Serve(int fd, bool loopbackPeer) {
    SetReceiveTimeout(fd, kReceiveTimeoutSeconds);
    LineReader reader(fd);
    std::string line;
    // Tolerate blank lines before the request line, as HTTP allows.
    LineReader::Status status;
    int blank = 0;
    while ((status = reader.ReadLine(line, kMaxLine)) == LineReader::Status::Line && line.empty() && ++blank < 4) {}
    HttpRequest request;
    request.loopbackPeer = loopbackPeer;
    HttpReply reply;
    bool answer = true;
    if (status == LineReader::Status::Closed) return;
    if (status != LineReader::Status::Line || !ParseRequestLine(line, request)) {
        reply = {400, "text/plain", "bad request\n"};
        request.version = "HTTP/1.0";
    } else {
        // Headers: read and ignored (no page takes a body), but bounded.
        int headers = 0;
        for (;;) {
            auto s = reader.ReadLine(line, kMaxLine);
            if (s == LineReader::Status::Closed) return;
            if (s == LineReader::Status::TooLong || ++headers > kMaxHeaders) {
                reply = {400, "text/plain", "header too large\n"};
                break;
            }
            if (line.empty()) break;
        }
        if (reply.status == 200) reply = Answer(request, answer);
    }
    // A device on a LAN answers after its latency; a freeze that began while
    // the page ran holds its reply back.
    if (answer && !IsControl(request) && !(lan_.Delay(faults_) && faults_.WaitWhileFrozen(true))) return;
    if (!answer || stop_) return;
    std::string head = request.version + " " + std::to_string(reply.status) + " " + ReasonPhrase(reply.status) +
                       "\r\nContent-Type: " + reply.contentType +
                       "\r\nContent-Length: " + std::to_string(reply.body.size()) + "\r\nConnection: close\r\n\r\n";
    if (SendAll(fd, head) && request.method != "HEAD") SendAll(fd, reply.body);
    ::shutdown(fd, SHUT_WR);
    if (!IsControl(request) && !request.path.empty())
        faults_.PageAnswered(request.path.substr(request.path.rfind('/') + 1));
}

bool HttpServer::IsControl(const HttpRequest &request) const {
    return !controlPrefix_.empty() && request.path.rfind(controlPrefix_, 0) == 0;
}

HttpReply HttpServer::Answer(const HttpRequest &request, bool &answer) {
    if (IsControl(request)) return control_(request);
    // A frozen device reads nothing: the request waits, unrecorded, until the
    // freeze ends (or the device stops).
    if (!faults_.WaitWhileFrozen(true)) {
        answer = false;
        return {};
    }
    recorder_.Http(MaskedTarget(request.target));
    const std::string page = request.path.substr(request.path.rfind('/') + 1);
    PageFaultAction action = faults_.TakePageFaults(page);
    if (action.silentSeconds) faults_.GoSilent(*action.silentSeconds);
    if (!faults_.WaitWhileFrozen(true)) {  // a freeze this request started
        answer = false;
        return {};
    }
    if (faults_.Silent()) {
        // Held unanswered; once the device speaks again the connection just closes.
        faults_.WaitWhileSilent();
        answer = false;
        return {};
    }
    if (action.delaySeconds > 0 && !faults_.Sleep(action.delaySeconds)) {
        answer = false;
        return {};
    }
    if (action.httpStatus) {
        const int status = *action.httpStatus;
        return {status, "text/html", "<html><body>" + std::to_string(status) + "</body></html>\n"};
    }
    if (request.method != "GET" && request.method != "HEAD") return {405, "text/plain", "only GET\n"};
    HttpReply reply;
    if (action.result) {
        // A forced Result replaces the page: the reply carries no values.
        reply.body = ReplyFrame(version_, *action.result).Finish();
    } else {
        reply = pages_(request);
    }
    if (action.malformed) reply.body = Malform(reply.body);
    return reply;
}

}  // namespace devicesim
