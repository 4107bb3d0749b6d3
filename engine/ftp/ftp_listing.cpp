#include "ftp/ftp_listing.hpp"

#include <cstring>

#include "vtplatform/errors.hpp"

namespace vtbox {

namespace {

// The record's name field holds this many characters before its terminator.
constexpr size_t kMaxNameLength = sizeof(vt::FindData::cFileName) - 1;

// Files carry a short extension: "D0000001.XML", "CREATE.STS", "A.B".
// Folder names (B0000001, F0000001, D0000001) carry none.
bool LooksLikeFile(std::string_view name) {
    size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return false;
    size_t extension = name.size() - dot - 1;
    return extension >= 1 && extension <= 3;
}

vt::FindData EntryNamed(std::string_view name) {
    vt::FindData entry;
    std::memset(&entry, 0, sizeof entry);
    std::memcpy(entry.cFileName, name.data(), name.size());
    return entry;
}

// A long-format entry line begins with a mode field: "drwxr-xr-x ", "-rw-r--r-- ".
bool LooksLikeEntryLine(std::string_view line) {
    if (line.size() < 11 || line[10] != ' ') return false;
    if (std::string_view("-dlbcps").find(line[0]) == std::string_view::npos) return false;
    for (size_t i = 1; i < 10; ++i) {
        if (std::string_view("-rwxsStT").find(line[i]) == std::string_view::npos) return false;
    }
    return true;
}

}  // namespace

bool IsSafeEntryName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    return name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

ListingOutcome ParseListing(std::string_view text, FindList *folders, FindList *files) {
    if (folders) folders->clear();
    if (files) files->clear();

    // The head line ("total 12") carries no entry. A listing that begins
    // with an entry line at once (as some servers send it) keeps that entry.
    size_t headEnd = text.find('\n');
    if (!LooksLikeEntryLine(text.substr(0, headEnd))) {
        if (headEnd == std::string_view::npos) return {};
        text.remove_prefix(headEnd + 1);
    }

    while (!text.empty()) {
        size_t lineEnd = text.find('\n');
        std::string_view line = text.substr(0, lineEnd);
        text.remove_prefix(lineEnd == std::string_view::npos ? text.size() : lineEnd + 1);

        // A CR before the LF belongs to the line end, not to the name.
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.find_first_not_of(' ') == std::string_view::npos) continue;

        size_t lastBlank = line.rfind(' ');
        std::string_view name = lastBlank == std::string_view::npos ? line : line.substr(lastBlank + 1);

        if (!IsSafeEntryName(name)) {
            if (folders) folders->clear();
            if (files) files->clear();
            return {vt::code(vt::Code::INVALID_NAME), std::string(name.substr(0, kMaxNameLength))};
        }
        if (name.size() > kMaxNameLength) {
            if (folders) folders->clear();
            if (files) files->clear();
            return {vt::code(vt::Code::PATH_TOO_LONG), std::string(name.substr(0, kMaxNameLength))};
        }
        FindList *target = LooksLikeFile(name) ? files : folders;
        if (target) target->push_back(EntryNamed(name));
    }
    return {};
}

}  // namespace vtbox
