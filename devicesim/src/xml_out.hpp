// A small writer for the reply documents, with escaping of every text and
// attribute value.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace devicesim {

// Escapes & < > " ' and drops the control characters that XML 1.0 forbids.
std::string XmlEscape(std::string_view text);

class XmlOut {
public:
    XmlOut();
    using Attributes = std::initializer_list<std::pair<std::string_view, std::string>>;
    void Open(std::string_view name, Attributes attributes = {});
    void Close();
    void Leaf(std::string_view name, std::string_view text);
    void Leaf(std::string_view name, uint64_t number);
    void Leaf(std::string_view name, int64_t number);
    void Leaf(std::string_view name, unsigned number) { Leaf(name, static_cast<uint64_t>(number)); }
    void Leaf(std::string_view name, int number) { Leaf(name, static_cast<int64_t>(number)); }
    // Closes what is open and returns the document.
    std::string Finish();

private:
    void Indent();
    std::string out_;
    std::vector<std::string> open_;
};

// The reply frame of every page: BoxNwLib/Header/Version, then Message with
// Result first. The caller adds the page's values and calls Finish().
XmlOut ReplyFrame(std::string_view version, int result);

}  // namespace devicesim
