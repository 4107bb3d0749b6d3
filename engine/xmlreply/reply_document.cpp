#include "xmlreply/reply_document.hpp"

#include <libxml/parser.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "session/result.hpp"
#include "store/layout.hpp"
#include "vtplatform/diag.hpp"
#include "vtplatform/errors.hpp"
#include "vtplatform/text.hpp"
#include "vtplatform/times.hpp"

namespace vtbox {

namespace {
constexpr uint32_t kMissing = vt::code(vt::Code::BAD_FORMAT);

void InitParser() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

bool NameIs(xmlNodePtr n, const char *name) {
    return n->type == XML_ELEMENT_NODE && std::strcmp(reinterpret_cast<const char *>(n->name), name) == 0;
}

std::string ContentOf(xmlNodePtr n) {
    xmlChar *c = xmlNodeGetContent(n);
    std::string out = c ? reinterpret_cast<const char *>(c) : "";
    xmlFree(c);
    return out;
}

xmlNodePtr FirstChildNamed(xmlNodePtr parent, const char *name) {
    for (xmlNodePtr c = parent->children; c; c = c->next)
        if (NameIs(c, name)) return c;
    return nullptr;
}

bool AttributeOf(xmlNodePtr n, const char *name, std::string *out) {
    xmlChar *v = xmlGetNoNsProp(n, reinterpret_cast<const xmlChar *>(name));
    if (!v) return false;
    *out = reinterpret_cast<const char *>(v);
    xmlFree(v);
    return true;
}
}  // namespace

ReplyDocument::~ReplyDocument() {
    if (doc_) xmlFreeDoc(doc_);
}

const std::vector<xmlNodePtr> &ReplyDocument::Select(const char *path) {
    auto it = selections_.find(path);
    if (it != selections_.end()) return it->second;
    // Walk the path one step at a time, from the document node: every
    // element child that matches a step carries the walk on.
    std::vector<xmlNodePtr> current{reinterpret_cast<xmlNodePtr>(doc_)};
    std::string p(path);
    size_t i = 0;
    while (i <= p.size() && !current.empty()) {
        size_t j = p.find('/', i);
        if (j == std::string::npos) j = p.size();
        std::string step = p.substr(i, j - i);
        std::vector<xmlNodePtr> next;
        for (xmlNodePtr n : current)
            for (xmlNodePtr c = n->children; c; c = c->next)
                if (NameIs(c, step.c_str())) next.push_back(c);
        current.swap(next);
        i = j + 1;
    }
    return selections_.emplace(path, std::move(current)).first->second;
}

uint32_t ReplyDocument::ReadNodeText(const char *path, std::string *out) {
    const auto &nodes = Select(path);
    if (nodes.empty()) return kMissing;
    *out = ContentOf(nodes[0]);
    return 0;
}

uint32_t ReplyDocument::ReadChildText(const char *path, const char *child, std::string *out) {
    std::string full = std::string(path) + "/" + child;
    return ReadNodeText(full.c_str(), out);
}

uint32_t ReplyDocument::ReadNodeAttribute(const char *path, const char *name, std::string *out) {
    const auto &nodes = Select(path);
    if (nodes.empty() || !AttributeOf(nodes[0], name, out)) return kMissing;
    return 0;
}

uint32_t ReplyDocument::ReadItemAttribute(const char *path, size_t index, const char *name, std::string *out) {
    const auto &nodes = Select(path);
    if (index >= nodes.size() || !AttributeOf(nodes[index], name, out)) return kMissing;
    return 0;
}

uint32_t ReplyDocument::ReadItemChildText(const char *path, size_t index, const char *child, std::string *out) {
    const auto &nodes = Select(path);
    if (index >= nodes.size()) return kMissing;
    xmlNodePtr c = FirstChildNamed(nodes[index], child);
    if (!c) return kMissing;
    *out = ContentOf(c);
    return 0;
}

uint32_t ReplyDocument::ReadItemChildWideText(const char *path, size_t index, const char *child, std::u16string *out) {
    std::string utf8;
    if (uint32_t rc = ReadItemChildText(path, index, child, &utf8)) return rc;
    *out = vt::Utf8ToUtf16(utf8);
    return 0;
}

namespace {
// A document type declaration ends the parse where it stands, before any of
// its declarations is read: neither the device nor our own writer ever sends
// one, and its entities are what makes a few kilobytes expand to gigabytes.
void RefuseDocumentType(void *context, const xmlChar *, const xmlChar *, const xmlChar *) {
    auto *parser = static_cast<xmlParserCtxtPtr>(context);
    *static_cast<bool *>(parser->_private) = true;
    xmlStopParser(parser);
}

struct ParserCloser {
    void operator()(xmlParserCtxtPtr p) const { xmlFreeParserCtxt(p); }
};
}  // namespace

ReplyDocumentPtr LoadReplyDocument(const char *data, size_t size, std::string *why) {
    InitParser();
    auto refuse = [&](const char *reason) -> ReplyDocumentPtr {
        if (why) *why = reason;
        SetLastError(kMissing);
        return nullptr;
    };
    if (!data || size > static_cast<size_t>(INT32_MAX)) return refuse("it is too large to read");
    std::unique_ptr<xmlParserCtxt, ParserCloser> parser(xmlNewParserCtxt());
    if (!parser || !parser->sax) return refuse("no parser could be made");
    bool declaresType = false;
    parser->_private = &declaresType;
    parser->sax->internalSubset = RefuseDocumentType;
    // No network, no entity expansion from outside, no DTD loading: a reply
    // is data, never instructions to fetch more.
    xmlDocPtr doc = xmlCtxtReadMemory(parser.get(), data, static_cast<int>(size), "reply.xml", nullptr,
                                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (declaresType) {
        if (doc) xmlFreeDoc(doc);
        return refuse("it declares a document type (DOCTYPE)");
    }
    if (!doc) return refuse("it is not well-formed XML");
    return std::make_unique<ReplyDocument>(doc);
}

ReplyDocumentPtr LoadReplyDocument(HGLOBAL buffer, std::string *why) {
    return LoadReplyDocument(static_cast<const char *>(buffer), GlobalSize(buffer), why);
}

int64_t ParseNumber(const std::string &text) {
    errno = 0;
    long long v = std::strtoll(text.c_str(), nullptr, 10);
    return v;
}

uint32_t ParseBoxNumber(const std::string &text, const std::string &what) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    const size_t last = text.find_last_not_of(" \t\r\n");
    uint32_t value = 0;
    bool ok = first != std::string::npos;
    for (size_t i = first; ok && i <= last; ++i) {
        const char c = text[i];
        // Stops at the first digit that would pass the bound: no wrap.
        ok = c >= '0' && c <= '9' && (value = value * 10 + static_cast<uint32_t>(c - '0')) <= kMaxEntryNumber;
    }
    if (!ok || value == 0)
        Raise(kMissing, vt::Format("%s names box \"%s\"; box numbers run from 1 to %u", what.c_str(),
                                   text.substr(0, vt::Utf8PrefixLength(text, 24)).c_str(), kMaxEntryNumber));
    return value;
}

void ParseTime(const std::string &text, SYSTEMTIME *out) {
    int32_t secs = static_cast<int32_t>(static_cast<uint32_t>(ParseNumber(text)));
    vt::UnixTimeToSystemTime(secs, out);
}

void CheckBoxResult(const std::string &text) {
    int64_t n = ParseNumber(text);
    if (n == 0) return;
    vt::DebugPrint("BOX CGI return ERROR = %s \n", text.c_str());
    struct Row {
        int64_t result;
        const char *name;
        vt::Code code;
    };
    static const Row kRows[] = {
        {1, nullptr, vt::Code::NOT_ENOUGH_MEMORY},
        {2, nullptr, vt::Code::WRONG_PASSWORD},
        {100, "S_BOXNW_BOX_ACCESS_ERROR", vt::Code::STORE_TIMEOUT},
        {101, nullptr, vt::Code::NOT_ON_DEVICE},
        {102, "S_BOXNW_WEB_SESSION_INIT_ERROR", vt::Code::WEB_SESSION_FAILED},
        {105, "S_BOXNW_WEB_EX_ERROR", vt::Code::DEVICE_IN_USE},
        {201, "S_BOXNW_BOX_IS_NOT_READY", vt::Code::STORE_BUSY},
        {202, "S_BOXNW_BOX_NO_SESSION", vt::Code::STORE_TIMEOUT},
        {203, nullptr, vt::Code::STORE_BUSY},
        {204, nullptr, vt::Code::NOT_ON_DEVICE},
        {205, "S_BOXNW_BOX_STS_UPDATE", vt::Code::STORE_BUSY},
        {206, nullptr, vt::Code::NOT_ENOUGH_MEMORY},
        {207, nullptr, vt::Code::STORE_BUSY},
        {208, nullptr, vt::Code::STORE_BUSY},
        {209, nullptr, vt::Code::STORE_BUSY},
        {210, nullptr, vt::Code::WRONG_PASSWORD},
        {211, "S_BOXNW_BOX_BOXISUSED", vt::Code::DEVICE_IN_USE},
        {212, "S_BOXNW_BOX_BACKUP_RESTORE_MODE", vt::Code::DEVICE_IN_USE},
        {300, "S_BOXNW_PANEL_EX_ERROR", vt::Code::DEVICE_IN_USE},
        {400, "S_BOXNW_JOB_EX_ERROR", vt::Code::DEVICE_IN_USE},
        {500, "S_BOXNW_NIC_FTP_CREATE_ERROR", vt::Code::FTP_ACCOUNT_FAILED},
        {501, "S_BOXNW_NIC_FTP_DELETE_ERROR", vt::Code::FTP_ACCOUNT_FAILED},
    };
    std::string detail = "the device answered Result " + std::to_string(n);
    for (const Row &row : kRows) {
        if (row.result != n) continue;
        if (row.name) {
            OutputDebugStringA(row.name);
            detail += std::string(" (") + row.name + ")";
        }
        Raise(row.code, detail);
    }
    Raise(vt::Code::INTERNAL_ERROR, detail);
}

uint32_t ListCount(ReplyDocument &doc, const char *listPath, const char *countAttribute, const char *itemsPath,
                   const char *what) {
    std::string text = NodeAttribute(doc, listPath, countAttribute);
    int64_t stated = ParseNumber(text);
    size_t held = doc.Select(itemsPath).size();
    if (stated < 0 || static_cast<uint64_t>(stated) != held)
        Raise(kMissing, vt::Format("%s counts %s (%s) but holds %zu", what,
                                   text.substr(0, vt::Utf8PrefixLength(text, 24)).c_str(), countAttribute, held));
    return static_cast<uint32_t>(held);
}

uint32_t NodeNumber(ReplyDocument &doc, const char *path) {
    return static_cast<uint32_t>(ParseNumber(NodeText(doc, path)));
}

std::string NodeText(ReplyDocument &doc, const char *path) {
    std::string v;
    if (uint32_t rc = doc.ReadNodeText(path, &v)) Raise(rc, std::string("no ") + path);
    return v;
}

std::string NodeAttribute(ReplyDocument &doc, const char *path, const char *name) {
    std::string v;
    if (uint32_t rc = doc.ReadNodeAttribute(path, name, &v))
        Raise(rc, std::string("no ") + path + " attribute " + name);
    return v;
}

std::string ItemAttribute(ReplyDocument &doc, const char *path, size_t index, const char *name) {
    std::string v;
    if (uint32_t rc = doc.ReadItemAttribute(path, index, name, &v))
        Raise(rc, vt::Format("no %s attribute %s in item %zu", path, name, index + 1));
    return v;
}

std::string ItemChildText(ReplyDocument &doc, const char *path, size_t index, const char *child) {
    std::string v;
    if (uint32_t rc = doc.ReadItemChildText(path, index, child, &v))
        Raise(rc, vt::Format("no %s/%s in item %zu", path, child, index + 1));
    return v;
}

uint32_t ItemChildNumber(ReplyDocument &doc, const char *path, size_t index, const char *child) {
    return static_cast<uint32_t>(ParseNumber(ItemChildText(doc, path, index, child)));
}

void ItemChildTime(ReplyDocument &doc, const char *path, size_t index, const char *child, SYSTEMTIME *out) {
    ParseTime(ItemChildText(doc, path, index, child), out);
}

std::u16string ItemChildWideText(ReplyDocument &doc, const char *path, size_t index, const char *child) {
    std::u16string v;
    if (uint32_t rc = doc.ReadItemChildWideText(path, index, child, &v))
        Raise(rc, vt::Format("no %s/%s in item %zu", path, child, index + 1));
    return v;
}

}  // namespace vtbox
