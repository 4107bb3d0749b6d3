// The sequence every box call follows: send, load, check Result. The reply
// buffer and the document are released on every path by their owners.
#pragma once

#include <string>
#include <string_view>

#include "vtplatform/text.hpp"

#include "session/boundary.hpp"
#include "transport/box_transport.hpp"
#include "xmlreply/reply_document.hpp"

namespace vtbox {

struct BoxReply {
    GlobalBlock buffer;
    ReplyDocumentPtr doc;

    // The reply's bytes as received.
    std::string_view raw() const { return {static_cast<const char *>(buffer.get()), GlobalSize(buffer.get())}; }
};

// Sends path and returns the checked reply. Raises the transport's code, 13
// for a reply that is not XML, 11 without a Result, or the Result's code.
BoxReply CallBox(VTMFPSESSION *session, const std::string &path);

// Copies text into a fixed field, cut to fit (never mid-character).
template <size_t N>
void CopyField(char (&field)[N], const std::string &text) {
    vt::CopyUtf8(field, N, text);
}

}  // namespace vtbox
