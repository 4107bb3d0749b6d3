#include "session/error_detail.hpp"

#include <utility>

#include "vtBoxBRD.h"

namespace vtbox {

namespace {
// The longest detail kept: a few paths' worth. Longer texts are cut.
constexpr size_t kMaxDetail = 1024;

struct Detail {
    uint32_t code = 0;
    std::string text;
};
thread_local Detail t_detail;

// Control bytes (names from the device may hold any) are shown escaped, so
// that the text is safe to print on a terminal.
std::string Printable(const std::string &text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

void Keep(uint32_t code, std::string text) {
    text = Printable(text);
    if (text.size() > kMaxDetail) {
        // Never inside a UTF-8 sequence.
        size_t cut = kMaxDetail;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
        text.resize(cut);
    }
    t_detail.code = code;
    t_detail.text = std::move(text);
}
}  // namespace

void NoteFailure(uint32_t code, std::string text) { Keep(code, std::move(text)); }

void AddFailureContext(uint32_t code, const std::string &context) {
    if (t_detail.code == code && !t_detail.text.empty())
        Keep(code, context + ": " + t_detail.text);
    else
        Keep(code, context);
}

void RetagFailure(uint32_t code) {
    if (!t_detail.text.empty()) t_detail.code = code;
}

void ClearFailureDetail() {
    t_detail.code = 0;
    t_detail.text.clear();
}

void SettleFailureDetail(uint32_t rc) {
    if (rc == 0 || t_detail.code != rc) ClearFailureDetail();
}

const std::string &FailureDetail() { return t_detail.text; }

}  // namespace vtbox

extern "C" const char *vtBoxGetLastErrorText(void) { return vtbox::FailureDetail().c_str(); }
