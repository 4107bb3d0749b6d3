#include "devicesim/faults.hpp"

#include <cctype>

namespace devicesim {

using Clock = std::chrono::steady_clock;

void Faults::ForceResult(const std::string &page, int result, int times) {
    std::lock_guard lock(mutex_);
    results_[page] = {result, times};
}

void Faults::ForceHttpStatus(const std::string &page, int status, int times) {
    std::lock_guard lock(mutex_);
    statuses_[page] = {status, times};
}

void Faults::MalformedReply(const std::string &page, int times) {
    std::lock_guard lock(mutex_);
    malformed_[page] = {1, times};
}

void Faults::DelayReply(const std::string &page, unsigned seconds, int times) {
    std::lock_guard lock(mutex_);
    delays_[page] = {static_cast<int>(seconds), times};
}

void Faults::GoSilent(unsigned seconds) {
    std::lock_guard lock(mutex_);
    silent_ = true;
    silentUntil_.reset();
    if (seconds > 0) silentUntil_ = Clock::now() + std::chrono::seconds(seconds);
    cv_.notify_all();
}

void Faults::GoSilentOn(const std::string &page, unsigned seconds) {
    std::lock_guard lock(mutex_);
    silentOn_[page] = {static_cast<int>(seconds), 1};
}

void Faults::Resume() {
    std::lock_guard lock(mutex_);
    silent_ = false;
    silentUntil_.reset();
    cv_.notify_all();
}

void Faults::FreezeLocked(FreezeScope scope, unsigned seconds) {
    std::optional<Clock::time_point> until;
    if (seconds > 0) until = Clock::now() + std::chrono::seconds(seconds);
    if (scope != FreezeScope::Ftp) webFrozen_ = until;
    if (scope != FreezeScope::Web) ftpFrozen_ = until;
    cv_.notify_all();
}

void Faults::Freeze(FreezeScope scope, unsigned seconds) {
    std::lock_guard lock(mutex_);
    FreezeLocked(scope, seconds);
}

void Faults::FreezeInTransfer(FreezeScope scope, unsigned nth, uint64_t afterBytes, unsigned seconds) {
    std::lock_guard lock(mutex_);
    transferFreezes_.push_back(
        PendingTransferFreeze{nth == 0 ? 1 : nth, 0, TransferFreeze{scope, afterBytes, seconds}});
}

void Faults::FreezeOn(const std::string &page, FreezeScope scope, unsigned seconds) {
    std::lock_guard lock(mutex_);
    freezeOn_[page] = {scope, seconds};
}

namespace {
std::string CommandKey(const std::string &verb) {
    std::string key = "ftp:";
    for (char c : verb) key += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return key;
}
}  // namespace

void Faults::FreezeOnCommand(const std::string &verb, FreezeScope scope, unsigned seconds) {
    std::lock_guard lock(mutex_);
    freezeOn_[CommandKey(verb)] = {scope, seconds};
}

bool Faults::TakeCommandFreeze(const std::string &verb) {
    std::lock_guard lock(mutex_);
    auto it = freezeOn_.find(CommandKey(verb));
    if (it == freezeOn_.end()) return false;
    FreezeLocked(it->second.scope, it->second.seconds);
    freezeOn_.erase(it);
    return true;
}

void Faults::FreezeAfter(const std::string &page, FreezeScope scope, unsigned seconds) {
    std::lock_guard lock(mutex_);
    freezeAfter_[page] = {scope, seconds};
}

void Faults::DropDataConnectionAfter(const std::string &page, unsigned nth, std::optional<uint64_t> afterBytes) {
    std::lock_guard lock(mutex_);
    dropAfter_[page] = Drop{nth == 0 ? 1 : nth, 0, afterBytes};
}

void Faults::PageAnswered(const std::string &page) {
    std::lock_guard lock(mutex_);
    for (const std::string &key : {page, std::string("*")}) {
        if (auto it = dropAfter_.find(key); it != dropAfter_.end()) {
            drop_ = it->second;
            dropAfter_.erase(it);
            break;
        }
    }
    for (const std::string &key : {page, std::string("*")}) {
        if (auto it = freezeAfter_.find(key); it != freezeAfter_.end()) {
            FreezeLocked(it->second.scope, it->second.seconds);
            freezeAfter_.erase(it);
            break;
        }
    }
}

void Faults::Thaw() {
    std::lock_guard lock(mutex_);
    webFrozen_.reset();
    ftpFrozen_.reset();
    freezeOn_.clear();
    freezeAfter_.clear();
    transferFreezes_.clear();
    cv_.notify_all();
}

void Faults::DropDataConnection(unsigned nth, std::optional<uint64_t> afterBytes) {
    std::lock_guard lock(mutex_);
    drop_ = Drop{nth == 0 ? 1 : nth, 0, afterBytes};
}

void Faults::FailStor(int code, unsigned nth, bool always) {
    std::lock_guard lock(mutex_);
    stor_ = StorFailure{code, nth == 0 ? 1 : nth, 0, always};
}

void Faults::RefuseReusedDataPorts(bool on) {
    std::lock_guard lock(mutex_);
    refuseReusedPorts_ = on;
    dataPortsSeen_.clear();
}

bool Faults::TakeReusedPortRefusal(uint16_t port) {
    std::lock_guard lock(mutex_);
    if (!refuseReusedPorts_) return false;
    return !dataPortsSeen_.insert(port).second;
}

void Faults::RefuseLogin(int times) {
    std::lock_guard lock(mutex_);
    loginRefusals_ = times;
}

void Faults::RefuseFolderCreation(int times) {
    std::lock_guard lock(mutex_);
    mkdirRefusals_ = times;
}

void Faults::RefuseDeletion(int times) {
    std::lock_guard lock(mutex_);
    deleteRefusals_ = times;
}

void Faults::SetLowDisk(uint32_t availableKb) {
    std::lock_guard lock(mutex_);
    lowDisk_ = availableKb;
}

void Faults::LeaveOutOfLists(char letter, unsigned number) {
    std::lock_guard lock(mutex_);
    listed_[{letter, number}] = 0;
}

void Faults::RepeatInLists(char letter, unsigned number) {
    std::lock_guard lock(mutex_);
    listed_[{letter, number}] = 2;
}

unsigned Faults::TimesListed(char letter, unsigned number) {
    std::lock_guard lock(mutex_);
    auto it = listed_.find({letter, number});
    return it == listed_.end() ? 1 : it->second;
}

void Faults::Clear() {
    std::lock_guard lock(mutex_);
    results_.clear();
    statuses_.clear();
    malformed_.clear();
    delays_.clear();
    silentOn_.clear();
    silent_ = false;
    silentUntil_.reset();
    webFrozen_.reset();
    ftpFrozen_.reset();
    freezeOn_.clear();
    freezeAfter_.clear();
    transferFreezes_.clear();
    drop_.reset();
    dropAfter_.clear();
    stor_.reset();
    refuseReusedPorts_ = false;
    dataPortsSeen_.clear();
    loginRefusals_ = 0;
    mkdirRefusals_ = 0;
    deleteRefusals_ = 0;
    lowDisk_.reset();
    listed_.clear();
    cv_.notify_all();
}

bool Faults::Take(std::map<std::string, Counted> &faults, const std::string &page, int &value) {
    for (const std::string &key : {page, std::string("*")}) {
        auto it = faults.find(key);
        if (it == faults.end()) continue;
        value = it->second.value;
        if (it->second.times != kAlways && --it->second.times <= 0) faults.erase(it);
        return true;
    }
    return false;
}

PageFaultAction Faults::TakePageFaults(const std::string &page) {
    std::lock_guard lock(mutex_);
    PageFaultAction action;
    int value = 0;
    if (Take(silentOn_, page, value)) action.silentSeconds = static_cast<unsigned>(value);
    if (Take(delays_, page, value)) action.delaySeconds = static_cast<unsigned>(value);
    if (Take(statuses_, page, value)) action.httpStatus = value;
    if (Take(results_, page, value)) action.result = value;
    if (Take(malformed_, page, value)) action.malformed = true;
    for (const std::string &key : {page, std::string("*")}) {
        auto it = freezeOn_.find(key);
        if (it == freezeOn_.end()) continue;
        FreezeLocked(it->second.scope, it->second.seconds);
        freezeOn_.erase(it);
        break;
    }
    return action;
}

bool Faults::SilentLocked() {
    if (silent_ && silentUntil_ && Clock::now() >= *silentUntil_) {
        silent_ = false;
        silentUntil_.reset();
    }
    return silent_;
}

bool Faults::Silent() {
    std::lock_guard lock(mutex_);
    return SilentLocked();
}

bool Faults::WaitWhileSilent() {
    std::unique_lock lock(mutex_);
    while (!stopping_ && SilentLocked()) cv_.wait_for(lock, std::chrono::milliseconds(100));
    return !stopping_;
}

bool Faults::Sleep(unsigned seconds) { return SleepUntil(Clock::now() + std::chrono::seconds(seconds)); }

bool Faults::SleepUntil(Clock::time_point until) {
    std::unique_lock lock(mutex_);
    while (!stopping_ && Clock::now() < until) cv_.wait_until(lock, until);
    return !stopping_;
}

bool Faults::FrozenLocked(bool web) {
    FreezeState &state = web ? webFrozen_ : ftpFrozen_;
    if (state && *state && Clock::now() >= **state) state.reset();
    return state.has_value();
}

bool Faults::Frozen(bool web) {
    std::lock_guard lock(mutex_);
    return FrozenLocked(web);
}

bool Faults::WaitWhileFrozen(bool web) {
    std::unique_lock lock(mutex_);
    while (!stopping_ && FrozenLocked(web)) cv_.wait_for(lock, std::chrono::milliseconds(100));
    return !stopping_;
}

std::optional<TransferFreeze> Faults::TakeTransferFreeze() {
    std::lock_guard lock(mutex_);
    // Every waiting freeze counts this transfer; the first that is due starts.
    std::optional<TransferFreeze> due;
    for (auto it = transferFreezes_.begin(); it != transferFreezes_.end();) {
        if (++it->seen >= it->nth && !due) {
            due = it->freeze;
            it = transferFreezes_.erase(it);
        } else {
            ++it;
        }
    }
    return due;
}

std::optional<uint64_t> Faults::TakeDataDrop(uint64_t transferSize) {
    std::lock_guard lock(mutex_);
    if (!drop_) return std::nullopt;
    if (++drop_->seen < drop_->nth) return std::nullopt;
    const uint64_t after = drop_->afterBytes ? *drop_->afterBytes : transferSize / 2;
    drop_.reset();
    return after;
}

std::optional<int> Faults::TakeStorFailure() {
    std::lock_guard lock(mutex_);
    if (!stor_) return std::nullopt;
    ++stor_->seen;
    if (stor_->seen == stor_->nth || (stor_->always && stor_->seen > stor_->nth)) {
        const int code = stor_->code;
        if (!stor_->always) stor_.reset();
        return code;
    }
    return std::nullopt;
}

bool Faults::TakeLoginRefusal() {
    std::lock_guard lock(mutex_);
    if (loginRefusals_ == 0) return false;
    if (loginRefusals_ > 0) --loginRefusals_;
    return true;
}

bool Faults::TakeFolderCreationRefusal() {
    std::lock_guard lock(mutex_);
    if (mkdirRefusals_ == 0) return false;
    if (mkdirRefusals_ > 0) --mkdirRefusals_;
    return true;
}

bool Faults::TakeDeletionRefusal() {
    std::lock_guard lock(mutex_);
    if (deleteRefusals_ == 0) return false;
    if (deleteRefusals_ > 0) --deleteRefusals_;
    return true;
}

std::optional<uint32_t> Faults::LowDisk() {
    std::lock_guard lock(mutex_);
    return lowDisk_;
}

void Faults::Shutdown() {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    cv_.notify_all();
}

}  // namespace devicesim
