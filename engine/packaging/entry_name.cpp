#include "packaging/entry_name.hpp"

#include <algorithm>

#include "vtplatform.h"
#include "vtplatform/find.hpp"

namespace vtbox {

std::string EntryNameFromRelativePath(std::string_view relative) {
    std::string name(relative);
    std::replace(name.begin(), name.end(), '/', '\\');
    return name;
}

std::string NormalizeEntryName(std::string_view stored) { return EntryNameFromRelativePath(stored); }

bool SplitSafeEntryName(std::string_view name, std::vector<std::string> *parts) {
    parts->clear();
    if (name.empty() || name.find('\0') != std::string_view::npos) return false;
    if (name[0] == '/' || name[0] == '\\') return false;
    if (name.size() >= 2 && name[1] == ':' &&
        ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')))
        return false;
    size_t pos = 0;
    while (pos <= name.size()) {
        size_t sep = name.find_first_of("/\\", pos);
        if (sep == std::string_view::npos) sep = name.size();
        std::string_view part = name.substr(pos, sep - pos);
        if (part == "..") return false;
        if (!part.empty() && part != ".") parts->emplace_back(part);
        pos = sep + 1;
    }
    return !parts->empty();
}

std::string_view EntryBaseName(std::string_view name) {
    while (!name.empty() && (name.back() == '\\' || name.back() == '/')) name.remove_suffix(1);
    size_t sep = name.find_last_of("/\\");
    return sep == std::string_view::npos ? name : name.substr(sep + 1);
}

std::string_view EntryExtension(std::string_view name) {
    std::string_view base = EntryBaseName(name);
    size_t dot = base.find_last_of('.');
    return dot == std::string_view::npos ? std::string_view() : base.substr(dot + 1);
}

uint32_t DosAttributesOf(const struct stat &st) {
    uint32_t attributes = S_ISDIR(st.st_mode) ? vt::kAttrDirectory : vt::kAttrArchive;
    if (!(st.st_mode & S_IWUSR)) attributes |= vt::kAttrReadOnly;
    return attributes;
}

bool IsNonAsciiUtf8(std::string_view text) {
    bool nonAscii = false;
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (len == 0 || i + len > text.size()) return false;
        for (size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        if (len > 1) nonAscii = true;
        i += len;
    }
    return nonAscii;
}

uint32_t DosDateTimeFromUnix(time_t when) {
    struct tm local {};
    if (!localtime_r(&when, &local)) return (1u << 21) | (1u << 16);
    int year = local.tm_year + 1900;
    if (year < 1980) return (1u << 21) | (1u << 16);  // 1980-01-01 00:00:00
    if (year > 2107) {
        // 2107-12-31 23:59:58
        return (127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u;
    }
    uint32_t date = (static_cast<uint32_t>(year - 1980) << 9) | (static_cast<uint32_t>(local.tm_mon + 1) << 5) |
                    static_cast<uint32_t>(local.tm_mday);
    uint32_t time = (static_cast<uint32_t>(local.tm_hour) << 11) | (static_cast<uint32_t>(local.tm_min) << 5) |
                    static_cast<uint32_t>(local.tm_sec / 2);
    return (date << 16) | time;
}

bool UnixFromDosDateTime(uint32_t dos, time_t *when) {
    uint32_t date = dos >> 16, time = dos & 0xFFFFu;
    int year = static_cast<int>(date >> 9) + 1980;
    int month = static_cast<int>((date >> 5) & 0x0F);
    int day = static_cast<int>(date & 0x1F);
    int hour = static_cast<int>(time >> 11);
    int minute = static_cast<int>((time >> 5) & 0x3F);
    int second = static_cast<int>(time & 0x1F) * 2;
    static constexpr int kDaysIn[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || day > kDaysIn[month - 1]) return false;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month == 2 && day == 29 && !leap) return false;
    if (hour > 23 || minute > 59 || second > 59) return false;
    struct tm local {};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    time_t t = mktime(&local);
    if (t == static_cast<time_t>(-1)) return false;
    *when = t;
    return true;
}

}  // namespace vtbox
