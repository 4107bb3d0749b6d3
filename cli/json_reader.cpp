#include "json_reader.hpp"

#include <cerrno>
#include <cstdlib>

namespace vtcli {

namespace {

// Nesting deeper than this is no line of vtbox's, and a crafted line must
// not recurse without end.
constexpr int kMaxDepth = 16;

class Reader {
public:
    explicit Reader(const std::string &text) : s_(text) {}

    bool Object(JsonFields *out) {
        Space();
        if (!Eat('{')) return false;
        Space();
        if (Eat('}')) return End();
        for (;;) {
            std::string key, value;
            Space();
            if (!String(&key)) return false;
            Space();
            if (!Eat(':')) return false;
            Space();
            if (!Value(&value, 1)) return false;
            out->values[key] = value;
            Space();
            if (Eat('}')) return End();
            if (!Eat(',')) return false;
        }
    }

private:
    bool End() {
        Space();
        return at_ == s_.size();
    }
    void Space() {
        while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\t' || s_[at_] == '\r' || s_[at_] == '\n')) ++at_;
    }
    bool Eat(char c) {
        if (at_ < s_.size() && s_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    static void Utf8(uint32_t cp, std::string *out) {
        if (cp < 0x80) {
            *out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            *out += static_cast<char>(0xC0 | (cp >> 6));
            *out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            *out += static_cast<char>(0xE0 | (cp >> 12));
            *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            *out += static_cast<char>(0xF0 | (cp >> 18));
            *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    bool Hex4(uint32_t *v) {
        if (at_ + 4 > s_.size()) return false;
        *v = 0;
        for (int i = 0; i < 4; ++i) {
            char c = s_[at_++];
            *v <<= 4;
            if (c >= '0' && c <= '9')
                *v |= static_cast<uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                *v |= static_cast<uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                *v |= static_cast<uint32_t>(c - 'A' + 10);
            else
                return false;
        }
        return true;
    }
    bool String(std::string *out) {
        if (!Eat('"')) return false;
        while (at_ < s_.size()) {
            char c = s_[at_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') {
                *out += c;
                continue;
            }
            if (at_ >= s_.size()) return false;
            char e = s_[at_++];
            switch (e) {
            case '"': *out += '"'; break;
            case '\\': *out += '\\'; break;
            case '/': *out += '/'; break;
            case 'b': *out += '\b'; break;
            case 'f': *out += '\f'; break;
            case 'n': *out += '\n'; break;
            case 'r': *out += '\r'; break;
            case 't': *out += '\t'; break;
            case 'u': {
                uint32_t cp = 0;
                if (!Hex4(&cp)) return false;
                if (cp >= 0xD800 && cp < 0xDC00) {
                    uint32_t low = 0;
                    if (!Eat('\\') || !Eat('u') || !Hex4(&low) || low < 0xDC00 || low > 0xDFFF) return false;
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                    return false;
                }
                Utf8(cp, out);
                break;
            }
            default: return false;
            }
        }
        return false;
    }
    // A nested object or array, skipped over and kept as written.
    bool Nested(int depth) {
        if (depth > kMaxDepth) return false;
        const char close = s_[at_] == '{' ? '}' : ']';
        const bool object = close == '}';
        ++at_;
        Space();
        if (Eat(close)) return true;
        for (;;) {
            std::string skipped;
            Space();
            if (object) {
                if (!String(&skipped)) return false;
                Space();
                if (!Eat(':')) return false;
                Space();
            }
            if (!Value(&skipped, depth + 1)) return false;
            Space();
            if (Eat(close)) return true;
            if (!Eat(',')) return false;
        }
    }
    bool Value(std::string *out, int depth) {
        if (at_ >= s_.size()) return false;
        const char c = s_[at_];
        if (c == '"') return String(out);
        const size_t from = at_;
        if (c == '{' || c == '[') {
            if (!Nested(depth)) return false;
        } else {
            while (at_ < s_.size() && s_[at_] != ',' && s_[at_] != '}' && s_[at_] != ']' && s_[at_] != ' ') ++at_;
            const std::string word = s_.substr(from, at_ - from);
            if (word != "true" && word != "false" && word != "null") {
                if (word.empty()) return false;
                char *end = nullptr;
                errno = 0;
                std::strtod(word.c_str(), &end);
                if (*end != '\0' || errno == ERANGE) return false;
            }
        }
        *out = s_.substr(from, at_ - from);
        return true;
    }

    const std::string &s_;
    size_t at_ = 0;
};

}  // namespace

const std::string *JsonFields::Get(const std::string &key) const {
    auto it = values.find(key);
    return it == values.end() ? nullptr : &it->second;
}

std::string JsonFields::Text(const std::string &key) const {
    const std::string *v = Get(key);
    return v ? *v : std::string();
}

int64_t JsonFields::Integer(const std::string &key, int64_t otherwise) const {
    const std::string *v = Get(key);
    if (!v || v->empty()) return otherwise;
    char *end = nullptr;
    errno = 0;
    long long n = std::strtoll(v->c_str(), &end, 10);
    return *end == '\0' && errno == 0 ? n : otherwise;
}

double JsonFields::Number(const std::string &key, double otherwise) const {
    const std::string *v = Get(key);
    if (!v || v->empty()) return otherwise;
    char *end = nullptr;
    double n = std::strtod(v->c_str(), &end);
    return *end == '\0' ? n : otherwise;
}

bool ParseJsonObject(const std::string &line, JsonFields *out) {
    out->values.clear();
    if (line.size() > kMaxJsonLineBytes) return false;
    Reader r(line);
    if (r.Object(out)) return true;
    out->values.clear();
    return false;
}

}  // namespace vtcli
