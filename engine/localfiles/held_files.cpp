#include "localfiles/held_files.hpp"

#include <atomic>
#include <cctype>

namespace vtbox {

namespace {
std::atomic<size_t> maxFileBytes{HeldFiles::kMaxFileBytes};
std::atomic<size_t> maxHeldBytes{HeldFiles::kMaxHeldBytes};

bool EndsWithFolded(std::string_view name, std::string_view suffix) {
    if (name.size() < suffix.size()) return false;
    for (size_t i = 0; i < suffix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(name[name.size() - suffix.size() + i])) != suffix[i]) return false;
    return true;
}

// The paths of files below folder begin with this.
std::string Below(const std::string &folder) { return folder == "/" ? folder : folder + "/"; }
}  // namespace

void HeldFiles::SetBoundsForTesting(size_t maxFile, size_t maxHeld) {
    maxFileBytes = maxFile;
    maxHeldBytes = maxHeld;
}

bool HeldFiles::IsArchiveName(std::string_view name) {
    return EndsWithFolded(name, ".vtb") || EndsWithFolded(name, ".zip");
}

bool HeldFiles::Holdable(std::string_view path) { return !IsArchiveName(path) && maxFileBytes > 0 && maxHeldBytes > 0; }

bool HeldFiles::Reserve(size_t fileSoFar, size_t size) {
    if (fileSoFar > maxFileBytes || size > maxFileBytes - fileSoFar) return false;
    std::lock_guard lock(mutex_);
    const size_t bound = maxHeldBytes;
    if (counted_ > bound || size > bound - counted_) return false;
    counted_ += size;
    return true;
}

void HeldFiles::Release(size_t size) {
    std::lock_guard lock(mutex_);
    counted_ -= std::min(counted_, size);
}

void HeldFiles::Put(const std::string &path, std::string bytes, time_t when) {
    // A file that came in pieces may hold twice its size in room: what it
    // is counted for is what it takes.
    bytes.shrink_to_fit();
    std::lock_guard lock(mutex_);
    auto [at, made] = files_.try_emplace(path);
    if (!made) counted_ -= std::min(counted_, at->second.bytes.size());
    at->second = File{std::move(bytes), when};
}

void HeldFiles::Drop(const std::string &path) {
    std::lock_guard lock(mutex_);
    auto at = files_.find(path);
    if (at == files_.end()) return;
    counted_ -= std::min(counted_, at->second.bytes.size());
    files_.erase(at);
}

void HeldFiles::DropUnder(const std::string &folder) {
    const std::string prefix = Below(folder);
    std::lock_guard lock(mutex_);
    auto at = files_.lower_bound(prefix);
    while (at != files_.end() && at->first.compare(0, prefix.size(), prefix) == 0) {
        counted_ -= std::min(counted_, at->second.bytes.size());
        at = files_.erase(at);
    }
}

std::vector<HeldFiles::Listed> HeldFiles::ListIn(const std::string &folder) const {
    const std::string prefix = Below(folder);
    std::vector<Listed> listed;
    std::lock_guard lock(mutex_);
    for (auto at = files_.lower_bound(prefix); at != files_.end() && at->first.compare(0, prefix.size(), prefix) == 0;
         ++at) {
        std::string_view name(at->first);
        name.remove_prefix(prefix.size());
        if (!name.empty() && name.find('/') == std::string_view::npos)
            listed.push_back(Listed{std::string(name), at->second.when});
    }
    return listed;
}

bool HeldFiles::Take(const std::string &path, std::string *bytes, time_t *when) {
    std::lock_guard lock(mutex_);
    auto at = files_.find(path);
    if (at == files_.end()) return false;
    *bytes = std::move(at->second.bytes);
    *when = at->second.when;
    // Still counted: the caller releases the bytes once it has let them go.
    files_.erase(at);
    return true;
}

bool HeldFiles::Head(const std::string &path, size_t size, std::string *head) const {
    std::lock_guard lock(mutex_);
    auto at = files_.find(path);
    if (at == files_.end()) return false;
    head->assign(at->second.bytes, 0, std::min(size, at->second.bytes.size()));
    return true;
}

}  // namespace vtbox
