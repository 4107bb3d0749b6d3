#include "ftp/ftp_session.hpp"

#include <curl/curl.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "session/result.hpp"
#include "session/waits.hpp"
#include "vtplatform.h"
#include "vtplatform/errors.hpp"

namespace vtbox {

namespace {

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
            Raise(vt::Code::NotEnoughMemory);
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
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
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
bool IsOneLine(const std::string &text) {
    return text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

}  // namespace

struct FtpSession::Impl {
    CURL *curl = nullptr;
    std::string base_url;  // "ftp://host:port/"
    char error_text[CURL_ERROR_SIZE] = {};

    // Replies: lines gather in `partial` until the final line of a reply.
    bool capturing = false;
    std::string partial;
    std::string last_reply;
    int last_code = 0;
    int open_code = 0;     // code of a reply still open ("ddd-")
    int refused_code = 0;  // first reply of 400 or more in the current call

    // Listing data, as it arrived.
    std::string *list_data = nullptr;
    size_t list_limit = 0;
    bool list_overflow = false;

    // Local side of a transfer: the errno of a failed read or write.
    int local_errno = 0;
    FtpSink *sink = nullptr;
    FtpSource *source = nullptr;
    uint64_t sunk = 0;

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
    bool starts_reply = partial.empty();
    if (partial.size() < kMaxReplyText) partial.append(line.substr(0, kMaxReplyText - partial.size()));

    // A reply is one line "ddd text", or lines from "ddd-text" to "ddd text"
    // with the same code.
    if (starts_reply && coded && line.size() > 3 && line[3] == '-') {
        open_code = code;
        return;
    }
    bool ends = coded && (line.size() == 3 || line[3] != '-') && (open_code == 0 || code == open_code);
    if (!ends) return;
    open_code = 0;
    last_code = code;
    last_reply.swap(partial);
    partial.clear();
    if (last_code >= 400 && refused_code == 0) refused_code = last_code;
}

int FtpSession::Impl::OnDebug(CURL *, curl_infotype type, char *data, size_t size, void *self) {
    // Listing data is taken here, as received: the write callback would see it
    // after libcurl has rewritten its line ends.
    auto *impl = static_cast<Impl *>(self);
    if (type != CURLINFO_DATA_IN || !impl->list_data) return 0;
    if (impl->list_data->size() + size > impl->list_limit) {
        impl->list_overflow = true;
        return 0;
    }
    impl->list_data->append(data, size);
    return 0;
}

size_t FtpSession::Impl::OnDiscard(char *, size_t size, size_t count, void *self) {
    auto *impl = static_cast<Impl *>(self);
    return impl->list_overflow ? 0 : size * count;
}

size_t FtpSession::Impl::OnWrite(char *data, size_t size, size_t count, void *self) {
    auto *impl = static_cast<Impl *>(self);
    size_t n = size * count;
    if (!impl->sink->Write(data, n)) {
        impl->local_errno = errno != 0 ? errno : EIO;
        return 0;
    }
    impl->sunk += n;
    return n;
}

size_t FtpSession::Impl::OnRead(char *buffer, size_t size, size_t count, void *self) {
    auto *impl = static_cast<Impl *>(self);
    long long n = impl->source->Read(buffer, size * count);
    if (n < 0) {
        impl->local_errno = errno != 0 ? errno : EIO;
        return CURL_READFUNC_ABORT;
    }
    return static_cast<size_t>(n);
}

void FtpSession::Impl::ResetCall() {
    partial.clear();
    open_code = 0;
    refused_code = 0;
    list_data = nullptr;
    list_overflow = false;
    local_errno = 0;
    sink = nullptr;
    source = nullptr;
    sunk = 0;
    error_text[0] = '\0';
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
    uint32_t code = MapResult(rc, opening);
    if (cancelled || rc == CURLE_OPERATION_TIMEDOUT || rc == CURLE_FTP_ACCEPT_TIMEOUT) broken = true;
    SetLastError(code);
    return code;
}

uint32_t FtpSession::Impl::MapResult(CURLcode rc, bool opening) const {
    using vt::Code;
    switch (rc) {
    case CURLE_OK:
        return 0;
    case CURLE_LOGIN_DENIED:
        return vt::code(Code::InternetIncorrectPassword);
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_FTP_ACCEPT_TIMEOUT:
        return vt::code(Code::InternetTimeout);
    case CURLE_OUT_OF_MEMORY:
        return vt::code(Code::NotEnoughMemory);
    case CURLE_URL_MALFORMAT:
        return vt::code(Code::InvalidName);
    case CURLE_COULDNT_RESOLVE_HOST:
        return vt::code(Code::InternetNameNotResolved);
    case CURLE_COULDNT_CONNECT:
        return vt::code(opening ? Code::InternetInternalError : Code::InternetCannotConnect);
    case CURLE_ABORTED_BY_CALLBACK:
        return vt::code(cancelled ? Code::OperationAborted : Code::InternetInternalError);
    case CURLE_WRITE_ERROR:
    case CURLE_READ_ERROR:
        if (list_overflow) return vt::code(Code::BufferOverflow);
        if (local_errno != 0) return vt::Win32FromErrno(local_errno);
        return vt::code(Code::InternalError);
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_FTP_ACCEPT_FAILED:
        // The server ended a transfer early (426, a closed data connection)
        // or the connection broke. A 4xx/5xx reply counts as a refusal.
        if (refused_code != 0 && rc == CURLE_PARTIAL_FILE && refused_code != 426)
            return vt::code(Code::InternetExtendedError);
        return vt::code(Code::InternetConnectionAborted);
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
        return vt::code(Code::InternetExtendedError);
    default:
        return vt::code(Code::InternetInternalError);
    }
}

FtpSession::FtpSession() : impl_(std::make_unique<Impl>()) {
    GlobalInit();
    impl_->curl = curl_easy_init();
    if (!impl_->curl) Raise(vt::Code::NotEnoughMemory);
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

const std::string &FtpSession::LastResponse() const { return impl_->last_reply; }
int FtpSession::LastReplyCode() const { return impl_->last_code; }
int FtpSession::LocalErrno() const { return impl_->local_errno; }

std::string FtpSession::DescribeFailure(const std::string &command) const {
    const Impl &s = *impl_;
    if (s.refused_code != 0) return "FTP " + std::to_string(s.refused_code) + " on " + command;
    if (s.list_overflow) return "the reply to " + command + " is too long";
    if (s.local_errno != 0) return command + ": " + std::strerror(s.local_errno) + " on this side";
    if (s.error_text[0] != '\0') return command + ": " + s.error_text;
    return command + " failed";
}

uint16_t FtpSession::DefaultPort() {
    const char *text = std::getenv("VTBOX_FTP_PORT");
    if (text && *text) {
        char *end = nullptr;
        errno = 0;
        unsigned long port = std::strtoul(text, &end, 10);
        if (errno == 0 && end && *end == '\0' && port >= 1 && port <= 65535)
            return static_cast<uint16_t>(port);
    }
    return 21;
}

uint32_t FtpSession::Open(const FtpLogin &login) {
    Impl &s = *impl_;
    if (login.host.empty() || !IsOneLine(login.host) || !IsOneLine(login.user) ||
        !IsOneLine(login.password) || login.host.find_first_of("/?#@ ") != std::string::npos) {
        SetLastError(vt::code(vt::Code::InvalidParameter));
        return vt::code(vt::Code::InvalidParameter);
    }
    std::string host = login.host.find(':') != std::string::npos ? "[" + login.host + "]" : login.host;
    s.base_url = "ftp://" + host + ":" + std::to_string(login.port) + "/";

    CURL *c = s.curl;
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, s.error_text);
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(c, CURLOPT_USERNAME, login.user.c_str());
    curl_easy_setopt(c, CURLOPT_PASSWORD, login.password.c_str());
    // One control connection for the object's life.
    curl_easy_setopt(c, CURLOPT_FORBID_REUSE, 0L);
    curl_easy_setopt(c, CURLOPT_FRESH_CONNECT, 0L);
    curl_easy_setopt(c, CURLOPT_MAXAGE_CONN, 24L * 3600L);
    // Active data mode: PORT with the control connection's own address.
    curl_easy_setopt(c, CURLOPT_FTPPORT, "-");
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
    s.SetCommon(s.base_url);
    curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
    return s.Perform(true);
}

uint32_t FtpSession::Command(const std::string &text) {
    Impl &s = *impl_;
    if (!IsOneLine(text)) {
        SetLastError(vt::code(vt::Code::InvalidName));
        return vt::code(vt::Code::InvalidName);
    }
    s.ResetCall();
    s.SetCommon(s.base_url);
    // "*" lets a refused command end the call without closing the connection;
    // the refusal is judged from the reply below. libcurl does not send the "*".
    Slist quote = MakeList({"*" + text});
    curl_easy_setopt(s.curl, CURLOPT_QUOTE, quote.get());
    curl_easy_setopt(s.curl, CURLOPT_NOBODY, 1L);
    uint32_t code = s.Perform(false);
    curl_easy_setopt(s.curl, CURLOPT_QUOTE, nullptr);
    if (code == 0 && s.refused_code != 0) {
        code = vt::code(vt::Code::InternetExtendedError);
        SetLastError(code);
    }
    return code;
}

uint32_t FtpSession::List(const std::string &text, std::string *data, size_t max_bytes) {
    Impl &s = *impl_;
    data->clear();
    if (!IsOneLine(text)) {
        SetLastError(vt::code(vt::Code::InvalidName));
        return vt::code(vt::Code::InvalidName);
    }
    s.ResetCall();
    s.SetCommon(s.base_url);
    s.list_data = data;
    s.list_limit = max_bytes;
    curl_easy_setopt(s.curl, CURLOPT_CUSTOMREQUEST, text.c_str());
    curl_easy_setopt(s.curl, CURLOPT_VERBOSE, 1L);  // to the debug callback only
    uint32_t code = s.Perform(false);
    curl_easy_setopt(s.curl, CURLOPT_VERBOSE, 0L);
    curl_easy_setopt(s.curl, CURLOPT_CUSTOMREQUEST, nullptr);
    s.list_data = nullptr;
    if (code != 0) data->clear();
    return code;
}

uint32_t FtpSession::Download(const std::string &remote_path, FtpType type, FtpSink &sink,
                              uint64_t *bytes) {
    Impl &s = *impl_;
    s.ResetCall();
    if (remote_path.empty() || remote_path.back() == '/') {
        SetLastError(vt::code(vt::Code::InvalidName));
        return vt::code(vt::Code::InvalidName);
    }
    s.SetCommon(s.base_url + UrlPath(remote_path));
    s.sink = &sink;
    // libcurl stays in binary mode so that it never rewrites line ends; the
    // type the caller wants is put on the wire just before RETR.
    Slist prequote = MakeList({type == FtpType::Ascii ? "TYPE A" : "TYPE I"});
    curl_easy_setopt(s.curl, CURLOPT_PREQUOTE, prequote.get());
    curl_easy_setopt(s.curl, CURLOPT_WRITEFUNCTION, &Impl::OnWrite);
    uint32_t code = s.Perform(false);
    curl_easy_setopt(s.curl, CURLOPT_PREQUOTE, nullptr);
    if (bytes) *bytes = s.sunk;
    s.sink = nullptr;
    return code;
}

uint32_t FtpSession::Upload(const std::string &remote_path, FtpType type, FtpSource &source,
                            uint64_t size) {
    Impl &s = *impl_;
    s.ResetCall();
    if (remote_path.empty() || remote_path.back() == '/') {
        SetLastError(vt::code(vt::Code::InvalidName));
        return vt::code(vt::Code::InvalidName);
    }
    s.SetCommon(s.base_url + UrlPath(remote_path));
    s.source = &source;
    Slist prequote = MakeList({type == FtpType::Ascii ? "TYPE A" : "TYPE I"});
    curl_easy_setopt(s.curl, CURLOPT_PREQUOTE, prequote.get());
    curl_easy_setopt(s.curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(s.curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
    uint32_t code = s.Perform(false);
    curl_easy_setopt(s.curl, CURLOPT_PREQUOTE, nullptr);
    curl_easy_setopt(s.curl, CURLOPT_UPLOAD, 0L);
    s.source = nullptr;
    return code;
}

}  // namespace vtbox
