#include "transport/box_transport.hpp"

#include <curl/curl.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "session/error_detail.hpp"
#include "session/report.hpp"
#include "session/waits.hpp"
#include "vthandles.hpp"
#include "vtplatform/diag.hpp"
#include "vtplatform/errors.hpp"
#include "vtregistry.h"

namespace vtbox {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kInitialReplySize = 1048576;
// No reply of the box service comes near this: a list of all 999 boxes, or of
// a level's 400 documents, is well under a megabyte. A body that passes it is
// refused (and its connection dropped) instead of growing without end.
constexpr size_t kMaxReplyBytes = 16u << 20;
// The silence limit restarts with every byte, so a device that trickles could
// hold a request for ever: the whole reply must also be in within the page's
// time-out plus this margin.
constexpr uint32_t kReplyDeadlineMarginMs = 60000;
constexpr uint32_t kPollConnectTimeoutMs = 10000;
std::atomic<uint32_t> g_pollPeriodMs{30000};

void GlobalCurlInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Whether the user has set this computer to work offline.
bool WorkingOffline() {
    HKEY opened = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kInternetSettingsKey, 0, KEY_READ, &opened) != 0) return false;
    vt::RegistryKey key(opened);
    DWORD value = 0, size = sizeof value, type = 0;
    LONG rc = RegQueryValueExA(key.get(), kOfflineValue, nullptr, &type, reinterpret_cast<uint8_t *>(&value), &size);
    return rc == 0 && type == REG_DWORD && value != 0;
}

// Request targets carry their values as given; only bytes that cannot travel
// in a request line at all (blanks, controls, '#', bytes above 0x7E) are
// percent-encoded so that the URL reaches the device whole.
std::string RequestTarget(const std::string &path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(path.size());
    for (unsigned char c : path) {
        if (c <= 0x20 || c >= 0x7F || c == '#') {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string HostForUrl(const std::string &host) {
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

// One request in flight: shared by the caller and the worker thread.
struct Request {
    CURL *curl = nullptr;
    std::atomic<bool> abandon{false};  // set by the caller when the device stopped answering
    HANDLE jobCancel = nullptr;        // the job's cancel event, and the session's
    HANDLE sessionCancel = nullptr;
    bool cancelled = false;
    std::atomic<int64_t> lastActivityNs{0};
    uint32_t silenceLimitMs = 0;
    bool silenceExpired = false;
    int64_t deadlineNs = 0;  // steady clock; the whole reply by then
    bool deadlinePassed = false;
    bool tooLarge = false;
    bool headersComplete = false;
    bool outOfMemory = false;
    HGLOBAL buffer = nullptr;
    size_t used = 0;
    CURLcode result = CURLE_OK;

    ~Request() {
        if (curl) curl_easy_cleanup(curl);
        if (buffer) GlobalFree(buffer);
    }
    void Touch() { lastActivityNs = Clock::now().time_since_epoch().count(); }
};

size_t OnHeader(char *data, size_t size, size_t n, void *user) {
    auto *r = static_cast<Request *>(user);
    r->Touch();
    size_t len = size * n;
    if (len <= 2 && (len == 0 || data[0] == '\r' || data[0] == '\n')) r->headersComplete = true;
    return len;
}

size_t OnBody(char *data, size_t size, size_t n, void *user) {
    auto *r = static_cast<Request *>(user);
    r->Touch();
    size_t len = size * n;
    if (len > kMaxReplyBytes - r->used) {
        r->tooLarge = true;
        return CURL_WRITEFUNC_ERROR;
    }
    size_t capacity = GlobalSize(r->buffer);
    if (r->used + len > capacity) {
        // A reply longer than the first block grows it rather than being cut.
        size_t grown = capacity ? capacity : kInitialReplySize;
        while (grown < r->used + len) grown *= 2;
        grown = std::min(grown, kMaxReplyBytes);
        HGLOBAL bigger = GlobalReAlloc(r->buffer, grown, GMEM_MOVEABLE);
        if (!bigger) {
            r->outOfMemory = true;
            return CURL_WRITEFUNC_ERROR;
        }
        r->buffer = bigger;
    }
    std::memcpy(static_cast<char *>(r->buffer) + r->used, data, len);
    r->used += len;
    return len;
}

int OnProgress(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto *r = static_cast<Request *>(user);
    if (r->abandon) return 1;
    // Called at least once a second, also while nothing arrives.
    if (IsSignalled(r->jobCancel) || IsSignalled(r->sessionCancel)) {
        r->cancelled = true;
        return 1;
    }
    int64_t nowNs = Clock::now().time_since_epoch().count();
    if (nowNs - r->lastActivityNs.load() > static_cast<int64_t>(r->silenceLimitMs) * 1000000) {
        r->silenceExpired = true;
        return 1;
    }
    if (nowNs > r->deadlineNs) {
        r->deadlinePassed = true;
        return 1;
    }
    return 0;
}

// The worker's body: the blocking send. Ends with 0 or the failure's code.
DWORD SendRequestWorker(void *arg) {
    auto *r = static_cast<Request *>(arg);
    r->Touch();
    r->result = curl_easy_perform(r->curl);
    switch (r->result) {
    case CURLE_OK: return 0;
    case CURLE_OPERATION_TIMEDOUT: return vt::code(vt::Code::NET_TIMEOUT);
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST: return vt::code(vt::Code::CANNOT_CONNECT);
    case CURLE_WRITE_ERROR:
        return r->outOfMemory ? vt::code(vt::Code::NOT_ENOUGH_MEMORY) : vt::code(vt::Code::CONNECTION_FAILED);
    case CURLE_ABORTED_BY_CALLBACK:
        if (r->cancelled) return vt::code(vt::Code::CANCELLED);
        if (r->silenceExpired || r->deadlinePassed) return vt::code(vt::Code::NET_TIMEOUT);
        return vt::code(vt::Code::CONNECTION_FAILED);
    default: return vt::code(vt::Code::CONNECTION_FAILED);
    }
}

// A real connection to the device's web port, as the polling test.
bool DeviceAnswers(const std::string &host, uint16_t port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    std::string service = std::to_string(port);
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0) return false;
    bool ok = false;
    for (addrinfo *a = found; a && !ok; a = a->ai_next) {
        int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0) continue;
        int rc = connect(fd, a->ai_addr, a->ai_addrlen);
        if (rc == 0) {
            ok = true;
        } else if (errno == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            if (poll(&p, 1, static_cast<int>(NetworkTimeoutMs(kPollConnectTimeoutMs))) == 1) {
                int err = 0;
                socklen_t len = sizeof err;
                ok = getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
            }
        }
        close(fd);
    }
    freeaddrinfo(found);
    return ok;
}

std::string NoProxyList() {
    std::string list = "localhost,127.0.0.1,::1";
    for (const char *name : {"no_proxy", "NO_PROXY"})
        if (const char *v = std::getenv(name); v && *v) list = std::string(v) + "," + list;
    return list;
}

}  // namespace

InternetSession *InternetOf(const VTMFPSESSION *s) { return static_cast<InternetSession *>(s->InternetHandle); }
HttpConnection *ConnectionOf(const VTMFPSESSION *s) { return static_cast<HttpConnection *>(s->ConnectHandle); }

void CloseTransport(VTMFPSESSION *s) {
    if (s->ConnectHandle) delete ConnectionOf(s);
    s->ConnectHandle = nullptr;
    if (s->InternetHandle) delete InternetOf(s);
    s->InternetHandle = nullptr;
}

uint32_t PollPeriodMs() { return g_pollPeriodMs; }
void SetPollPeriodMsForTesting(uint32_t ms) { g_pollPeriodMs = ms; }

uint32_t ConnectToBoxService(VTMFPSESSION *s) {
    if (WorkingOffline()) return vt::code(vt::Code::OFFLINE);
    GlobalCurlInit();
    auto internet = std::make_unique<InternetSession>();
    internet->SetTimeouts(kOpeningTimeoutMs);
    auto conn = std::make_unique<HttpConnection>();
    conn->session = internet.get();
    conn->host.assign(s->Host, strnlen(s->Host, sizeof s->Host));
    conn->port = static_cast<uint16_t>(s->Port & 0xFFFF);
    if (conn->host.empty()) {
        ReportFailure("InternetConnect", vt::code(vt::Code::INVALID_URL));
        return vt::code(vt::Code::CANNOT_CONNECT);
    }
    s->InternetHandle = internet.release();
    s->ConnectHandle = conn.release();
    return 0;
}

std::string QueryValue(const std::string &value) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size() * 3);
    for (unsigned char c : value) {
        bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                          c == '.' || c == '_' || c == '~';
        if (unreserved) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

uint32_t MapHttpStatus(long status) {
    if (status >= 200 && status <= 299) return 0;
    if (status == 400) return vt::code(vt::Code::INVALID_PARAMETER);
    if (status == 404) return vt::code(vt::Code::FILE_NOT_FOUND);
    if (status == 405) return vt::code(vt::Code::NOT_SUPPORTED);
    if (status >= 300 && status <= 499) return vt::code(vt::Code::REQUEST_REFUSED);
    if (status == 503) {
        OutputDebugStringA("\n\n Backup Restore Mode is already ON....!!! \n\n");
        return vt::code(vt::Code::DEVICE_IN_USE);
    }
    if (status >= 600) return vt::code(vt::Code::CONNECTION_FAILED);
    return vt::code(vt::Code::BAD_NET_RESPONSE);
}

uint32_t PageTimeoutMs(const std::string &path) {
    for (const char *longPage : {"/VaultraBox/Admin/boxnwGetBoxList", "/VaultraBox/Admin/boxnwGetFolderDocList",
                                 "/VaultraBox/Admin/boxnwGetBoxProperty"})
        if (path.find(longPage) != std::string::npos) return 7500000;
    if (path.find("/VaultraBox/boxnwConnect") != std::string::npos) return 60000;
    return 250000;
}

std::string RequestLogLine(const VTMFPSESSION *s, const std::string &path) {
    if (path.find("boxnwDirSerialClusterChange") != std::string::npos) return {};
    std::string line = vt::Format("http://%s:%u%s\n", s->Host, s->Port, path.c_str());
    // The password never shows: its whole value becomes "XXXXXX". An empty
    // value followed by another parameter has nothing to hide.
    size_t at = line.find("&PWD=");
    if (at != std::string::npos) {
        size_t begin = at + 5;
        if (begin >= line.size() || line[begin] != '&') {
            size_t end = line.find('&', begin);
            if (end == std::string::npos) end = line.size() - 1;  // up to the line feed
            line.replace(begin, end - begin, "XXXXXX");
        }
    }
    // The line is built in a 512-byte buffer.
    if (line.size() > 511) line.resize(511);
    return line;
}

std::string RequestForDetail(const std::string &path) {
    for (const char *key : {"?PWD=", "&PWD="}) {
        size_t at = path.find(key);
        if (at != std::string::npos) return path.substr(0, at);
    }
    return path;
}

namespace {
// Notes why a request got no usable reply.
void NoteRequestFailure(uint32_t code, const HttpConnection &conn, const std::string &path, const std::string &why) {
    NoteFailure(code, why + " from " + HostForUrl(conn.host) + ":" + std::to_string(conn.port) + " on " +
                          RequestForDetail(path));
}
}  // namespace

HGLOBAL SendBoxRequest(VTMFPSESSION *s, const std::string &path) {
    HttpConnection *conn = ConnectionOf(s);
    if (!conn) {
        SetLastError(vt::code(vt::Code::WRONG_HANDLE_STATE));
        return nullptr;
    }
    std::string logLine = RequestLogLine(s, path);
    if (!logLine.empty()) OutputDebugStringA(logLine.c_str());

    auto req = std::make_unique<Request>();
    req->curl = curl_easy_init();
    if (!req->curl) {
        SetLastError(vt::code(vt::Code::OUT_OF_HANDLES));
        return nullptr;
    }
    // Zeroed by the allocator without touching its pages; the space fill is
    // owed only to bytes a caller can see, which the end of the reply settles
    // (filling a megabyte for every request cost a restore a fifth of its time).
    req->buffer = GlobalAlloc(GPTR, kInitialReplySize);
    if (!req->buffer) {
        SetLastError(vt::code(vt::Code::NOT_ENOUGH_MEMORY));
        return nullptr;
    }

    uint32_t timeoutMs = NetworkTimeoutMs(PageTimeoutMs(path));
    uint32_t deadlineMs = timeoutMs + NetworkTimeoutMs(kReplyDeadlineMarginMs);
    req->silenceLimitMs = timeoutMs;
    req->deadlineNs = Clock::now().time_since_epoch().count() + static_cast<int64_t>(deadlineMs) * 1000000;
    req->jobCancel = CurrentCancelEvent();
    req->sessionCancel = conn->session ? conn->session->requestCancel.load() : nullptr;
    std::string url = "http://" + HostForUrl(conn->host) + ":" + std::to_string(conn->port) + RequestTarget(path);
    std::string noProxy = NoProxyList();
    CURL *c = req->curl;
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(c, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
    curl_easy_setopt(c, CURLOPT_NOPROXY, noProxy.c_str());
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeoutMs));
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, req.get());
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, req.get());
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, req.get());
    curl_easy_setopt(c, CURLOPT_USERAGENT, "vtBoxFTPAcs");

    vt::OwnedHandle workerThread(CreateThread(nullptr, 1024, SendRequestWorker, req.get(), 0, nullptr));
    if (!workerThread) return nullptr;  // last error set by CreateThread
    HANDLE worker = workerThread.get();

    // Wait for the worker; between periods, make sure the device still answers.
    for (;;) {
        if (WaitForSingleObject(worker, PollPeriodMs()) == WAIT_OBJECT_0) break;
        OutputDebugStringA("\n Polling the WebSite URL for connection...\n");
        bool alive = DeviceAnswers(conn->host, conn->port);
        OutputDebugStringA("\n Polling Complete...\n");
        if (!alive) {
            // Stop the transfer through its progress callback and wait for
            // the worker to notice; a thread is never killed.
            req->abandon = true;
            WaitForSingleObject(worker, INFINITE);
            break;
        }
    }
    DWORD exitCode = 0;
    if (!GetExitCodeThread(worker, &exitCode)) exitCode = 0;
    workerThread.reset();
    if (req->abandon) exitCode = vt::code(vt::Code::CONNECTION_FAILED);

    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    // A cancel is a cancel wherever it found the request, a reply body too.
    if (req->cancelled) {
        ReportFailure("HttpSendRequest", vt::code(vt::Code::CANCELLED));
        NoteRequestFailure(vt::code(vt::Code::CANCELLED), *conn, path, "cancelled while waiting for the reply");
        SetLastError(vt::code(vt::Code::CANCELLED));
        return nullptr;
    }
    if (req->tooLarge) {
        ReportFailure("InternetReadFile ", vt::code(vt::Code::INVALID_DATA));
        NoteRequestFailure(vt::code(vt::Code::INVALID_DATA), *conn, path,
                           vt::Format("a reply of more than %zu MiB (none is near that size)", kMaxReplyBytes >> 20));
        SetLastError(vt::code(vt::Code::INVALID_DATA));
        return nullptr;
    }
    bool bodyFailure = exitCode != 0 && req->headersComplete && status > 0 && !req->abandon;
    if (bodyFailure) {
        // The reply had begun. A body that broke off after some data counts as
        // complete (the reader will find out whether it is whole).
        bool brokeOff = req->used > 0 && (req->result == CURLE_PARTIAL_FILE || req->result == CURLE_RECV_ERROR);
        if (!brokeOff && MapHttpStatus(status) == 0) {
            ReportFailure("InternetReadFile ", exitCode);
            NoteRequestFailure(
                vt::code(vt::Code::CONNECTION_FAILED), *conn, path,
                req->deadlinePassed   ? vt::Format("the reply was not complete within %u s", deadlineMs / 1000)
                : req->silenceExpired ? vt::Format("the reply stood still for %u s", timeoutMs / 1000)
                                      : std::string("the reply broke off (") + curl_easy_strerror(req->result) + ")");
            SetLastError(vt::code(vt::Code::CONNECTION_FAILED));
            return nullptr;
        }
        exitCode = 0;
    }
    if (exitCode != 0) {
        ReportFailure("HttpSendRequest", exitCode);
        bool passOn = exitCode == vt::code(vt::Code::NET_TIMEOUT) || exitCode == vt::code(vt::Code::CANNOT_CONNECT) ||
                      exitCode == vt::code(vt::Code::NOT_ENOUGH_MEMORY) || exitCode == vt::code(vt::Code::CANCELLED);
        uint32_t code = passOn ? exitCode : vt::code(vt::Code::CONNECTION_FAILED);
        std::string why = req->cancelled        ? std::string("cancelled while waiting for the reply")
                          : req->abandon        ? std::string("the device stopped answering")
                          : req->silenceExpired ? vt::Format("no reply within %u s", timeoutMs / 1000)
                          : req->deadlinePassed
                              ? vt::Format("no complete reply within %u s", deadlineMs / 1000)
                              : std::string("no HTTP reply (") + curl_easy_strerror(req->result) + ")";
        NoteRequestFailure(code, *conn, path, why);
        SetLastError(code);
        return nullptr;
    }
    if (status <= 0) {
        ReportFailure("HttpQueryInfo ", vt::code(vt::Code::BAD_SERVER_RESPONSE));
        NoteRequestFailure(vt::code(vt::Code::CONNECTION_FAILED), *conn, path, "no HTTP status");
        SetLastError(vt::code(vt::Code::CONNECTION_FAILED));
        return nullptr;
    }
    if (uint32_t mapped = MapHttpStatus(status)) {
        NoteRequestFailure(mapped, *conn, path, "HTTP " + std::to_string(status));
        SetLastError(mapped);
        return nullptr;
    }
    HGLOBAL exact = GlobalReAlloc(req->buffer, req->used, GMEM_MOVEABLE);
    if (!exact) {
        SetLastError(vt::code(vt::Code::NOT_ENOUGH_MEMORY));
        return nullptr;
    }
    // Any slack beyond the body reads as whitespace.
    size_t size = GlobalSize(exact);
    if (size > req->used) std::memset(static_cast<char *>(exact) + req->used, ' ', size - req->used);
    req->buffer = nullptr;
    return exact;
}

}  // namespace vtbox

namespace vtbox {

namespace {
size_t Discard(char *, size_t size, size_t n, void *) { return size * n; }
int StopRequested(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<const std::atomic<bool> *>(user)->load() ? 1 : 0;
}
}  // namespace

void SendKeepAliveRequest(const VTMFPSESSION *s, const std::string &path, const std::atomic<bool> *stop) {
    HttpConnection *conn = ConnectionOf(s);
    if (!conn) return;
    GlobalCurlInit();
    CURL *c = curl_easy_init();
    if (!c) return;
    std::string url = "http://" + HostForUrl(conn->host) + ":" + std::to_string(conn->port) + RequestTarget(path);
    std::string noProxy = NoProxyList();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
    curl_easy_setopt(c, CURLOPT_NOPROXY, noProxy.c_str());
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_USERAGENT, "vtBoxFTPAcs");
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(kOpenTimeoutMs));
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(PageTimeoutMs(path)));
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Discard);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, StopRequested);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool> *>(stop));
    curl_easy_perform(c);
    curl_easy_cleanup(c);
}

}  // namespace vtbox
