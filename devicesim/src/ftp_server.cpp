#include "ftp_server.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace devicesim {

namespace {

constexpr size_t kMaxCommandLine = 4096;
constexpr int kControlTimeoutSeconds = 300;
constexpr int kDataTimeoutSeconds = 30;
constexpr int kDataConnectTimeoutMs = 10000;
// The receive buffer of a paced data connection: small, so that a paced
// upload backs up at the client, as on a LAN, instead of filling megabytes of
// loopback buffers at once.
constexpr int kPacedReceiveBuffer = 64 * 1024;

bool IEquals(const std::string &a, const char *b) { return ::strcasecmp(a.c_str(), b) == 0; }

std::string Upper(std::string s) {
    for (char &c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

struct StatInfo {
    bool exists = false;
    bool folder = false;
    bool file = false;
    uint64_t size = 0;
    int64_t mtime = 0;
};

StatInfo Stat(const fs::path &path) {
    StatInfo info;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return info;
    info.exists = true;
    info.folder = S_ISDIR(st.st_mode);
    info.file = S_ISREG(st.st_mode);
    info.size = static_cast<uint64_t>(st.st_size);
    info.mtime = st.st_mtime;
    return info;
}

}  // namespace

std::string RecordedLine(const std::string &line) {
    // Blanks before the word make the command unknown, not its argument harmless.
    const size_t word = std::min(line.find_first_not_of(" \t"), line.size());
    const size_t end = std::min(line.find_first_of(" \t", word), line.size());
    return IEquals(line.substr(word, end - word), "PASS") ? "PASS ****" : line;
}

std::string ListingLine(const std::string &name, bool folder, uint64_t size, int64_t mtime) {
    static const char *kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const time_t t = static_cast<time_t>(mtime);
    std::tm tm{};
    gmtime_r(&t, &tm);
    const time_t now = std::time(nullptr);
    char when[32];
    // Like ls: a time within half a year, otherwise the year.
    if (t > now - 180 * 86400 && t < now + 86400)
        std::snprintf(when, sizeof when, "%s %2d %02d:%02d", kMonths[tm.tm_mon % 12], tm.tm_mday, tm.tm_hour,
                      tm.tm_min);
    else
        std::snprintf(when, sizeof when, "%s %2d  %4d", kMonths[tm.tm_mon % 12], tm.tm_mday, tm.tm_year + 1900);
    char head[96];
    std::snprintf(head, sizeof head, "%s %3u %-8s %-8s %12llu %s ", folder ? "drwxr-xr-x" : "-rw-r--r--",
                  folder ? 2u : 1u, "vtbox", "vtbox", static_cast<unsigned long long>(size), when);
    return head + name;
}

bool ParsePortArgument(const std::string &argument, sockaddr_storage &target) {
    unsigned v[6];
    char tail = 0;
    if (std::sscanf(argument.c_str(), "%u,%u,%u,%u,%u,%u%c", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &tail) != 6)
        return false;
    for (unsigned x : v)
        if (x > 255) return false;
    target = {};
    auto *in = reinterpret_cast<sockaddr_in *>(&target);
    in->sin_family = AF_INET;
    in->sin_addr.s_addr = htonl((v[0] << 24) | (v[1] << 16) | (v[2] << 8) | v[3]);
    in->sin_port = htons(static_cast<uint16_t>((v[4] << 8) | v[5]));
    return in->sin_port != 0;
}

bool ParseEprtArgument(const std::string &argument, sockaddr_storage &target) {
    // |family|address|port|, with any printable delimiter.
    if (argument.size() < 7) return false;
    const char d = argument[0];
    std::vector<std::string> parts;
    size_t pos = 1;
    for (int i = 0; i < 3; ++i) {
        size_t next = argument.find(d, pos);
        if (next == std::string::npos) return false;
        parts.push_back(argument.substr(pos, next - pos));
        pos = next + 1;
    }
    if (pos != argument.size() || parts[2].empty() || parts[2].size() > 5) return false;
    unsigned port = 0;
    for (char c : parts[2]) {
        if (c < '0' || c > '9') return false;
        port = port * 10 + static_cast<unsigned>(c - '0');
    }
    if (port == 0 || port > 65535) return false;
    target = {};
    if (parts[0] == "1") {
        auto *in = reinterpret_cast<sockaddr_in *>(&target);
        in->sin_family = AF_INET;
        in->sin_port = htons(static_cast<uint16_t>(port));
        return ::inet_pton(AF_INET, parts[1].c_str(), &in->sin_addr) == 1;
    }
    if (parts[0] == "2") {
        auto *in6 = reinterpret_cast<sockaddr_in6 *>(&target);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(static_cast<uint16_t>(port));
        return ::inet_pton(AF_INET6, parts[1].c_str(), &in6->sin6_addr) == 1;
    }
    return false;
}

// The freezes a data transfer honours: one set to start part-way through
// this transfer, and any freeze of the FTP server while it runs.
class TransferGate {
public:
    explicit TransferGate(Faults &faults) : faults_(faults), start_(faults.TakeTransferFreeze()) {}
    // How many bytes may move, `done` bytes into the transfer, before it stalls.
    uint64_t Room(uint64_t done) const {
        if (!start_ || started_) return UINT64_MAX;
        return start_->afterBytes > done ? start_->afterBytes - done : 0;
    }
    // After bytes moved: starts the freeze at its point and waits while the
    // FTP server is frozen. False when the device is stopping.
    bool Pass(uint64_t done) {
        if (start_ && !started_ && done >= start_->afterBytes) {
            started_ = true;
            faults_.Freeze(start_->scope, start_->seconds);
        }
        return faults_.WaitWhileFrozen(false);
    }

private:
    Faults &faults_;
    std::optional<TransferFreeze> start_;
    bool started_ = false;
};

// A data connection, holding its place among those the LAN model allows at once.
class DataConnection {
public:
    DataConnection() = default;
    // Holds a place taken with LanState::OpenData; gives it back when reset.
    explicit DataConnection(LanState &lan) : lan_(&lan) {}
    DataConnection(DataConnection &&other) noexcept : fd_(std::move(other.fd_)), lan_(other.lan_) {
        other.lan_ = nullptr;
    }
    DataConnection &operator=(DataConnection &&) = delete;
    ~DataConnection() { Reset(); }
    void Attach(Fd fd) { fd_ = std::move(fd); }
    bool Valid() const { return fd_.Valid(); }
    int Get() const { return fd_.Get(); }
    void Reset() {
        fd_.Reset();
        if (lan_) lan_->CloseData();
        lan_ = nullptr;
    }

private:
    Fd fd_;
    LanState *lan_ = nullptr;
};

// One control connection.
class FtpServer::Session {
public:
    Session(FtpServer &server, int fd, const sockaddr_storage &peer) : s_(server), fd_(fd), peer_(peer), reader_(fd) {}
    void Run();

private:
    // A frozen server holds its replies back; a device on a LAN answers after its latency.
    bool Reply(const std::string &line) {
        return s_.faults_.WaitWhileFrozen(false) && s_.lan_.Delay(s_.faults_) && SendAll(fd_, line + "\r\n");
    }
    // False ends the session.
    bool Dispatch(const std::string &verb, const std::string &argument);
    std::optional<fs::path> Resolve(const std::string &argument, std::string *virtualPath = nullptr);
    // The data connection to the address PORT or EPRT gave, or an invalid one
    // after the refusal (425) has been sent.
    DataConnection OpenData();
    void List(const std::string &argument);
    void Retrieve(const std::string &argument);
    void Store(const std::string &argument);
    void MakeFolder(const std::string &argument);
    void RemoveFolder(const std::string &argument);
    void ChangeFolder(const std::string &argument);
    void DeleteFile(const std::string &argument);
    void SetPort(const std::string &argument, bool extended);
    // Sends bytes on the data connection, `sent` bytes into the transfer, at
    // the pacer's rate, honouring a drop at byte `dropAfter` and the freezes.
    // False when dropped or failed.
    bool SendData(int dataFd, const char *bytes, size_t size, uint64_t &sent, std::optional<uint64_t> dropAfter,
                  TransferGate &gate, Pacer &pacer);

    FtpServer &s_;
    int fd_;
    sockaddr_storage peer_;
    LineReader reader_;
    std::string user_;
    bool loggedIn_ = false;
    std::string cwd_ = "/";
    std::optional<sockaddr_storage> dataTarget_;
};

void FtpServer::Session::Run() {
    SetReceiveTimeout(fd_, kControlTimeoutSeconds);
    if (!Reply("220 Box FTP service ready.")) return;
    std::string line;
    while (!s_.stop_) {
        auto status = reader_.ReadLine(line, kMaxCommandLine);
        if (status == LineReader::Status::Closed) return;
        // A frozen server reads nothing: the command waits until the freeze ends.
        if (!s_.faults_.WaitWhileFrozen(false)) return;
        if (status == LineReader::Status::TooLong) {
            if (!Reply("500 Command line too long.")) return;
            continue;
        }
        const size_t sp = line.find(' ');
        const std::string verb = line.substr(0, sp);
        const std::string argument = sp == std::string::npos ? "" : line.substr(sp + 1);
        s_.recorder_.Ftp(RecordedLine(line));
        if (s_.faults_.TakeCommandFreeze(verb) && !s_.faults_.WaitWhileFrozen(false)) return;
        if (!Dispatch(verb, argument)) return;
    }
}

bool FtpServer::Session::Dispatch(const std::string &verb, const std::string &arg) {
    const FtpDialect &d = s_.dialect_;
    const std::string v = Upper(verb);
    if (v == "QUIT") {
        Reply("221 Goodbye.");
        return false;
    }
    if (v == "USER") {
        user_ = arg;
        loggedIn_ = false;
        return Reply("331 Password required for " + arg + ".");
    }
    if (v == "PASS") {
        if (user_.empty()) return Reply("503 Login with USER first.");
        if (s_.faults_.TakeLoginRefusal() || !s_.state_.FtpLoginAllowed(user_) || arg != s_.options_.password) {
            loggedIn_ = false;
            return Reply("530 Login incorrect.");
        }
        loggedIn_ = true;
        return Reply("230 User logged in.");
    }
    if (v == "NOOP") return Reply("200 NOOP ok.");
    if (v == "SYST") return Reply("215 UNIX Type: L8");

    static const char *kCommon[] = {"PWD",  "XPWD", "TYPE", "MODE", "STRU", "PORT",
                                    "EPRT", "PASV", "EPSV", "RETR", "STOR", "SIZE"};
    const bool common = std::any_of(std::begin(kCommon), std::end(kCommon), [&](const char *c) { return v == c; });
    const bool dialect = IEquals(verb, d.list) || IEquals(verb, d.makeFolder) || IEquals(verb, d.removeFolder) ||
                         IEquals(verb, d.changeFolder) || IEquals(verb, d.deleteFile) ||
                         (&d == &kListDialect && v == "CDUP");
    if (!common && !dialect) return Reply("500 Unknown command.");
    if (!loggedIn_) return Reply("530 Please login with USER and PASS.");

    if (v == "PWD" || v == "XPWD") return Reply("257 \"" + cwd_ + "\" is the current directory.");
    if (v == "TYPE") {
        // Like the device: the type is accepted and transfers stay raw bytes.
        const std::string t = Upper(arg);
        if (t == "A" || t == "I" || t == "A N" || t == "L 8") return Reply("200 Type set to " + t + ".");
        return Reply("504 Type not supported.");
    }
    if (v == "MODE") return Reply(Upper(arg) == "S" ? "200 Mode set to S." : "504 Mode not supported.");
    if (v == "STRU") return Reply(Upper(arg) == "F" ? "200 Structure set to F." : "504 Structure not supported.");
    if (v == "PORT" || v == "EPRT") {
        SetPort(arg, v == "EPRT");
        return true;
    }
    if (v == "PASV" || v == "EPSV") return Reply("502 Passive mode not supported; use PORT.");
    if (v == "SIZE") {
        auto local = Resolve(arg);
        StatInfo info = local ? Stat(*local) : StatInfo{};
        return Reply(info.file ? "213 " + std::to_string(info.size) : "550 Could not get file size.");
    }
    if (v == "RETR")
        Retrieve(arg);
    else if (v == "STOR")
        Store(arg);
    else if (IEquals(verb, d.list))
        List(arg);
    else if (IEquals(verb, d.makeFolder))
        MakeFolder(arg);
    else if (IEquals(verb, d.removeFolder))
        RemoveFolder(arg);
    else if (IEquals(verb, d.changeFolder))
        ChangeFolder(arg);
    else if (v == "CDUP")
        ChangeFolder("..");
    else if (IEquals(verb, d.deleteFile))
        DeleteFile(arg);
    return true;
}

std::optional<fs::path> FtpServer::Session::Resolve(const std::string &argument, std::string *virtualPath) {
    auto normal = Store::NormalizeVirtual(cwd_, argument);
    if (!normal) return std::nullopt;
    if (virtualPath) *virtualPath = *normal;
    return s_.store_.ToLocal(*normal);
}

void FtpServer::Session::SetPort(const std::string &argument, bool extended) {
    sockaddr_storage target{};
    if (!(extended ? ParseEprtArgument(argument, target) : ParsePortArgument(argument, target))) {
        Reply("501 Illegal " + std::string(extended ? "EPRT" : "PORT") + " command.");
        return;
    }
    // Data connections go back to the client's own host only (no bounce).
    if (!SameHost(target, peer_)) {
        Reply("500 Illegal PORT command: address is not the client's.");
        return;
    }
    dataTarget_ = target;
    Reply(std::string("200 ") + (extended ? "EPRT" : "PORT") + " command successful.");
}

DataConnection FtpServer::Session::OpenData() {
    if (!dataTarget_) {
        Reply("425 Use PORT or EPRT first.");
        return {};
    }
    // An embedded server with all its data connections in use refuses at once.
    if (!s_.lan_.OpenData()) {
        dataTarget_.reset();
        Reply("425 Can't open data connection.");
        return {};
    }
    DataConnection data(s_.lan_);  // the place goes back with every refusal below
    const sockaddr_storage &target = *dataTarget_;
    const uint16_t port = ntohs(target.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6 &>(target).sin6_port
                                                             : reinterpret_cast<const sockaddr_in &>(target).sin_port);
    if (s_.faults_.TakeReusedPortRefusal(port)) {
        dataTarget_.reset();
        Reply("425 Can't open data connection.");
        return {};
    }
    Fd fd = ConnectTcp(*dataTarget_, kDataConnectTimeoutMs, s_.lan_.Get().rateKbps != 0 ? kPacedReceiveBuffer : 0);
    dataTarget_.reset();
    if (!fd.Valid()) {
        Reply("425 Can't open data connection.");
        return {};
    }
    SetReceiveTimeout(fd.Get(), kDataTimeoutSeconds);
    data.Attach(std::move(fd));
    return data;
}

bool FtpServer::Session::SendData(int dataFd, const char *bytes, size_t size, uint64_t &sent,
                                  std::optional<uint64_t> dropAfter, TransferGate &gate, Pacer &pacer) {
    for (size_t off = 0; off < size;) {
        uint64_t piece = std::min<uint64_t>({size - off, gate.Room(sent), pacer.Piece()});
        if (dropAfter) piece = std::min(piece, *dropAfter > sent ? *dropAfter - sent : 0);
        if (!pacer.Pace(piece) || !SendAll(dataFd, bytes + off, static_cast<size_t>(piece))) return false;
        off += static_cast<size_t>(piece);
        sent += piece;
        if (dropAfter && sent >= *dropAfter) return false;
        if (!gate.Pass(sent)) return false;
    }
    return true;
}

void FtpServer::Session::List(const std::string &argument) {
    // Option words such as "-l" or "-a" before the path are skipped.
    std::string path = argument;
    while (path.size() > 1 && path[0] == '-') {
        size_t sp = path.find(' ');
        path = sp == std::string::npos ? "" : path.substr(sp + 1);
    }
    auto local = Resolve(path);
    StatInfo target = local ? Stat(*local) : StatInfo{};
    if (!target.exists || (!target.folder && !target.file)) {
        Reply("550 No such file or directory.");
        return;
    }
    struct Item {
        std::string name;
        StatInfo info;
    };
    std::vector<Item> items;
    if (target.folder) {
        std::error_code ec;
        for (fs::directory_iterator it(*local, ec), end; !ec && it != end; it.increment(ec)) {
            StatInfo info = Stat(it->path());
            if (info.folder || info.file) items.push_back({it->path().filename().string(), info});
        }
        std::sort(items.begin(), items.end(), [](const Item &a, const Item &b) { return a.name < b.name; });
    } else {
        items.push_back({local->filename().string(), target});
    }
    const char *eol = s_.options_.listingCrLf ? "\r\n" : "\n";
    uint64_t kb = 0;
    for (const auto &i : items) kb += (i.info.size + 1023) / 1024;
    std::string text = "total " + std::to_string(kb) + eol;
    for (const auto &i : items) text += ListingLine(i.name, i.info.folder, i.info.size, i.info.mtime) + eol;

    DataConnection data = OpenData();
    if (!data.Valid()) return;
    s_.connections_.Track(data.Get());
    Reply("150 Here comes the directory listing.");
    const std::optional<uint64_t> drop = s_.faults_.TakeDataDrop(text.size());
    TransferGate gate(s_.faults_);
    Pacer pacer(s_.faults_, s_.lan_.Get().rateKbps);
    uint64_t sent = 0;
    // A listing shorter than the cut is still a dropped transfer.
    const bool ok = SendData(data.Get(), text.data(), text.size(), sent, drop, gate, pacer) && !drop;
    s_.connections_.Untrack(data.Get());
    data.Reset();
    Reply(ok ? "226 Directory send OK." : "426 Connection closed; transfer aborted.");
}

void FtpServer::Session::Retrieve(const std::string &argument) {
    auto local = Resolve(argument);
    StatInfo info = local ? Stat(*local) : StatInfo{};
    if (!info.file) {
        Reply("550 Failed to open file.");
        return;
    }
    Fd file(::open(local->c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!file.Valid()) {
        Reply("550 Failed to open file.");
        return;
    }
    DataConnection data = OpenData();
    if (!data.Valid()) return;
    s_.connections_.Track(data.Get());
    Reply("150 Opening BINARY mode data connection for " + local->filename().string() + " (" +
          std::to_string(info.size) + " bytes).");
    const std::optional<uint64_t> drop = s_.faults_.TakeDataDrop(info.size);
    TransferGate gate(s_.faults_);
    Pacer pacer(s_.faults_, s_.lan_.Get().rateKbps);
    uint64_t sent = 0;
    bool ok = true;
    std::vector<char> buf(kDataBlock);
    while (ok) {
        ssize_t n = ::read(file.Get(), buf.data(), buf.size());
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        ok = SendData(data.Get(), buf.data(), static_cast<size_t>(n), sent, drop, gate, pacer);
    }
    if (drop && ok) ok = false;  // an empty file or one shorter than the cut: still a dropped transfer
    s_.connections_.Untrack(data.Get());
    data.Reset();
    Reply(ok ? "226 Transfer complete." : "426 Connection closed; transfer aborted.");
}

void FtpServer::Session::Store(const std::string &argument) {
    if (auto code = s_.faults_.TakeStorFailure()) {
        Reply(*code == 451 ? "451 Requested action aborted: local error in processing."
                           : "552 Requested file action aborted.");
        return;
    }
    auto local = Resolve(argument);
    if (!local || argument.empty()) {
        Reply("553 Could not create file.");
        return;
    }
    StatInfo parent = Stat(local->parent_path());
    StatInfo existing = Stat(*local);
    if (!parent.folder || existing.folder || (existing.exists && !existing.file)) {
        Reply("553 Could not create file.");
        return;
    }
    Fd file(::open(local->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!file.Valid()) {
        Reply("553 Could not create file.");
        return;
    }
    DataConnection data = OpenData();
    if (!data.Valid()) {
        file.Reset();
        if (!existing.exists) ::unlink(local->c_str());
        return;
    }
    s_.connections_.Track(data.Get());
    Reply("150 Ok to send data.");
    // The size of an upload is unknown up front: a drop without a byte count cuts after 1 KB.
    const std::optional<uint64_t> drop = s_.faults_.TakeDataDrop(2048);
    TransferGate gate(s_.faults_);
    Pacer pacer(s_.faults_, s_.lan_.Get().rateKbps);
    uint64_t received = 0;
    bool ok = true;
    std::vector<char> buf(kDataBlock);
    for (;;) {
        // A freeze stops the reading: the client's sends back up and stall.
        if (!gate.Pass(received)) {
            ok = false;
            break;
        }
        const size_t room = static_cast<size_t>(std::min<uint64_t>({buf.size(), gate.Room(received), pacer.Piece()}));
        ssize_t n = ::recv(data.Get(), buf.data(), room, 0);
        if (n < 0) {
            ok = false;  // time-out or reset: the upload did not end cleanly
            break;
        }
        if (n == 0) break;
        size_t chunk = static_cast<size_t>(n);
        if (drop && received + chunk >= *drop) chunk = static_cast<size_t>(*drop - received);
        if (chunk > 0 && ::write(file.Get(), buf.data(), chunk) != static_cast<ssize_t>(chunk)) {
            ok = false;
            break;
        }
        received += chunk;
        if (drop && received >= *drop) break;
        // Paced after the read: the next read waits, the client's sends back up.
        if (!pacer.Pace(static_cast<uint64_t>(n))) {
            ok = false;
            break;
        }
    }
    if (drop || s_.stop_) ok = false;  // a device going down mid-upload does not keep it
    s_.connections_.Untrack(data.Get());
    data.Reset();
    file.Reset();
    if (!ok) {
        // An aborted upload leaves no half file behind.
        ::unlink(local->c_str());
        Reply("426 Connection closed; transfer aborted.");
        return;
    }
    Reply("226 Transfer complete.");
}

void FtpServer::Session::MakeFolder(const std::string &argument) {
    std::string virt;
    auto local = Resolve(argument, &virt);
    if (s_.faults_.TakeFolderCreationRefusal() || !local || argument.empty() || virt == "/") {
        Reply("550 Create directory operation failed.");
        return;
    }
    std::error_code ec;
    if (!Stat(local->parent_path()).folder || !fs::create_directory(*local, ec) || ec) {
        Reply("550 Create directory operation failed.");
        return;
    }
    Reply("257 \"" + virt + "\" created.");
}

void FtpServer::Session::RemoveFolder(const std::string &argument) {
    std::string virt;
    auto local = Resolve(argument, &virt);
    if (s_.faults_.TakeDeletionRefusal() || !local || argument.empty() || virt == "/" || !Stat(*local).folder ||
        ::rmdir(local->c_str()) != 0) {
        Reply("550 Remove directory operation failed.");
        return;
    }
    Reply("250 Remove directory operation successful.");
}

void FtpServer::Session::ChangeFolder(const std::string &argument) {
    std::string virt;
    auto local = Resolve(argument, &virt);
    if (!local || !Stat(*local).folder) {
        Reply("550 Failed to change directory.");
        return;
    }
    cwd_ = virt;
    Reply("250 Directory successfully changed.");
}

void FtpServer::Session::DeleteFile(const std::string &argument) {
    auto local = Resolve(argument);
    if (s_.faults_.TakeDeletionRefusal() || !local || !Stat(*local).file || ::unlink(local->c_str()) != 0) {
        Reply("550 Delete operation failed.");
        return;
    }
    Reply("250 Delete operation successful.");
}

FtpServer::FtpServer(const DeviceOptions &options, Store &store, DeviceState &state, Faults &faults, Recorder &recorder,
                     LanState &lan)
    : options_(options), store_(store), state_(state), faults_(faults), recorder_(recorder), lan_(lan),
      dialect_(options.engineVersion == kShellDialectVersion ? kShellDialect : kListDialect) {}

void FtpServer::Start() {
    listen_ = ListenTcp(options_.address, options_.ftpPort);
    port_ = LocalPort(listen_.Get());
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

void FtpServer::Stop() {
    stop_ = true;
    if (acceptThread_.joinable()) acceptThread_.join();
    listen_.Reset();
    connections_.Stop();
}

void FtpServer::AcceptLoop() {
    while (!stop_) {
        sockaddr_storage peer{};
        Fd client = AcceptWithTimeout(listen_.Get(), 50, &peer);
        if (!client.Valid()) continue;
        connections_.Spawn(std::move(client), [this, peer](int fd) { ServeConnection(fd, peer); });
    }
}

void FtpServer::ServeConnection(int fd, const sockaddr_storage &peer) {
    Session session(*this, fd, peer);
    session.Run();
}

}  // namespace devicesim
