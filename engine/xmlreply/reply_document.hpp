// Reply documents of the box service (and description files): loading and
// value lookups by simple child paths such as "BoxNwLib/Message/Result".
#pragma once

#include <libxml/tree.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "vtplatform.h"

namespace vtbox {

class ReplyDocument {
public:
    explicit ReplyDocument(xmlDocPtr doc) : doc_(doc) {}
    ~ReplyDocument();
    ReplyDocument(const ReplyDocument &) = delete;
    ReplyDocument &operator=(const ReplyDocument &) = delete;

    // Every lookup returns 0 or 11 (something missing). Text comes out as
    // UTF-8 (or UTF-16 for the wide form), whole; callers cut it to their fields.
    uint32_t ReadNodeText(const char *path, std::string *out);
    uint32_t ReadChildText(const char *path, const char *child, std::string *out);
    uint32_t ReadNodeAttribute(const char *path, const char *name, std::string *out);
    uint32_t ReadItemAttribute(const char *path, size_t index, const char *name, std::string *out);
    uint32_t ReadItemChildText(const char *path, size_t index, const char *child, std::string *out);
    uint32_t ReadItemChildWideText(const char *path, size_t index, const char *child, std::u16string *out);

    // The nodes matching a path, in document order. The list for a path is
    // found once and kept, so that reading a list of n items costs n, not n².
    const std::vector<xmlNodePtr> &Select(const char *path);

private:
    xmlDocPtr doc_;
    std::map<std::string, std::vector<xmlNodePtr>> selections_;
};

using ReplyDocumentPtr = std::unique_ptr<ReplyDocument>;

// Parses a reply block (its whole allocated size; trailing blanks are fine).
// Null with last error 11 when it is not a well-formed XML document, or when
// it declares a document type (the parse stops there, before any entity is
// declared or expanded). why, when given, receives the reason in words.
ReplyDocumentPtr LoadReplyDocument(HGLOBAL buffer, std::string *why = nullptr);
ReplyDocumentPtr LoadReplyDocument(const char *data, size_t size, std::string *why = nullptr);

// Value forms: numbers as the C library reads them ("  12abc" is 12, "x" is 0),
// times as signed 32-bit seconds since 1970 (UTC).
int64_t ParseNumber(const std::string &text);
void ParseTime(const std::string &text, SYSTEMTIME *out);

// A box number as the device and a description write it: decimal digits
// only, blanks around them aside, from 1 to kMaxEntryNumber (the device's
// three-digit box names). Anything else (a sign, a fraction, 0, 1000, a
// number that would wrap) raises 11, with what naming the value's place.
uint32_t ParseBoxNumber(const std::string &text, const std::string &what);

// Maps a reply's Result text to a result code: returns for success, raises
// the mapped code otherwise (printing the device's constant name first).
void CheckBoxResult(const std::string &text);

// The count a list states (its attribute, read as a number with nothing cut
// off) when it agrees with the entries the list holds; raises 11 otherwise, so
// that a reply or file that says 0 (or 2^32) and lists two is refused, not
// read as empty. what names the list in the failure's detail.
uint32_t ListCount(ReplyDocument &doc, const char *listPath, const char *countAttribute, const char *itemsPath,
                   const char *what);

// The numeric and time forms of the lookups: raise 11 when the value is missing.
uint32_t NodeNumber(ReplyDocument &doc, const char *path);
std::string NodeText(ReplyDocument &doc, const char *path);
std::string NodeAttribute(ReplyDocument &doc, const char *path, const char *name);
std::string ItemAttribute(ReplyDocument &doc, const char *path, size_t index, const char *name);
std::string ItemChildText(ReplyDocument &doc, const char *path, size_t index, const char *child);
uint32_t ItemChildNumber(ReplyDocument &doc, const char *path, size_t index, const char *child);
void ItemChildTime(ReplyDocument &doc, const char *path, size_t index, const char *child, SYSTEMTIME *out);
std::u16string ItemChildWideText(ReplyDocument &doc, const char *path, size_t index, const char *child);

}  // namespace vtbox
