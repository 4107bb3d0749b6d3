// Opening and closing the session, the engine version, the exclusive mode and
// the temporary FTP account.
#include <cstring>

#include "boxcalls/box_call.hpp"
#include "session/boundary.hpp"
#include "session/report.hpp"
#include "session/version_check.hpp"
#include "vtplatform/diag.hpp"

using namespace vtbox;

namespace {

std::string Path(const char *page, const std::string &query) { return std::string(page) + query; }

// Closes the transport when the scope ends, whatever happened.
struct CloseOnExit {
    VTMFPSESSION *s;
    ~CloseOnExit() {
        CloseTransport(s);
        s->SessionId = 0;
    }
};

// The device's session number: decimal digits, not 0. Anything else is a bad
// reply, and the transport is closed at once (no number is known to close
// on the device, and 0 would leave handles in a record that reads closed).
uint32_t SessionNumber(VTMFPSESSION *s, const std::string &text) {
    size_t first = text.find_first_not_of(" \t\r\n");
    size_t last = text.find_last_not_of(" \t\r\n");
    std::string digits = first == std::string::npos ? "" : text.substr(first, last - first + 1);
    bool number = !digits.empty() && digits.size() <= 10 && digits.find_first_not_of("0123456789") == std::string::npos;
    uint64_t value = number ? std::stoull(digits) : 0;
    if (value == 0 || value > UINT32_MAX) {
        CloseTransport(s);
        s->SessionId = 0;
        Raise(vt::Code::BAD_FORMAT, "the device's WebSessionID \"" + text.substr(0, vt::Utf8PrefixLength(text, 40)) +
                                        "\" is not a session number");
    }
    return static_cast<uint32_t>(value);
}

}  // namespace

extern "C" {

uint32_t vtBoxOpenConnection(VTMFPSESSION *s) {
    for (const char *module : kLoggedModules) LogModuleVersion(module);
    OutputDebugStringA("vtBoxOpenConnection() called\n");
    return RunExport("vtBoxOpenConnection", s != nullptr, [&] {
        s->SessionId = 1;
        Check(ConnectToBoxService(s));
        GlobalBlock reply(SendBoxRequest(s, "/VaultraBox/boxnwConnect"));
        if (!reply) {
            // Nothing answered: the record is closed again, and a device that
            // cannot be reached says so as such.
            uint32_t rc = GetLastError();
            CloseTransport(s);
            s->SessionId = 0;
            if (rc == vt::code(vt::Code::NET_TIMEOUT) || rc == vt::code(vt::Code::CANNOT_CONNECT)) {
                rc = vt::code(vt::Code::DEVICE_NOT_AVAILABLE);
                RetagFailure(rc);
            }
            Raise(rc);
        }
        InternetOf(s)->SetTimeouts(kOpenTimeoutMs);
        std::string why;
        ReplyDocumentPtr doc = LoadReplyDocument(reply.get(), &why);
        if (!doc) Raise(vt::Code::INVALID_DATA, "the reply to /VaultraBox/boxnwConnect is refused: " + why);
        NodeText(*doc, "BoxNwLib/Header/Version");
        CheckBoxResult(NodeText(*doc, "BoxNwLib/Message/Result"));
        s->SessionId = SessionNumber(s, NodeText(*doc, "BoxNwLib/Message/SessionInfo/WebSessionID"));
        std::string version = NodeText(*doc, "BoxNwLib/Header/Version");
        VersionVerdict verdict = CheckEngineVersion(version);
        if (verdict != VersionVerdict::Supported) {
            vtBoxCloseConnection(s);
            Raise(RefuseEngineVersion(verdict, version));
        }
    });
}

uint32_t vtBoxCloseConnection(VTMFPSESSION *s) {
    return RunExport("vtBoxCloseConnection", SessionIsOpen(s), [&] {
        CloseOnExit closer{s};
        CallBox(s, vt::Format("/VaultraBox/boxnwDisconnect?SID=%08u", s->SessionId));
    });
}

uint32_t vtBoxGetEngineVersion(VTMFPSESSION *s, const char *password, VTENGVERSION *out) {
    return RunExport("vtBoxGetEngineVersion", SessionIsOpen(s) && out, [&] {
        std::string query = password ? vt::Format("?SID=%08u&PWD=%s", s->SessionId, QueryValue(password).c_str())
                                     : vt::Format("?SID=%08u&PWD=", s->SessionId);
        BoxReply r = CallBox(s, Path("/VaultraBox/Admin/boxnwGetEngineVersion", query));
        std::string version = NodeText(*r.doc, "BoxNwLib/Message/VersionInfo/EngineVersion");
        CopyField(out->EngineVersion, version);
        OutputDebugStringA(version.c_str());
        CopyField(out->MACAddress, NodeText(*r.doc, "BoxNwLib/Message/MACAddress"));
    });
}

uint32_t vtBoxLockUiJob(VTMFPSESSION *s, const char *password, uint32_t mode, uint32_t *deviceTime) {
    OutputDebugStringA("vtBoxLockUiJob() called\n");
    return RunExport("vtBoxLockUiJob", SessionIsOpen(s) && password && deviceTime, [&] {
        *deviceTime = 0;
        BoxReply r = CallBox(s, vt::Format("/VaultraBox/Admin/boxnwBoxExModeIn?SID=%08u&PWD=%s&MOD=%01u", s->SessionId,
                                           QueryValue(password).c_str(), mode));
        *deviceTime = NodeNumber(*r.doc, "BoxNwLib/Message/CurrentTime");
    });
}

uint32_t vtBoxUnlockUiJob(VTMFPSESSION *s, const char *password, uint32_t mode) {
    OutputDebugStringA("vtBoxUnlockUiJob() called\n");
    return RunExport("vtBoxUnlockUiJob", SessionIsOpen(s) && password, [&] {
        CallBox(s, vt::Format("/VaultraBox/Admin/boxnwBoxExModeOut?SID=%08u&PWD=%s&MOD=%01u", s->SessionId,
                              QueryValue(password).c_str(), mode));
    });
}

uint32_t vtBoxCreateFTPAccount(VTMFPSESSION *s, const char *password, char *loginName) {
    return RunExport("vtBoxCreateFTPAccount", SessionIsOpen(s) && password && loginName, [&] {
        BoxReply r = CallBox(s, vt::Format("/VaultraBox/Admin/boxnwCreateFTPAccount?SID=%08u&PWD=%s", s->SessionId,
                                           QueryValue(password).c_str()));
        std::string login = NodeText(*r.doc, "BoxNwLib/Message/LoginName");
        vt::CopyUtf8(loginName, 256, login);  // the caller's buffer holds 256 bytes
    });
}

uint32_t vtBoxDeleteFTPAccount(VTMFPSESSION *s, const char *password) {
    return RunExport("vtBoxDeleteFTPAccount", SessionIsOpen(s) && password, [&] {
        CallBox(s, vt::Format("/VaultraBox/Admin/boxnwDeleteFTPAccount?SID=%08u&PWD=%s", s->SessionId,
                              QueryValue(password).c_str()));
    });
}

}  // extern "C"

extern "C" uint32_t vtBoxSetRequestCancelEvent(VTMFPSESSION *s, HANDLE cancelEvent) {
    return RunExport("vtBoxSetRequestCancelEvent", SessionIsOpen(s) && InternetOf(s),
                     [&] { InternetOf(s)->requestCancel = cancelEvent; });
}
