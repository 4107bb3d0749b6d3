#include "failure_report.hpp"

#include <cstdio>

#include "json_output.hpp"
#include "reachability.hpp"
#include "text_output.hpp"
#include "vtresult.h"

namespace vtcli {

namespace {

std::string NextStep(uint32_t code, const std::string &detail, int exitCode, const Settings *s) {
    switch (exitCode) {
    case kExitWrongPassword:
        return "the device refused the administrator password: check --password-file, --password-command, "
               "VTBOX_PASSWORD or the configuration file";
    case kExitDeviceBusy:
        return "another job holds the device (the utility, another vtbox, or a job that was killed): wait for it "
               "to end; vtbox unlock releases what a killed vtbox on this computer left";
    case kExitUnreachable: {
        if (!s) return "check the device's address and that it is on";
        bool ftp = detail.find("FTP") != std::string::npos;
        uint32_t port = ftp ? s->ftpPort : s->port;
        Reach reach = ProbeDevice(s->host, port, 3000);
        if (ftp && reach != Reach::Accepts)
            return "the device's FTP server did not take the connection: " +
                   ReachText(reach, s->host, port, "the FTP server", "--ftp-port or VTBOX_FTP_PORT (default 21)");
        if (ftp)
            return "the connection to the device's FTP server at " + s->host + ":" + std::to_string(port) +
                   " broke off; try again";
        if (code == VTBOX_E_CONNECTION_ABORTED || code == VTBOX_E_CONNECTION_RESET)
            return "the connection to the device broke off; try again";
        return ReachText(reach, s->host, port, "the box web service", "--port or VTBOX_PORT (default 8080)");
    }
    case kExitLocalDisk:
        if (code == VTBOX_E_ACCESS_DENIED)
            return "you may not read or write there: check the owner and permissions of the file and of its folder "
                   "(temporary files go to TMPDIR, else /tmp)";
        return "the local disk is full or read-only: make room on it (temporary files go to TMPDIR, else /tmp), or "
               "use a folder on another disk";
    case kExitDamagedFile:
        if (code == VTBOX_E_DAMAGED_FILE)
            return "the backup file is damaged or no backup file: vtbox verify names what is wrong with it";
        break;
    default: break;
    }
    if (code == VTBOX_E_DEVICE_LIMIT)
        return "the device's limits (400 documents a level, 100 folders a box) would be passed: "
               "vtbox restore --dry-run shows where";
    if (code == VTBOX_E_NO_DEVICE_SPACE)
        return "the device has too little free space for the box: delete documents on the device first";
    return {};
}

}  // namespace

int ReportFailure(const std::string &what, uint32_t code, const std::string &detail, FailureSite site,
                  const Settings *settings) {
    PrintError(what, code, detail);
    NoteFailure(code, std::string(), detail.empty() ? what : what + ": " + detail);
    int exitCode = ExitCodeFor(code, site);
    std::string next = NextStep(code, detail, exitCode, settings);
    if (!next.empty()) std::fprintf(stderr, "vtbox: %s\n", PlainText(next).c_str());
    return exitCode;
}

int ReportProblem(const std::string &text, int exitCode) {
    // Problems name paths and names from files and the device.
    std::fprintf(stderr, "vtbox: %s\n", PlainText(text).c_str());
    NoteFailure(0, text, std::string());
    return exitCode;
}

}  // namespace vtcli
