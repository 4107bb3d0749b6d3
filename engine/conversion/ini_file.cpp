#include "conversion/ini_file.hpp"

#include <cctype>
#include <climits>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "vtplatform/text.hpp"

namespace vtbox {

namespace {

bool Printable(unsigned char c) { return c >= 0x20 && c < 0x7F; }

bool SameName(const std::string &a, const std::string &b) { return vt::EqualsIgnoreCase(a, b); }

}  // namespace

bool IniFile::Load() {
    sections_.clear();
    leading_.clear();
    std::ifstream in(path_, std::ios::binary);
    if (!in) return false;
    std::string text;
    char buffer[4096];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        text.append(buffer, static_cast<size_t>(in.gcount()));
        if (text.size() > kMaxBytes) return false;
    }
    if (in.bad()) return false;
    return Parse(text);
}

bool IniFile::Parse(const std::string &text) {
    sections_.clear();
    leading_.clear();
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        const unsigned char first = static_cast<unsigned char>(line[0]);
        if (!Printable(first)) {
            std::printf("Failing on char %d\n", first);
            std::fflush(stdout);
            sections_.clear();
            leading_.clear();
            return false;
        }
        const size_t mark = line.find_first_of(";#[=");
        if (mark == std::string::npos) continue;
        switch (line[mark]) {
        case ';':
        case '#': (sections_.empty() ? leading_ : sections_.back().comments).push_back(line); break;
        case '[': {
            const size_t close = line.rfind(']');
            if (close == std::string::npos || close < mark) break;
            sections_.push_back(Section{line.substr(mark + 1, close - mark - 1), {}, {}});
            break;
        }
        default:  // '='
            // A key before any section belongs to none and is never found.
            if (!sections_.empty()) sections_.back().keys.emplace_back(line.substr(0, mark), line.substr(mark + 1));
            break;
        }
    }
    return !sections_.empty();
}

std::string IniFile::GetValue(const std::string &section, const std::string &key, const std::string &def) const {
    for (const Section &s : sections_) {
        if (!SameName(s.name, section)) continue;
        for (const auto &[name, value] : s.keys)
            if (SameName(name, key)) return value;
    }
    return def;
}

int IniFile::ParseInteger(const std::string &text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;  // saturate
    }
    if (negative) value = -value;
    if (value > INT_MAX) value = INT_MAX;
    return static_cast<int>(value);
}

int IniFile::GetInteger(const std::string &section, const std::string &key, int def) const {
    return ParseInteger(GetValue(section, key, std::to_string(def)));
}

bool IniFile::GetBoolean(const std::string &section, const std::string &key, bool def) const {
    return GetInteger(section, key, def ? 1 : 0) != 0;
}

}  // namespace vtbox
