#include "store.hpp"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <system_error>

namespace devicesim {

std::string EntryName(char letter, unsigned number) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%c%07u", letter, number);
    return buf;
}

std::optional<unsigned> ParseEntryName(std::string_view name, char letter, std::string_view suffix) {
    if (name.size() != 8 + suffix.size() || name[0] != letter) return std::nullopt;
    if (name.substr(8) != suffix) return std::nullopt;
    unsigned n = 0;
    for (size_t i = 1; i < 8; ++i) {
        if (name[i] < '0' || name[i] > '9') return std::nullopt;
        n = n * 10 + static_cast<unsigned>(name[i] - '0');
    }
    return n;
}

std::vector<uint8_t> ReadFileBytes(const fs::path &path, size_t max) {
    std::vector<uint8_t> out;
    std::ifstream in(path, std::ios::binary);
    if (!in) return out;
    out.resize(max);
    in.read(reinterpret_cast<char *>(out.data()), static_cast<std::streamsize>(max));
    out.resize(static_cast<size_t>(in.gcount()));
    return out;
}

bool WriteFileBytes(const fs::path &path, const std::vector<uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

Store::Store(fs::path root) : root_(std::move(root)) {}

fs::path Store::BoxRecordPath(unsigned box) const { return DatabaseDir() / (EntryName('B', box) + ".XML"); }
fs::path Store::BoxDataPath(unsigned box) const { return DataDir() / EntryName('B', box); }

void Store::EnsureLayout() const {
    fs::create_directories(DatabaseDir());
    fs::create_directories(DataDir());
}

bool Store::IsEmpty() const { return BoxNumbers().empty(); }

std::vector<unsigned> Store::BoxNumbers() const {
    std::vector<unsigned> boxes;
    std::error_code ec;
    for (fs::directory_iterator it(DatabaseDir(), ec), end; !ec && it != end; it.increment(ec)) {
        if (auto n = ParseEntryName(it->path().filename().string(), 'B', ".XML"); n && it->is_regular_file(ec))
            boxes.push_back(*n);
    }
    ec.clear();
    for (fs::directory_iterator it(DataDir(), ec), end; !ec && it != end; it.increment(ec)) {
        if (auto n = ParseEntryName(it->path().filename().string(), 'B', ""); n && it->is_directory(ec))
            boxes.push_back(*n);
    }
    std::sort(boxes.begin(), boxes.end());
    boxes.erase(std::unique(boxes.begin(), boxes.end()), boxes.end());
    return boxes;
}

bool Store::BoxExists(unsigned box) const {
    std::error_code ec;
    return fs::is_regular_file(BoxRecordPath(box), ec) || fs::is_directory(BoxDataPath(box), ec);
}

BoxRecord Store::ReadBoxRecord(unsigned box) const {
    auto bytes = ReadFileBytes(BoxRecordPath(box), kBoxRecordSize);
    BoxRecord r = DecodeBoxRecord(bytes);
    if (r.ownName.empty()) r.ownName = EntryName('B', box);
    return r;
}

std::optional<fs::path> Store::InnerFolder(unsigned box) const {
    std::vector<fs::path> candidates;
    std::error_code ec;
    for (fs::directory_iterator it(BoxDataPath(box), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!name.empty() && name[0] == 'P' && it->is_directory(ec) && !it->is_symlink(ec))
            candidates.push_back(it->path());
    }
    if (candidates.empty()) return std::nullopt;
    return *std::min_element(candidates.begin(), candidates.end());
}

std::vector<StoreEntry> Store::ListEntries(const fs::path &level, char letter) const {
    std::vector<StoreEntry> entries;
    std::error_code ec;
    for (fs::directory_iterator it(level, ec), end; !ec && it != end; it.increment(ec)) {
        auto n = ParseEntryName(it->path().filename().string(), letter, ".XML");
        if (!n || !it->is_regular_file(ec) || it->is_symlink(ec)) continue;
        StoreEntry e;
        e.number = *n;
        e.recordPath = it->path();
        e.folderPath = level / EntryName(letter, *n);
        e.record = DecodeEntryRecord(ReadFileBytes(it->path(), kEntryRecordSize));
        entries.push_back(std::move(e));
    }
    std::sort(entries.begin(), entries.end(),
              [](const StoreEntry &a, const StoreEntry &b) { return a.number < b.number; });
    return entries;
}

unsigned Store::CountPages(const fs::path &documentFolder) const {
    unsigned pages = 0;
    std::error_code ec;
    for (fs::directory_iterator it(documentFolder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().filename().string().rfind("PAGE", 0) == 0 && it->is_regular_file(ec)) ++pages;
    }
    return pages;
}

uint64_t Store::TreeBytes(const fs::path &path) const {
    std::error_code ec;
    if (fs::is_regular_file(fs::symlink_status(path, ec))) {
        auto size = fs::file_size(path, ec);
        return ec ? 0 : size;
    }
    uint64_t total = 0;
    for (fs::recursive_directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code fileEc;
        if (it->is_regular_file(fileEc) && !it->is_symlink(fileEc)) {
            auto size = it->file_size(fileEc);
            if (!fileEc) total += size;
        }
    }
    return total;
}

uint32_t Store::BoxUpdateTime(unsigned box) const {
    uint32_t latest = ReadBoxRecord(box).updateTime;
    auto inner = InnerFolder(box);
    if (!inner) return latest;
    for (const auto &doc : ListEntries(*inner, 'D')) latest = std::max(latest, doc.record.updateTime);
    for (const auto &folder : ListEntries(*inner, 'F')) {
        latest = std::max(latest, folder.record.updateTime);
        for (const auto &doc : ListEntries(folder.folderPath, 'D')) latest = std::max(latest, doc.record.updateTime);
    }
    return latest;
}

bool Store::DeleteAllBoxes() const {
    bool ok = true;
    for (unsigned box : BoxNumbers()) {
        std::error_code ec;
        fs::remove(BoxRecordPath(box), ec);
        if (ec) ok = false;
        fs::remove_all(BoxDataPath(box), ec);
        if (ec) ok = false;
    }
    return ok && BoxNumbers().empty();
}

std::optional<std::string> Store::NormalizeVirtual(std::string_view cwd, std::string_view path) {
    constexpr size_t kMaxPath = 1024;
    if (path.size() > kMaxPath || cwd.size() > kMaxPath) return std::nullopt;
    std::vector<std::string_view> parts;
    auto walk = [&parts](std::string_view text) -> bool {
        size_t pos = 0;
        while (pos <= text.size()) {
            size_t slash = text.find('/', pos);
            if (slash == std::string_view::npos) slash = text.size();
            std::string_view part = text.substr(pos, slash - pos);
            pos = slash + 1;
            for (char c : part)
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
            if (part.empty() || part == ".") continue;
            if (part == "..") {
                if (parts.empty()) return false;  // would climb above the root
                parts.pop_back();
                continue;
            }
            parts.push_back(part);
        }
        return true;
    };
    if (path.empty() || path[0] != '/') {
        if (!walk(cwd)) return std::nullopt;
    }
    if (!walk(path)) return std::nullopt;
    std::string out;
    for (auto part : parts) {
        out += '/';
        out += part;
    }
    return out.empty() ? std::string("/") : out;
}

std::optional<fs::path> Store::ToLocal(const std::string &virtualPath) const {
    fs::path local = root_;
    size_t pos = 1;
    while (pos < virtualPath.size()) {
        size_t slash = virtualPath.find('/', pos);
        if (slash == std::string::npos) slash = virtualPath.size();
        local /= virtualPath.substr(pos, slash - pos);
        pos = slash + 1;
        std::error_code ec;
        if (fs::is_symlink(fs::symlink_status(local, ec))) return std::nullopt;
    }
    return local;
}

}  // namespace devicesim
