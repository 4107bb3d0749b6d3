#include "device_state.hpp"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace devicesim {

void DeviceState::EndLocked(uint32_t sid) {
    sessions_.erase(sid);
    if (exclusive_ && exclusive_->holder == sid) exclusive_.reset();
    if (account_ && account_->owner == sid) account_.reset();
}

void DeviceState::ExpireLocked() {
    if (idle_.count() == 0) return;
    const auto now = now_();
    std::vector<uint32_t> expired;
    for (const auto &[sid, seen] : sessions_)
        if (now - seen > idle_) expired.push_back(sid);
    for (uint32_t sid : expired) EndLocked(sid);
}

uint32_t DeviceState::OpenSession() {
    std::lock_guard lock(mutex_);
    ExpireLocked();
    if (sessions_.size() >= maxSessions_) return 0;
    uint32_t sid = nextSession_++;
    if (nextSession_ > 99999999) nextSession_ = 10000001;  // ids stay eight digits
    while (sessions_.count(sid)) sid = nextSession_++;
    sessions_[sid] = now_();
    return sid;
}

bool DeviceState::CloseSession(uint32_t sid) {
    std::lock_guard lock(mutex_);
    ExpireLocked();
    if (sessions_.count(sid) == 0) return false;
    EndLocked(sid);
    return true;
}

bool DeviceState::HasSession(uint32_t sid) {
    std::lock_guard lock(mutex_);
    ExpireLocked();
    auto it = sessions_.find(sid);
    if (it == sessions_.end()) return false;
    it->second = now_();
    return true;
}

std::optional<DeviceState::Exclusive> DeviceState::HeldByOther(uint32_t sid) {
    std::lock_guard lock(mutex_);
    ExpireLocked();
    if (exclusive_ && exclusive_->holder != sid) return exclusive_;
    return std::nullopt;
}

int DeviceState::EnterExclusive(uint32_t sid, unsigned mode) {
    std::lock_guard lock(mutex_);
    if (exclusive_) {
        if (exclusive_->holder != sid) return exclusive_->mode == 1 ? 212 : 211;
        return exclusive_->mode == mode ? 0 : 105;
    }
    exclusive_ = Exclusive{sid, mode};
    return 0;
}

int DeviceState::LeaveExclusive(uint32_t sid, unsigned mode) {
    std::lock_guard lock(mutex_);
    if (!exclusive_ || exclusive_->holder != sid || exclusive_->mode != mode) return 105;
    exclusive_.reset();
    return 0;
}

std::optional<std::string> DeviceState::CreateFtpAccount(uint32_t sid) {
    std::lock_guard lock(mutex_);
    if (account_) {
        if (account_->owner != sid) return std::nullopt;
        return account_->login;
    }
    char name[32];
    accountCounter_ = accountCounter_ % 9999 + 1;
    std::snprintf(name, sizeof name, "vtbkup%04u", accountCounter_);
    account_ = Account{name, sid};
    return account_->login;
}

bool DeviceState::DeleteFtpAccount() {
    std::lock_guard lock(mutex_);
    if (!account_) return false;
    account_.reset();
    return true;
}

bool DeviceState::FtpLoginAllowed(const std::string &user) {
    std::lock_guard lock(mutex_);
    ExpireLocked();
    return account_ && account_->login == user;
}

namespace {
constexpr size_t kMaxRecords = 10000;
template <class T>
void Keep(std::vector<T> &list, T item) {
    if (list.size() >= kMaxRecords) list.erase(list.begin());
    list.push_back(std::move(item));
}

// The name a count goes under: a plain word of bounded length, one of the
// first kMaxCountedNames seen, else kOtherName.
void Count(std::map<std::string, uint64_t> &counts, uint64_t &total, const std::string &name) {
    ++total;
    const bool plain =
        !name.empty() && name.size() <= kMaxCountedNameLength && std::all_of(name.begin(), name.end(), [](char c) {
            return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
                   c == '-';
        });
    auto it = plain ? counts.find(name) : counts.end();
    if (it != counts.end()) {
        ++it->second;
        return;
    }
    // kOtherName holds a place of its own beside the named ones.
    const size_t named = counts.size() - counts.count(kOtherName);
    ++counts[plain && named < kMaxCountedNames ? name : std::string(kOtherName)];
}

std::string UpperAscii(std::string text) {
    for (char &c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}
}  // namespace

void Recorder::Http(const std::string &target) {
    std::lock_guard lock(mutex_);
    Keep(records_.httpRequests, target);
    const std::string path = target.substr(0, target.find('?'));
    Count(records_.boxRequestCounts, records_.boxRequestTotal, path.substr(path.rfind('/') + 1));
}

void Recorder::Serial(const SerialChangeCall &call) {
    std::lock_guard lock(mutex_);
    Keep(records_.serialChanges, call);
}

void Recorder::KeepAlive() {
    std::lock_guard lock(mutex_);
    ++records_.keepAlives;
}

void Recorder::Ftp(const std::string &line) {
    std::lock_guard lock(mutex_);
    Keep(records_.ftpCommands, line);
    Count(records_.ftpCommandCounts, records_.ftpCommandTotal, UpperAscii(line.substr(0, line.find(' '))));
}

DeviceRecords Recorder::Snapshot() const {
    std::lock_guard lock(mutex_);
    return records_;
}

void Recorder::Clear() {
    std::lock_guard lock(mutex_);
    records_ = {};
}

}  // namespace devicesim
