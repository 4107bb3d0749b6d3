// The box service's replies: loading and every lookup the box calls make.
#include "fuzz_target.h"
#include "session/result.hpp"
#include "xmlreply/reply_document.hpp"

namespace {

using namespace vtbox;

// A list of a reply: its count attribute, its items, and what each item holds.
struct List {
    const char *countNode;
    const char *countAttribute;
    const char *items;
    const char *idAttribute;
    std::initializer_list<const char *> children;
};

const List kLists[] = {
    {"BoxNwLib/Message/Boxes",
     "NumOfBoxes",
     "BoxNwLib/Message/Boxes/BoxProp",
     "BoxNo",
     {"BoxName", "LastUpdateDate", "Protected"}},
    {"BoxNwLib/Message/Folders",
     "NumOfFolders",
     "BoxNwLib/Message/Folders/FolderProp",
     "FolderID",
     {"FolderName", "CreateDate", "LastUpdateDate", "NumOfDocs"}},
    {"BoxNwLib/Message/Documents",
     "NumOfDocs",
     "BoxNwLib/Message/Documents/DocProp",
     "DocID",
     {"DocName", "CreateDate", "LastUpdateDate", "DocStatus", "LastAccessDate", "NumOfPages", "DocSize", "SourceType",
      "ColorMonoMix", "ThumbnailPath", "ThumbnailRotation", "MResolution", "SResolution", "ScanDuplex"}},
};

const char *const kValues[] = {
    "BoxNwLib/Message/SessionInfo/WebSessionID",
    "BoxNwLib/Message/VersionInfo/EngineVersion",
    "BoxNwLib/Message/MACAddress",
    "BoxNwLib/Message/CurrentTime",
    "BoxNwLib/Message/LoginName",
    "BoxNwLib/Message/DiskCapacity",
    "BoxNwLib/Message/DiskAvailability",
    "BoxNwLib/Message/BoxProp/BoxName",
    "BoxNwLib/Message/BoxProp/CreateDate",
    "BoxNwLib/Message/BoxProp/WarningNotice",
};

template <typename F>
void Try(F &&step) {
    try {
        step();
    } catch (const BoxError &) {}
}

}  // namespace

VT_FUZZ_TARGET(xmlreply) {
    ReplyDocumentPtr doc = LoadReplyDocument(reinterpret_cast<const char *>(data), size);
    if (!doc) return 0;
    Try([&] { CheckBoxResult(NodeText(*doc, "BoxNwLib/Message/Result")); });
    for (const char *path : kValues) {
        Try([&] {
            SYSTEMTIME t;
            ParseTime(NodeText(*doc, path), &t);
            NodeNumber(*doc, path);
        });
    }
    for (const List &list : kLists) {
        Try([&] {
            const auto count =
                static_cast<uint32_t>(ParseNumber(NodeAttribute(*doc, list.countNode, list.countAttribute)));
            // The calls refuse a list shorter than its count before they read it.
            const size_t items = doc->Select(list.items).size();
            for (size_t i = 0; i < count && i < items; ++i) {
                Try([&] { ItemAttribute(*doc, list.items, i, list.idAttribute); });
                for (const char *child : list.children) {
                    Try([&] {
                        SYSTEMTIME t;
                        ItemChildTime(*doc, list.items, i, child, &t);
                        ItemChildNumber(*doc, list.items, i, child);
                        ItemChildWideText(*doc, list.items, i, child);
                    });
                }
            }
        });
    }
    return 0;
}
