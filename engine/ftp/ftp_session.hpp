// One FTP control connection to the device, kept over a libcurl easy handle.
//
// The connection is made in active data mode (PORT only) and stays open from
// Open() until the object dies: every later call reuses it. Commands are sent
// as the caller's raw text. Every server reply is captured, so that the text
// of the last one can be logged and checked ("552 ...", "451 ...").
//
// Data connections: the transfers of a session listen in turn on a few local
// ports chosen after the login (kDataPorts, bound again with SO_REUSEADDR), so
// that a session of thousands of transfers neither runs out of local ports nor
// leaves one TIME_WAIT port per transfer behind. A server that cannot connect
// back to a port it used shortly before (425) turns the session to a new port
// for each transfer, and the transfer is made again.
//
// Transfer types: files are sent and fetched under "TYPE A" or "TYPE I" as the
// caller asks, and a TYPE command goes on the wire only when the type changes;
// an empty upload goes under whichever type is in force.
// Bytes are never converted on this side in either type: the device (and
// servers set up like it) transfer raw bytes under TYPE A, and the record and
// page files are binary. Listing data and ASCII downloads are taken as they
// arrived on the data connection, before libcurl's own line-end handling.
//
// Every call returns 0 or a Win32 result code and leaves that code as the
// thread's last error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vtbox {

struct FtpLogin {
    std::string host;
    uint16_t port = 21;
    std::string user;
    std::string password;
};

enum class FtpType { Ascii, Binary };

// Receives downloaded bytes; returns false (with errno set) to stop the transfer.
class FtpSink {
public:
    virtual ~FtpSink() = default;
    virtual bool Write(const char *data, size_t size) = 0;
};

// Supplies bytes to upload; returns the count read, 0 at the end, or -1 (with
// errno set) on a failed read.
class FtpSource {
public:
    virtual ~FtpSource() = default;
    virtual long long Read(char *buffer, size_t size) = 0;
};

// The bytes that this process's FTP downloads have brought in since the last
// reset, on every connection: a long operation resets it when it starts, and
// a caller reads it for its progress (vtBoxGetDownloadedBytes).
uint64_t DownloadedBytes();
void ResetDownloadedBytes();

class FtpSession {
public:
    // Raises 8 when no handle can be had.
    FtpSession();
    ~FtpSession();
    FtpSession(const FtpSession &) = delete;
    FtpSession &operator=(const FtpSession &) = delete;

    // Connects and logs in. 12014 when the server refuses the login; the
    // libcurl-derived code otherwise (12004, 12029, 12002, ...).
    uint32_t Open(const FtpLogin &login);

    // Sends one command that moves no data. A refusal (reply 4xx/5xx) gives
    // 12003, with the reply in LastResponse(); the connection stays usable.
    uint32_t Command(const std::string &text);

    // Sends a listing command (its full text) and collects the data, at most
    // maxBytes of it (more is 111).
    uint32_t List(const std::string &text, std::string *data, size_t maxBytes);

    // RETR of a remote path into sink; bytes counts what the sink accepted.
    uint32_t Download(const std::string &remotePath, FtpType type, FtpSink &sink, uint64_t *bytes);

    // STOR of size bytes from source to a remote path.
    uint32_t Upload(const std::string &remotePath, FtpType type, FtpSource &source, uint64_t size);

    // How many local ports the data connections of one session take in turn.
    static constexpr size_t kDataPorts = 32;

    // The text of the last complete reply (all its lines), and its code.
    const std::string &LastResponse() const;
    int LastReplyCode() const;

    // Why the last call failed, for a failure's detail, naming the command
    // it was (as "RETR /SHR/BOX/..."): "FTP 451 on RETR ..." when the server
    // refused, else what broke ("RETR ...: Connection reset by peer").
    std::string DescribeFailure(const std::string &command) const;
    // The errno of a failed local read or write in the last call, or 0.
    int LocalErrno() const;

    // The port that an FTP connection uses: 21, or $VTBOX_FTP_PORT when that
    // is a valid port number.
    static uint16_t DefaultPort();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vtbox
