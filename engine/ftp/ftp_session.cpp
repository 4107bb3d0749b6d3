#include "ftp/ftp_session.hpp"

#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "session/result.hpp"
#include "session/waits.hpp"
#include "vtplatform.h"
#include "vtplatform/diag.hpp"
#include "vtplatform/errors.hpp"

namespace vtbox {

namespace {

std::atomic<uint64_t> downloaded{0};

constexpr uint32_t kTimeoutMs = 10000;

// The ten seconds as libcurl takes them in whole seconds (at least 1).
long TimeoutSeconds() { return static_cast<long>((NetworkTimeoutMs(kTimeoutMs) + 999) / 1000); }
// A reply longer than this is kept cut; the device's replies are one line.
constexpr size_t kMaxReplyText = 4096;

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct SlistDeleter {
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};
using Slist = std::unique_ptr<curl_slist, SlistDeleter>;

Slist MakeList(std::initializer_list<std::string> items) {
    curl_slist *list = nullptr;
    for (const auto &item : items) {
        curl_slist *grown = curl_slist_append(list, item.c_str());
        if (!grown) {
            curl_slist_free_all(list);
            Raise(vt::Code::NOT_ENOUGH_MEMORY);
        }
        list = grown;
    }
    return Slist(list);
}

// A path as it goes into the URL: every byte but the unreserved ones and "/"
// percent-encoded. An absolute path keeps its leading "/" as "%2F", so that the
// command carries the path exactly as given (libcurl sends no CWD here).
std::string UrlPath(const std::string &path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(path.size() + 8);
    size_t i = 0;
    if (!path.empty() && path[0] == '/') {
        out += "%2F";
        i = 1;
    }
    for (; i < path.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(path[i]);
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                     c == '.' || c == '_' || c == '~' || c == '/';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        }
    }
    return out;
}

// Text that goes onto the control connection must not carry a line end of its
// own (it would end the command early and start another).
bool IsOneLine(const std::string &text) { return text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos; }

}  // namespace

struct FtpSession::Impl {
    CURL *curl = nullptr;
    std::string baseUrl;  // "ftp://host:port/"
    char errorText[CURL_ERROR_SIZE] = {};
    // The last call's result, whose words go into a failure's detail.
    CURLcode lastResult = CURLE_OK;

    // Replies: lines gather in `partial` until the final line of a reply.
    bool capturing = false;
    std::string partial;
    std::string lastReply;
    int lastCode = 0;
    int openCode = 0;     // code of a reply still open ("ddd-")
    int refusedCode = 0;  // first reply of 400 or more in the current call

    // Listing data, as it arrived.
    std::string *listData = nullptr;
    size_t listLimit = 0;
    bool listOverflow = false;

    // Local side of a transfer: the errno of a failed read or write.
    int localErrno = 0;
    FtpSink *sink = nullptr;
    bool sinkRaw = false;  // the sink takes the data as received (debug callback)
    bool sinkFailed = false;
    FtpSource *source = nullptr;
    uint64_t sunk = 0;

    // The data ports: a few listening ports for the whole session, taken in
    // turn and bound again (SO_REUSEADDR), so that thousands of transfers do
    // not each take a port of their own and leave it in TIME_WAIT. In turn,
    // so that the server's connection to a port seldom meets one of its own
    // earlier connections still in TIME_WAIT. Empty: a new port per transfer.
    std::vector<uint16_t> dataPorts;
    size_t nextPort = 0;
    std::string portSpec;     // ":P-P" for CURLOPT_FTPPORT
    bool sourceRead = false;  // the upload's source was read from

    // Transfer types. libcurl sends "TYPE I" before RETR/STOR and "TYPE A"
    // before LIST when its own idea of the type differs (libType); the type
    // the caller wants is sent before the transfer only when the server is not
    // in it already (wireType). kNone: a fresh connection, on which libcurl
    // sends its TYPE; kUnknown: nothing can be assumed.
    static constexpr char kNone = 0;
    static constexpr char kUnknown = '?';
    char libType = kNone;
    char wireType = kUnknown;

    // The job's cancel event during a call; set when it ended the call.
    HANDLE cancel = nullptr;
    bool cancelled = false;
    // The control connection can no longer be trusted to answer (a call was
    // cancelled or timed out): it is cut without a QUIT at the end.
    bool broken = false;

    static int OnProgress(void *self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
    static size_t OnHeader(char *data, size_t size, size_t count, void *self);
    static int OnDebug(CURL *, curl_infotype type, char *data, size_t size, void *self);
    static size_t OnWrite(char *data, size_t size, size_t count, void *self);
    static size_t OnDiscard(char *data, size_t size, size_t count, void *self);
    static size_t OnRead(char *buffer, size_t size, size_t count, void *self);
    static curl_socket_t OnOpenSocket(void *self, curlsocktype purpose, curl_sockaddr *address);

    // Fills dataPorts with free ports of the control connection's local
    // address; false (ports left empty) when none can be had.
    bool PickDataPorts(size_t count);
    void UseNextPort();
    void UseNewPortPerTransfer();
    void RestartCall();
    // Runs a transfer whose libcurl type is curlType ('A' or 'I') in the
    // type wanted, with "TYPE" on the wire only when the type changes.
    uint32_t PerformTransfer(char curlType, char wanted);

    void TakeReplyLine(std::string_view line);
    void ResetCall();
    void SetCommon(const std::string &url);
    uint32_t Perform(bool opening);
    uint32_t MapResult(CURLcode rc, bool opening) const;
};

// libcurl calls this at least once a second while a call lasts, also while
// it waits for a reply or a data connection that never comes.
int FtpSession::Impl::OnProgress(void *self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto *impl = static_cast<Impl *>(self);
    if (IsSignalled(impl->cancel)) {
        impl->cancelled = true;
        return 1;
    }
    return 0;
}

size_t FtpSession::Impl::OnHeader(char *data, size_t size, size_t count, void *self) {
    auto *impl = static_cast<Impl *>(self);
    size_t n = size * count;
    if (impl->capturing) impl->TakeReplyLine(std::string_view(data, n));
    return n;
}

void FtpSession::Impl::TakeReplyLine(std::string_view line) {
    auto digit = [&](size_t i) { return line.size() > i && line[i] >= '0' && line[i] <= '9'; };
    bool coded = digit(0) && digit(1) && digit(2);
    int code = coded ? (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0') : 0;
    bool startsReply = partial.empty();
    if (partial.size() < kMaxReplyText) partial.append(line.substr(0, kMaxReplyText - partial.size()));

    // A reply is one line "ddd text", or lines from "ddd-text" to "ddd text"
    // with the same code.
    if (startsReply && coded && line.size() > 3 && line[3] == '-') {
        openCode = code;
        return;
    }
    bool ends = coded && (line.size() == 3 || line[3] != '-') && (openCode == 0 || code == openCode);
    if (!ends) return;
    openCode = 0;
    lastCode = code;
    lastReply.swap(partial);
    partial.clear();
    if (lastCode >= 400 && refusedCode == 0) refusedCode = lastCode;
}

int FtpSession::Impl::OnDebug(CURL *, curl_infotype type, char *data, size_t size, void *self) {
    // Listing data is taken here, as received: the write callback would see it
    // after libcurl has rewritten its line ends.
    auto *impl = static_cast<Impl *>(self);
    if (type != CURLINFO_DATA_IN) return 0;
    if (impl->sink && impl->sinkRaw) {
        if (impl->sinkFailed) return 0;
        if (!impl->sink->Write(data, size)) {
            impl->localErrno = errno != 0 ? errno : EIO;
            impl->sinkFailed = true;
            return 0;
        }
        impl->sunk += size;
        downloaded.fetch_add(size, std::memory_order_relaxed);
        return 0;
    }
    if (!impl->listData) return 0;
    if (impl->listData->size() + size > impl->listLimit) {
        impl->listOverflow = true;
        return 0;
    }
    impl->listData->append(data, size);
    return 0;
}

size_t FtpSession::Impl::OnDiscard(char *, size_t size, size_t count, void *self) {
    auto *impl = static_cast<Impl *>(self);
    return impl->listOverflow ? 0 : size * count;
}

size_t FtpSession::Impl::OnWrite(char *data, size_t size, size_t count, void *self) {
    auto *impl = static_cast<Impl *>(self);
    size_t n = size * count;
    // Raw data went to the sink from the debug callback already; this copy may
    // have had its line ends rewritten.
    if (impl->sinkRaw) return impl->sinkFailed ? 0 : n;
    if (!impl->sink->Write(data, n)) {
        impl->localErrno = errno != 0 ? errno : EIO;
        return 0;
    }
    impl->sunk += n;
    downloaded.fetch_add(n, std::memory_order_relaxed);
    return n;
}

size_t FtpSession::Impl::OnRead(char *buffer, size_t size, size_t count, void *self) {
    auto *impl = static_cast<Impl *>(self);
    impl->sourceRead = true;
    long long n = impl->source->Read(buffer, size * count);
    if (n < 0) {
        impl->localErrno = errno != 0 ? errno : EIO;
        return CURL_READFUNC_ABORT;
    }
    return static_cast<size_t>(n);
}

curl_socket_t FtpSession::Impl::OnOpenSocket(void *, curlsocktype, curl_sockaddr *address) {
    curl_socket_t fd = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    if (fd == CURL_SOCKET_BAD) return fd;
    // The data port is bound again while connections of earlier transfers on
    // it wait out TIME_WAIT.
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    return fd;
}

bool FtpSession::Impl::PickDataPorts(size_t count) {
    dataPorts.clear();
    curl_socket_t control = CURL_SOCKET_BAD;
    if (curl_easy_getinfo(curl, CURLINFO_ACTIVESOCKET, &control) != CURLE_OK || control == CURL_SOCKET_BAD)
        return false;
    sockaddr_storage local{};
    socklen_t len = sizeof local;
    if (::getsockname(control, reinterpret_cast<sockaddr *>(&local), &len) != 0) return false;
    auto portOf = [](sockaddr_storage &a) -> in_port_t & {
        return a.ss_family == AF_INET ? reinterpret_cast<sockaddr_in &>(a).sin_port
                                      : reinterpret_cast<sockaddr_in6 &>(a).sin6_port;
    };
    if (local.ss_family != AF_INET && local.ss_family != AF_INET6) return false;
    portOf(local) = 0;
    // All bound at once, so that the system hands out different ports.
    std::vector<int> probes;
    for (size_t i = 0; i < count; ++i) {
        int probe = ::socket(local.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (probe < 0) break;
        probes.push_back(probe);
        sockaddr_storage bound = local;
        socklen_t boundLen = len;
        if (::bind(probe, reinterpret_cast<sockaddr *>(&bound), len) == 0 &&
            ::getsockname(probe, reinterpret_cast<sockaddr *>(&bound), &boundLen) == 0 && portOf(bound) != 0)
            dataPorts.push_back(ntohs(portOf(bound)));
    }
    for (int probe : probes) ::close(probe);
    nextPort = 0;
    return !dataPorts.empty();
}

void FtpSession::Impl::UseNextPort() {
    if (dataPorts.empty()) return;
    uint16_t port = dataPorts[nextPort++ % dataPorts.size()];
    portSpec = ":" + std::to_string(port) + "-" + std::to_string(port);
    curl_easy_setopt(curl, CURLOPT_FTPPORT, portSpec.c_str());
}

void FtpSession::Impl::UseNewPortPerTransfer() {
    dataPorts.clear();
    curl_easy_setopt(curl, CURLOPT_FTPPORT, "-");
}

// Forgets what a call that is about to be made again has seen.
void FtpSession::Impl::RestartCall() {
    partial.clear();
    openCode = 0;
    refusedCode = 0;
    errorText[0] = '\0';
}

uint32_t FtpSession::Impl::PerformTransfer(char curlType, char wanted) {
    char afterCurl = libType == curlType ? wireType : libType == kUnknown ? kUnknown : curlType;
    bool sendType = afterCurl != wanted;
    Slist prequote;
    if (sendType) prequote = MakeList({wanted == 'A' ? "TYPE A" : "TYPE I"});
    curl_easy_setopt(curl, CURLOPT_PREQUOTE, prequote.get());
    capturing = true;
    cancel = CurrentCancelEvent();
    cancelled = false;
    UseNextPort();
    CURLcode rc = curl_easy_perform(curl);
    if (cancelled) {
        // Ended by the job's cancel: not tried again.
    } else if (rc == CURLE_FTP_PORT_FAILED && !dataPorts.empty()) {
        // A data port was taken by someone else meanwhile: once more on new
        // ones. Nothing went to the server for this transfer yet.
        RestartCall();
        if (!PickDataPorts(dataPorts.size())) UseNewPortPerTransfer();
        UseNextPort();
        rc = curl_easy_perform(curl);
    } else if (rc != CURLE_OK && refusedCode == 425 && !dataPorts.empty() && sunk == 0 && !sourceRead) {
        // The server could not connect back to a port it used a moment ago
        // (a server that connects from one fixed port and keeps its side in
        // TIME_WAIT): a new port for every transfer from here on, as plain
        // active mode does. Nothing was transferred yet.
        RestartCall();
        UseNewPortPerTransfer();
        rc = curl_easy_perform(curl);
    }
    capturing = false;
    cancel = nullptr;
    curl_easy_setopt(curl, CURLOPT_PREQUOTE, nullptr);
    long connects = 0;
    curl_easy_getinfo(curl, CURLINFO_NUM_CONNECTS, &connects);
    if (rc == CURLE_OK) {
        // A connection made anew within the call got libcurl's TYPE first.
        wireType = sendType ? wanted : connects > 0 ? curlType : afterCurl;
        libType = curlType;
    } else {
        wireType = kUnknown;
        libType = kUnknown;
    }
    lastResult = rc;
    uint32_t code = MapResult(rc, false);
    if (cancelled || rc == CURLE_OPERATION_TIMEDOUT || rc == CURLE_FTP_ACCEPT_TIMEOUT) broken = true;
    if (code == 0 && sinkFailed)
        code = localErrno != 0 ? vt::Win32FromErrno(localErrno) : vt::code(vt::Code::INTERNAL_ERROR);
    SetLastError(code);
    return code;
}

void FtpSession::Impl::ResetCall() {
    partial.clear();
    openCode = 0;
    refusedCode = 0;
    listData = nullptr;
    listOverflow = false;
    localErrno = 0;
    sink = nullptr;
    sinkRaw = false;
    sinkFailed = false;
    source = nullptr;
    sourceRead = false;
    sunk = 0;
    errorText[0] = '\0';
}

// The options that differ from call to call are all set again here, so that no
// call inherits anything from the one before.
void FtpSession::Impl::SetCommon(const std::string &url) {
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 0L);
    curl_easy_setopt(curl, CURLOPT_QUOTE, nullptr);
    curl_easy_setopt(curl, CURLOPT_PREQUOTE, nullptr);
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, nullptr);
    curl_easy_setopt(curl, CURLOPT_VERBOSE, 0L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Impl::OnDiscard);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, &Impl::OnRead);
    curl_easy_setopt(curl, CURLOPT_READDATA, this);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(-1));
    curl_easy_setopt(curl, CURLOPT_TRANSFERTEXT, 0L);
}

uint32_t FtpSession::Impl::Perform(bool opening) {
    capturing = true;
    cancel = CurrentCancelEvent();
    cancelled = false;
    CURLcode rc = curl_easy_perform(curl);
    capturing = false;
    cancel = nullptr;
    long connects = 0;
    curl_easy_getinfo(curl, CURLINFO_NUM_CONNECTS, &connects);
    if (rc != CURLE_OK) {
        libType = kUnknown;
        wireType = kUnknown;
    } else if (connects > 0) {
        libType = kNone;
        wireType = kUnknown;
    }
    lastResult = rc;
    uint32_t code = MapResult(rc, opening);
    if (cancelled || rc == CURLE_OPERATION_TIMEDOUT || rc == CURLE_FTP_ACCEPT_TIMEOUT) broken = true;
    SetLastError(code);
    return code;
}

uint32_t FtpSession::Impl::MapResult(CURLcode rc, bool opening) const {
    using vt::Code;
    switch (rc) {
    case CURLE_OK: return 0;
    case CURLE_LOGIN_DENIED: return vt::code(Code::FTP_LOGIN_REFUSED);
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_FTP_ACCEPT_TIMEOUT: return vt::code(Code::NET_TIMEOUT);
    case CURLE_OUT_OF_MEMORY: return vt::code(Code::NOT_ENOUGH_MEMORY);
    case CURLE_URL_MALFORMAT: return vt::code(Code::INVALID_NAME);
    case CURLE_COULDNT_RESOLVE_HOST: return vt::code(Code::NAME_NOT_RESOLVED);
    case CURLE_COULDNT_CONNECT: return vt::code(opening ? Code::CONNECTION_FAILED : Code::CANNOT_CONNECT);
    case CURLE_ABORTED_BY_CALLBACK: return vt::code(cancelled ? Code::CANCELLED : Code::CONNECTION_FAILED);
    case CURLE_WRITE_ERROR:
    case CURLE_READ_ERROR:
        if (listOverflow) return vt::code(Code::BUFFER_OVERFLOW);
        if (localErrno != 0) return vt::Win32FromErrno(localErrno);
        return vt::code(Code::INTERNAL_ERROR);
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_FTP_ACCEPT_FAILED:
        // The server ended a transfer early (426, a closed data connection)
        // or the connection broke. A 4xx/5xx reply counts as a refusal.
        if (refusedCode != 0 && rc == CURLE_PARTIAL_FILE && refusedCode != 426) return vt::code(Code::SERVER_REFUSED);
        return vt::code(Code::CONNECTION_ABORTED);
    case CURLE_QUOTE_ERROR:
    case CURLE_UPLOAD_FAILED:
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_FTP_COULDNT_RETR_FILE:
    case CURLE_FTP_COULDNT_SET_TYPE:
    case CURLE_FTP_PORT_FAILED:
    case CURLE_REMOTE_DISK_FULL:
    case CURLE_FTP_WEIRD_SERVER_REPLY:
        // The server refused; its reply says why (as the extended error of
        // the platform's FTP layer does).
        return vt::code(Code::SERVER_REFUSED);
    default: return vt::code(Code::CONNECTION_FAILED);
    }
}

FtpSession::FtpSession() : impl_(std::make_unique<Impl>()) {
    GlobalInit();
    impl_->curl = curl_easy_init();
    if (!impl_->curl) Raise(vt::Code::NOT_ENOUGH_MEMORY);
}

FtpSession::~FtpSession() {
    // Ends the control connection (QUIT) with the handle. A server that no
    // longer answers is not waited for: its connection is cut first, so that
    // the QUIT fails at once.
    if (!impl_->curl) return;
    curl_socket_t fd = CURL_SOCKET_BAD;
    if (impl_->broken && curl_easy_getinfo(impl_->curl, CURLINFO_ACTIVESOCKET, &fd) == CURLE_OK &&
        fd != CURL_SOCKET_BAD)
        ::shutdown(fd, SHUT_RDWR);
    curl_easy_cleanup(impl_->curl);
}

const std::string &FtpSession::LastResponse() const { return impl_->lastReply; }
int FtpSession::LastReplyCode() const { return impl_->lastCode; }
int FtpSession::LocalErrno() const { return impl_->localErrno; }

uint64_t DownloadedBytes() { return downloaded.load(std::memory_order_relaxed); }

void ResetDownloadedBytes() { downloaded.store(0, std::memory_order_relaxed); }

std::string FtpSession::DescribeFailure(const std::string &command) const {
    const Impl &s = *impl_;
    if (s.refusedCode != 0) return "FTP " + std::to_string(s.refusedCode) + " on " + command;
    if (s.listOverflow) return "the reply to " + command + " is too long";
    if (s.localErrno != 0) return command + ": " + std::strerror(s.localErrno) + " on this side";
    // libcurl's own line is for whoever reads the diagnostics: it may be
    // about the library's inner steps ("sa_addr inet_ntop() failed ..."),
    // not about what failed. The detail gets libcurl's words for its result.
    if (s.errorText[0] != '\0') vt::DebugPrint(" FTP %s: %s \n", command.c_str(), s.errorText);
    if (s.lastResult != CURLE_OK) return command + ": " + curl_easy_strerror(s.lastResult);
    return command + " failed";
}

uint16_t FtpSession::DefaultPort() {
    const char *text = std::getenv("VTBOX_FTP_PORT");
    if (text && *text) {
        char *end = nullptr;
        errno = 0;
        unsigned long port = std::strtoul(text, &end, 10);
        if (errno == 0 && end && *end == '\0' && port >= 1 && port <= 65535) return static_cast<uint16_t>(port);
    }
    return 21;
}

uint32_t FtpSession::Open(const FtpLogin &login) {
    Impl &s = *impl_;
    if (login.host.empty() || !IsOneLine(login.host) || !IsOneLine(login.user) || !IsOneLine(login.password) ||
        login.host.find_first_of("/?#@ ") != std::string::npos) {
        SetLastError(vt::code(vt::Code::INVALID_PARAMETER));
        return vt::code(vt::Code::INVALID_PARAMETER);
    }
    std::string host = login.host.find(':') != std::string::npos ? "[" + login.host + "]" : login.host;
    s.baseUrl = "ftp://" + host + ":" + std::to_string(login.port) + "/";

    CURL *c = s.curl;
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, s.errorText);
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(c, CURLOPT_USERNAME, login.user.c_str());
    curl_easy_setopt(c, CURLOPT_PASSWORD, login.password.c_str());
    // One control connection for the object's life.
    curl_easy_setopt(c, CURLOPT_FORBID_REUSE, 0L);
    curl_easy_setopt(c, CURLOPT_FRESH_CONNECT, 0L);
    curl_easy_setopt(c, CURLOPT_MAXAGE_CONN, 24L * 3600L);
    // Active data mode: PORT with the control connection's own address, on
    // one port for the session once the login is done.
    curl_easy_setopt(c, CURLOPT_FTPPORT, "-");
    curl_easy_setopt(c, CURLOPT_OPENSOCKETFUNCTION, &Impl::OnOpenSocket);
    curl_easy_setopt(c, CURLOPT_OPENSOCKETDATA, &s);
    curl_easy_setopt(c, CURLOPT_FTP_USE_EPRT, 0L);
    curl_easy_setopt(c, CURLOPT_FTP_USE_EPSV, 0L);
    curl_easy_setopt(c, CURLOPT_FTP_USE_PRET, 0L);
    // Paths go onto the wire whole ("RETR /SHR/BOX/..."): no CWD, which one
    // of the device's dialects does not know.
    curl_easy_setopt(c, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
    curl_easy_setopt(c, CURLOPT_FTP_CREATE_MISSING_DIRS, 0L);
    // No SIZE before RETR: the transfer's end is judged by the server's reply.
    curl_easy_setopt(c, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
    // Ten seconds to connect, for each reply, for the server to connect back,
    // and of silence on a transfer.
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(NetworkTimeoutMs(kTimeoutMs)));
    curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, TimeoutSeconds());
    curl_easy_setopt(c, CURLOPT_ACCEPTTIMEOUT_MS, static_cast<long>(NetworkTimeoutMs(kTimeoutMs)));
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, TimeoutSeconds());
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &Impl::OnProgress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &s);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &Impl::OnHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &s);
    curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, &Impl::OnDebug);
    curl_easy_setopt(c, CURLOPT_DEBUGDATA, &s);

    s.ResetCall();
    s.SetCommon(s.baseUrl);
    curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
    s.UseNewPortPerTransfer();
    s.libType = Impl::kNone;
    s.wireType = Impl::kUnknown;
    uint32_t code = s.Perform(true);
    if (code == 0) s.PickDataPorts(kDataPorts);
    return code;
}

uint32_t FtpSession::Command(const std::string &text) {
    Impl &s = *impl_;
    if (!IsOneLine(text)) {
        SetLastError(vt::code(vt::Code::INVALID_NAME));
        return vt::code(vt::Code::INVALID_NAME);
    }
    s.ResetCall();
    s.SetCommon(s.baseUrl);
    // "*" lets a refused command end the call without closing the connection;
    // the refusal is judged from the reply below. libcurl does not send the "*".
    Slist quote = MakeList({"*" + text});
    curl_easy_setopt(s.curl, CURLOPT_QUOTE, quote.get());
    curl_easy_setopt(s.curl, CURLOPT_NOBODY, 1L);
    uint32_t code = s.Perform(false);
    curl_easy_setopt(s.curl, CURLOPT_QUOTE, nullptr);
    if (code == 0 && s.refusedCode != 0) {
        code = vt::code(vt::Code::SERVER_REFUSED);
        SetLastError(code);
    }
    return code;
}

uint32_t FtpSession::List(const std::string &text, std::string *data, size_t maxBytes) {
    Impl &s = *impl_;
    data->clear();
    if (!IsOneLine(text)) {
        SetLastError(vt::code(vt::Code::INVALID_NAME));
        return vt::code(vt::Code::INVALID_NAME);
    }
    s.ResetCall();
    s.SetCommon(s.baseUrl);
    s.listData = data;
    s.listLimit = maxBytes;
    curl_easy_setopt(s.curl, CURLOPT_CUSTOMREQUEST, text.c_str());
    curl_easy_setopt(s.curl, CURLOPT_VERBOSE, 1L);  // to the debug callback only
    uint32_t code = s.PerformTransfer('A', 'A');
    curl_easy_setopt(s.curl, CURLOPT_VERBOSE, 0L);
    curl_easy_setopt(s.curl, CURLOPT_CUSTOMREQUEST, nullptr);
    s.listData = nullptr;
    if (code != 0) data->clear();
    return code;
}

uint32_t FtpSession::Download(const std::string &remotePath, FtpType type, FtpSink &sink, uint64_t *bytes) {
    Impl &s = *impl_;
    s.ResetCall();
    if (remotePath.empty() || remotePath.back() == '/') {
        SetLastError(vt::code(vt::Code::INVALID_NAME));
        return vt::code(vt::Code::INVALID_NAME);
    }
    s.SetCommon(s.baseUrl + UrlPath(remotePath));
    s.sink = &sink;
    // libcurl sends the type itself (and only when it changes, as for the
    // listings, which are ASCII too). An ASCII download is taken as it arrived,
    // from the debug callback: libcurl rewrites the line ends of what it hands
    // to the write callback.
    const bool ascii = type == FtpType::Ascii;
    s.sinkRaw = ascii;
    curl_easy_setopt(s.curl, CURLOPT_TRANSFERTEXT, ascii ? 1L : 0L);
    curl_easy_setopt(s.curl, CURLOPT_VERBOSE, ascii ? 1L : 0L);
    curl_easy_setopt(s.curl, CURLOPT_WRITEFUNCTION, &Impl::OnWrite);
    uint32_t code = s.PerformTransfer(ascii ? 'A' : 'I', ascii ? 'A' : 'I');
    curl_easy_setopt(s.curl, CURLOPT_VERBOSE, 0L);
    curl_easy_setopt(s.curl, CURLOPT_TRANSFERTEXT, 0L);
    if (bytes) *bytes = s.sunk;
    s.sink = nullptr;
    s.sinkRaw = false;
    return code;
}

uint32_t FtpSession::Upload(const std::string &remotePath, FtpType type, FtpSource &source, uint64_t size) {
    Impl &s = *impl_;
    s.ResetCall();
    if (remotePath.empty() || remotePath.back() == '/') {
        SetLastError(vt::code(vt::Code::INVALID_NAME));
        return vt::code(vt::Code::INVALID_NAME);
    }
    s.SetCommon(s.baseUrl + UrlPath(remotePath));
    s.source = &source;
    // libcurl stays in binary mode so that it never rewrites line ends (it
    // would on an ASCII upload); the type the caller wants goes on the wire
    // just before STOR when the server is not in it already.
    curl_easy_setopt(s.curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(s.curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
    char wanted = type == FtpType::Ascii ? 'A' : 'I';
    // An empty file is the same in either type: it goes under the type the
    // server is in, so that a status file between two ASCII transfers costs
    // no TYPE before it and none after.
    if (size == 0) {
        char inForce = s.libType == 'I' ? s.wireType : s.libType == Impl::kUnknown ? Impl::kUnknown : 'I';
        if (inForce == 'A' || inForce == 'I') wanted = inForce;
    }
    uint32_t code = s.PerformTransfer('I', wanted);
    curl_easy_setopt(s.curl, CURLOPT_UPLOAD, 0L);
    s.source = nullptr;
    return code;
}

}  // namespace vtbox
