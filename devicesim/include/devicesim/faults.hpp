// Faults that tests switch on, in-process through this class or on the
// running program through the control page (devicesim/README.md).
// Thread-safe; every call may come from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace devicesim {

// `times` argument: how many requests a fault hits before it clears itself.
inline constexpr int kAlways = -1;

// What a freeze stops: the box web service, the FTP server, or both.
enum class FreezeScope { Web, Ftp, Device };

// A freeze that starts part-way through a data transfer.
struct TransferFreeze {
    FreezeScope scope = FreezeScope::Ftp;
    uint64_t afterBytes = 0;  // bytes of the transfer moved before it stalls
    unsigned seconds = 0;     // 0: until Thaw()
};

// What the box web service must do with one request, taken from the faults.
struct PageFaultAction {
    std::optional<int> result;              // reply with this Result instead of doing the page
    std::optional<int> httpStatus;          // reply with this HTTP status instead
    bool malformed = false;                 // do the page, then send a broken XML document
    unsigned delaySeconds = 0;              // wait before answering
    std::optional<unsigned> silentSeconds;  // go silent now, leaving this request unanswered
};

class Faults {
public:
    // Box web service. `page` is the last component of the page path
    // ("boxnwGetBoxList", "boxnwConnect", "vtb.asp"); "*" hits every page.
    void ForceResult(const std::string &page, int result, int times = kAlways);
    void ForceHttpStatus(const std::string &page, int status, int times = kAlways);
    void MalformedReply(const std::string &page, int times = kAlways);
    void DelayReply(const std::string &page, unsigned seconds, int times = kAlways);
    // The device goes silent: the web service stops accepting connections and
    // leaves requests in flight unanswered, for `seconds` (0: until Resume()).
    // Requests held over the silence are closed without an answer afterwards.
    void GoSilent(unsigned seconds);
    // The same, starting when the next request for `page` arrives.
    void GoSilentOn(const std::string &page, unsigned seconds);
    void Resume();

    // A freeze, as of a stopped process: connections are still accepted (the
    // kernel would complete them), but nothing is read or answered and data
    // transfers in flight stall, for `seconds` (0: until Thaw()). When it ends
    // the device goes on where it stopped. The control page keeps answering.
    void Freeze(FreezeScope scope, unsigned seconds);
    // The same, starting when the nth data transfer (RETR, STOR or listing)
    // from now has moved `afterBytes` bytes. Freezes set one after another
    // each wait for their own transfer.
    void FreezeInTransfer(FreezeScope scope, unsigned nth, uint64_t afterBytes, unsigned seconds);
    // The same, starting when the next request for `page` arrives ("*": any);
    // that request stays unanswered until the freeze ends.
    void FreezeOn(const std::string &page, FreezeScope scope, unsigned seconds);
    // The same, starting when the next FTP command with this verb arrives
    // ("MKD", "PASS", "dele": either dialect, any case); that command stays
    // unanswered until the freeze ends.
    void FreezeOnCommand(const std::string &verb, FreezeScope scope, unsigned seconds);
    // Ends a freeze, and drops the freezes still waiting for their start.
    void Thaw();

    // The moment right after what a page did: a fault that starts once a
    // request for `page` ("*": any) has been answered, its reply sent. A freeze
    // as Freeze sets it; a drop as DropDataConnection sets it, its count of
    // transfers starting then. Each starts once.
    void FreezeAfter(const std::string &page, FreezeScope scope, unsigned seconds);
    void DropDataConnectionAfter(const std::string &page, unsigned nth = 1,
                                 std::optional<uint64_t> afterBytes = std::nullopt);

    // FTP. The counters start when the fault is set.
    // The nth data transfer (RETR, STOR or listing) from now is cut after
    // `afterBytes` bytes (nullopt: after half of the file) and answered with 426.
    void DropDataConnection(unsigned nth = 1, std::optional<uint64_t> afterBytes = std::nullopt);
    // The nth STOR from now is refused with "552 Requested file action aborted."
    // (code 552) or "451 Requested action aborted: local error in processing."
    // (code 451); with `always`, every STOR from the nth on.
    void FailStor(int code, unsigned nth = 1, bool always = false);
    // Like a server that connects from one fixed port and keeps its side of
    // each data connection in TIME_WAIT: a PORT naming a client port that a data
    // connection went to before is answered with 425 at the transfer.
    void RefuseReusedDataPorts(bool on = true);
    void RefuseLogin(int times = kAlways);
    void RefuseFolderCreation(int times = kAlways);
    // File deletion and folder removal (either dialect's words) answered with 550.
    void RefuseDeletion(int times = kAlways);

    // The disk space page reports this availability (KB) instead of capacity - used.
    void SetLowDisk(uint32_t availableKb);

    // The folder and document lists (boxnwGetFolderDocList) at every level
    // leave out the entry of this kind ('F' or 'D') and number, though it is
    // in the store, or give it twice.
    void LeaveOutOfLists(char letter, unsigned number);
    void RepeatInLists(char letter, unsigned number);

    // Clears every fault and ends a silence and a freeze.
    void Clear();

    // ---- used by the servers ----
    // Also starts a freeze set with FreezeOn for this page.
    PageFaultAction TakePageFaults(const std::string &page);
    // A request for this page has been answered: starts what FreezeAfter and
    // DropDataConnectionAfter set for it.
    void PageAnswered(const std::string &page);
    bool Silent();
    // Waits while the device is silent; false when the device is stopping.
    bool WaitWhileSilent();
    // Sleeps, waking early when the device stops; false when stopping.
    bool Sleep(unsigned seconds);
    bool SleepUntil(std::chrono::steady_clock::time_point until);
    // Waits while the web service (web true) or the FTP server is frozen;
    // false when the device is stopping.
    bool WaitWhileFrozen(bool web);
    bool Frozen(bool web);
    std::optional<TransferFreeze> TakeTransferFreeze();
    std::optional<uint64_t> TakeDataDrop(uint64_t transferSize);
    std::optional<int> TakeStorFailure();
    // Notes a data connection to `port`; true when it must be refused.
    bool TakeReusedPortRefusal(uint16_t port);
    // Starts a freeze set for this FTP verb; true when one started.
    bool TakeCommandFreeze(const std::string &verb);
    bool TakeLoginRefusal();
    bool TakeFolderCreationRefusal();
    bool TakeDeletionRefusal();
    std::optional<uint32_t> LowDisk();
    // How many times the lists give the entry: 0, 1 or 2.
    unsigned TimesListed(char letter, unsigned number);
    void Shutdown();

private:
    struct Counted {
        int value = 0;
        int times = 0;  // remaining, or kAlways
    };
    static bool Take(std::map<std::string, Counted> &faults, const std::string &page, int &value);
    bool SilentLocked();
    using Clock = std::chrono::steady_clock;
    // A service's freeze: nullopt when it runs; a time point, or none for "until thawed".
    using FreezeState = std::optional<std::optional<Clock::time_point>>;
    void FreezeLocked(FreezeScope scope, unsigned seconds);
    bool FrozenLocked(bool web);

    std::mutex mutex_;
    std::condition_variable cv_;
    bool stopping_ = false;
    std::map<std::string, Counted> results_, statuses_, malformed_, delays_, silentOn_;
    bool silent_ = false;
    std::optional<std::chrono::steady_clock::time_point> silentUntil_;
    FreezeState webFrozen_, ftpFrozen_;
    struct FreezeOnPage {
        FreezeScope scope;
        unsigned seconds;
    };
    std::map<std::string, FreezeOnPage> freezeOn_, freezeAfter_;
    struct PendingTransferFreeze {
        unsigned nth = 0;
        unsigned seen = 0;
        TransferFreeze freeze;
    };
    std::vector<PendingTransferFreeze> transferFreezes_;
    struct Drop {
        unsigned nth = 0;
        unsigned seen = 0;
        std::optional<uint64_t> afterBytes;
    };
    std::optional<Drop> drop_;
    std::map<std::string, Drop> dropAfter_;
    struct StorFailure {
        int code = 0;
        unsigned nth = 0;
        unsigned seen = 0;
        bool always = false;
    };
    std::optional<StorFailure> stor_;
    bool refuseReusedPorts_ = false;
    std::set<uint16_t> dataPortsSeen_;
    int loginRefusals_ = 0;
    int mkdirRefusals_ = 0;
    int deleteRefusals_ = 0;
    std::optional<uint32_t> lowDisk_;
    std::map<std::pair<char, unsigned>, unsigned> listed_;  // entries listed other than once
};

}  // namespace devicesim
