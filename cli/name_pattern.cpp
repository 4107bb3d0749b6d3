#include "name_pattern.hpp"

#include <locale.h>
#include <wctype.h>

#include <vector>

namespace vtcli {

namespace {

// Characters of UTF-8 text; a byte that begins no well-formed sequence is
// taken as a character of its own (0xDC00 + byte, no real character).
std::vector<char32_t> Characters(const std::string &text) {
    std::vector<char32_t> out;
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        size_t len = c < 0x80                 ? 1
                     : c >= 0xC2 && c <= 0xDF ? 2
                     : c >= 0xE0 && c <= 0xEF ? 3
                     : c >= 0xF0 && c <= 0xF4 ? 4
                                              : 0;
        bool ok = len > 0 && i + len <= text.size();
        for (size_t k = 1; ok && k < len; ++k) ok = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        if (!ok) {
            out.push_back(0xDC00 + c);
            ++i;
            continue;
        }
        char32_t cp = len == 1 ? c : c & (0xFF >> (len + 1));
        for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        out.push_back(cp);
        i += len;
    }
    return out;
}

// Case folded by the C.UTF-8 locale's tables, whatever the process's locale.
char32_t Fold(char32_t c) {
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (c >= 0xDC80 && c <= 0xDCFF) return c;
    if (!utf8) return c < 0x80 && c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
    return static_cast<char32_t>(towlower_l(static_cast<wint_t>(c), utf8));
}

// A set "[...]" at p[i] (i at the "["): a "]" right after the "[" (or
// after its "!" or "^") stands for itself. False when the set is not
// closed; the "[" then stands for itself.
bool MatchSet(const std::vector<char32_t> &p, size_t i, char32_t c, bool *matched, size_t *end) {
    size_t k = i + 1;
    const bool negate = k < p.size() && (p[k] == '!' || p[k] == '^');
    if (negate) ++k;
    const size_t first = k;
    bool hit = false;
    while (k < p.size() && (p[k] != ']' || k == first)) {
        const char32_t low = p[k++];
        char32_t high = low;
        if (k + 1 < p.size() && p[k] == '-' && p[k + 1] != ']') {
            high = p[k + 1];
            k += 2;
        }
        if ((c >= low && c <= high) || (Fold(c) >= Fold(low) && Fold(c) <= Fold(high))) hit = true;
    }
    if (k >= p.size()) return false;
    *matched = hit != negate;
    *end = k + 1;
    return true;
}

}  // namespace

bool MatchesName(const std::string &pattern, const std::string &name) {
    const std::vector<char32_t> p = Characters(pattern), n = Characters(name);
    // The classic walk with one star to go back to: linear in the name for
    // each star position, so never more than |p| * |n| steps.
    size_t pi = 0, ni = 0, starP = std::string::npos, starN = 0;
    while (ni < n.size()) {
        if (pi < p.size()) {
            const char32_t c = p[pi];
            if (c == '*') {
                starP = ++pi;
                starN = ni;
                continue;
            }
            bool matched = false;
            size_t next = pi + 1;
            if (c == '?') {
                matched = true;
            } else if (c == '[' && MatchSet(p, pi, n[ni], &matched, &next)) {
            } else {
                char32_t literal = c;
                if (c == '\\' && pi + 1 < p.size()) literal = p[++next - 1];
                matched = Fold(literal) == Fold(n[ni]);
            }
            if (matched) {
                pi = next;
                ++ni;
                continue;
            }
        }
        if (starP == std::string::npos) return false;
        pi = starP;
        ni = ++starN;
    }
    while (pi < p.size() && p[pi] == '*') ++pi;
    return pi == p.size();
}

}  // namespace vtcli
