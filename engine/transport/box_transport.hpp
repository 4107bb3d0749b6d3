// Requests to the device's box web service: one GET, one reply body.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "vtBoxBRD.h"
#include "vtplatform.h"

namespace vtbox {

// The session-wide transport state behind VTMFPSESSION::InternetHandle.
struct InternetSession {
    uint32_t connectTimeoutMs = 0;
    uint32_t receiveTimeoutMs = 0;
    uint32_t dataReceiveTimeoutMs = 0;
    // Ends every request of the session with 995 once signalled (not owned).
    // Read by each request as it starts, on whichever thread sends it.
    std::atomic<HANDLE> requestCancel{nullptr};

    void SetTimeouts(uint32_t ms) { connectTimeoutMs = receiveTimeoutMs = dataReceiveTimeoutMs = ms; }
};

// The connection behind VTMFPSESSION::ConnectHandle: where the box service is.
struct HttpConnection {
    InternetSession *session = nullptr;
    std::string host;
    uint16_t port = 0;
};

InternetSession *InternetOf(const VTMFPSESSION *s);
HttpConnection *ConnectionOf(const VTMFPSESSION *s);

// Closes and clears InternetHandle and ConnectHandle (each if set).
void CloseTransport(VTMFPSESSION *s);

// Opens the session's transport: fills InternetHandle and ConnectHandle.
// Returns 0, 2250 (this computer is set to work offline) or 12029.
uint32_t ConnectToBoxService(VTMFPSESSION *s);

// Sends one GET for path (page path plus query) and returns the reply body in
// a ReplyBuffer, a global block sized exactly to the body, which the caller
// frees with GlobalFree. On failure: null with the code as last error.
HGLOBAL SendBoxRequest(VTMFPSESSION *s, const std::string &path);

// A value as it goes into a query: every byte outside the unreserved set
// (letters, digits, "-", ".", "_", "~") percent-encoded, so that "&", "=",
// "%", "+", "#", blanks and UTF-8 text reach the device as typed.
std::string QueryValue(const std::string &value);

// The result code of an HTTP status (0 for success).
uint32_t MapHttpStatus(long status);

// The page's time-out class (milliseconds), chosen by substring.
uint32_t PageTimeoutMs(const std::string &path);

// The request log line for a request, with the password masked; empty for
// requests that are never logged.
std::string RequestLogLine(const VTMFPSESSION *s, const std::string &path);

// A request as a failure's detail names it: the page and its query up to the
// password, which is left out with everything after it
// ("/VaultraBox/Admin/boxnwGetBoxProperty?SID=00000001&BNO=002").
std::string RequestForDetail(const std::string &path);

// The session time-outs: until the connect reply, and after it.
inline constexpr uint32_t kOpeningTimeoutMs = 5000;
inline constexpr uint32_t kOpenTimeoutMs = 75000;

// How long the caller waits for a pending request before it tests the device
// again (30 s). Tests shorten it; it is not part of the exported interface.
uint32_t PollPeriodMs();
void SetPollPeriodMsForTesting(uint32_t ms);

// The registry value that says this computer works offline.
inline constexpr const char *kInternetSettingsKey = "Software\\vtbox\\Internet Settings";
inline constexpr const char *kOfflineValue = "GlobalUserOffline";

}  // namespace vtbox

namespace vtbox {

// Sends one GET and ignores the reply: the keep-alive touch of the web
// session. No log line, no polling. Ends early when *stop becomes true.
void SendKeepAliveRequest(const VTMFPSESSION *s, const std::string &path, const std::atomic<bool> *stop);

}  // namespace vtbox
