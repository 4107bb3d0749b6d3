#include "failure_report.hpp"

#include <cstdio>

#include "json_output.hpp"
#include "reachability.hpp"
#include "text_output.hpp"
#include "vtresult.h"

namespace vtcli {

namespace {

// The reply of the device's FTP server that a failure's detail names
// ("FTP 553 on STOR ..."), 0 when it names none.
int FtpReplyOf(const std::string &detail) {
    for (size_t at = detail.find("FTP "); at != std::string::npos; at = detail.find("FTP ", at + 1)) {
        const std::string digits = detail.substr(at + 4, 3);
        if (digits.size() == 3 && digits.find_first_not_of("0123456789") == std::string::npos &&
            detail.compare(at + 7, 4, " on ") == 0)
            return std::stoi(digits);
    }
    return 0;
}

// What the device's FTP server said by a refusal, and what to do about it.
std::string FtpReplyAdvice(int reply) {
    const std::string server = "the device's FTP server ";
    switch (reply) {
    case 421: return server + "closed the session (421): the device may be restarting or busy; try again later";
    case 425:
        return server +
               "could not open a data connection (425): a firewall between here and the device may stop the "
               "connections it makes back; try again";
    case 426: return server + "cut a transfer off (426): try again";
    case 450: return server + "could not reach a file just then (450): try again later";
    case 451:
        return server +
               "could not store a file because of an error of its own (451): this is no limit of the box; "
               "try again later, and if it recurs, look at the device";
    case 452:
    case 552:
        return server + "had no room for a file (" + std::to_string(reply) + "): delete documents on the device first";
    case 530: return server + "refused the job's login (530): another job may have ended the FTP account; try again";
    case 550: return server + "refused the command (550): no such file or folder, or no access to it";
    case 553:
        return server +
               "could not create the file there (553): a folder it belongs in is missing, as when the "
               "device refused to make it; try again, and if it recurs, look at the device";
    default: return server + "refused the command (" + std::to_string(reply) + ")";
    }
}

std::string NextStep(uint32_t code, const std::string &detail, int exitCode, const Settings *s) {
    // A refusal from the FTP server: its reply says what went wrong.
    if (code == VTBOX_E_SERVER_REFUSED || code == VTBOX_E_DEVICE_LIMIT)
        if (int reply = FtpReplyOf(detail)) return FtpReplyAdvice(reply);
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
