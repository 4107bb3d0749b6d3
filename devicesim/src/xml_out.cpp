#include "xml_out.hpp"

namespace devicesim {

std::string XmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 16);
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') break;
            out += c;
        }
    }
    return out;
}

XmlOut::XmlOut() { out_ = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"; }

void XmlOut::Indent() { out_.append(open_.size(), ' '); }

void XmlOut::Open(std::string_view name, Attributes attributes) {
    Indent();
    out_ += '<';
    out_ += name;
    for (const auto &[key, value] : attributes) {
        out_ += ' ';
        out_ += key;
        out_ += "=\"";
        out_ += XmlEscape(value);
        out_ += '"';
    }
    out_ += ">\n";
    open_.emplace_back(name);
}

void XmlOut::Close() {
    if (open_.empty()) return;
    std::string name = std::move(open_.back());
    open_.pop_back();
    Indent();
    out_ += "</" + name + ">\n";
}

void XmlOut::Leaf(std::string_view name, std::string_view text) {
    Indent();
    out_ += '<';
    out_ += name;
    out_ += '>';
    out_ += XmlEscape(text);
    out_ += "</";
    out_ += name;
    out_ += ">\n";
}

void XmlOut::Leaf(std::string_view name, uint64_t number) { Leaf(name, std::to_string(number)); }
void XmlOut::Leaf(std::string_view name, int64_t number) { Leaf(name, std::to_string(number)); }

std::string XmlOut::Finish() {
    while (!open_.empty()) Close();
    return std::move(out_);
}

XmlOut ReplyFrame(std::string_view version, int result) {
    XmlOut x;
    x.Open("BoxNwLib");
    x.Open("Header");
    x.Leaf("Version", version);
    x.Close();
    x.Open("Message");
    x.Leaf("Result", result);
    return x;
}

}  // namespace devicesim
