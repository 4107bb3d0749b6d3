// Folder and document calls: the listing of a box or folder, deleting a
// document, and the serial/cluster change request.
#include <limits>

#include "boxcalls/box_call.hpp"
#include "boxcalls/element_maps.hpp"
#include "session/boundary.hpp"
#include "vtplatform/diag.hpp"

using namespace vtbox;

namespace {

constexpr const char *kFolders = "BoxNwLib/Message/Folders/FolderProp";
constexpr const char *kDocs = "BoxNwLib/Message/Documents/DocProp";

// "F0000012" -> 12: the number starts after the letter.
uint32_t IdFrom(const std::string &attribute) {
    return attribute.empty() ? 0 : static_cast<uint32_t>(ParseNumber(attribute.substr(1)));
}

void FillName(VTBOXELEMENT &e, const std::u16string &name) {
    vt::CopyUtf16(reinterpret_cast<char16_t *>(e.Name), 128, name);
}

void FillFolder(ReplyDocument &doc, size_t i, VTBOXELEMENT &e) {
    e.Kind = 0;
    e.Id = IdFrom(ItemAttribute(doc, kFolders, i, "FolderID"));
    FillName(e, ItemChildWideText(doc, kFolders, i, "FolderName"));
    ItemChildTime(doc, kFolders, i, "CreateDate", &e.CreateDate);
    ItemChildTime(doc, kFolders, i, "LastUpdateDate", &e.LastUpdateDate);
    e.StatusFlag = 0;
    e.NumOfDocs = ItemChildNumber(doc, kFolders, i, "NumOfDocs");
}

void FillDocument(ReplyDocument &doc, size_t i, VTBOXELEMENT &e) {
    e.Kind = 1;
    e.Id = IdFrom(ItemAttribute(doc, kDocs, i, "DocID"));
    FillName(e, ItemChildWideText(doc, kDocs, i, "DocName"));
    ItemChildTime(doc, kDocs, i, "CreateDate", &e.CreateDate);
    ItemChildTime(doc, kDocs, i, "LastUpdateDate", &e.LastUpdateDate);
    e.StatusFlag = ItemChildNumber(doc, kDocs, i, "DocStatus") == 2 ? 0 : 1;
    ItemChildTime(doc, kDocs, i, "LastAccessDate", &e.LastAccessDate);
    e.NumOfPages = ItemChildNumber(doc, kDocs, i, "NumOfPages");
    e.DocSize = KilobytesToBytes(ItemChildNumber(doc, kDocs, i, "DocSize"));
    e.SourceType = MapSourceType(ItemChildNumber(doc, kDocs, i, "SourceType"));
    e.ColorMode = MapColorMode(ItemChildNumber(doc, kDocs, i, "ColorMonoMix"));
    vt::CopyUtf8(e.ThumbnailPath, sizeof e.ThumbnailPath, ItemChildText(doc, kDocs, i, "ThumbnailPath"));
    uint32_t rotation = ItemChildNumber(doc, kDocs, i, "ThumbnailRotation");
    const char *first = RotationSwapsResolutions(rotation) ? "SResolution" : "MResolution";
    const char *second = RotationSwapsResolutions(rotation) ? "MResolution" : "SResolution";
    e.XResolution = ItemChildNumber(doc, kDocs, i, first);
    e.YResolution = ItemChildNumber(doc, kDocs, i, second);
    e.Duplex = MapDuplex(ItemChildNumber(doc, kDocs, i, "ScanDuplex"));
}

std::string FolderQuery(uint32_t folder) { return folder ? vt::Format("F%07u", folder) : std::string(); }
std::string DocQuery(uint32_t doc) { return doc ? vt::Format("D%07u", doc) : std::string(); }

}  // namespace

extern "C" {

HGLOBAL vtBoxGetCollection(VTMFPSESSION *s, uint32_t boxNo, const char *password, uint32_t folderNo, uint32_t *count,
                           VTBOXELEMENT **elements) {
    return RunListExport("vtBoxGetCollection", SessionIsOpen(s) && password && count && elements, [&] {
        BoxReply r =
            CallBox(s, vt::Format("/VaultraBox/Admin/boxnwGetFolderDocList?SID=%08u&BNO=%03u&PWD=%s&FID=%s",
                                  s->SessionId, boxNo, QueryValue(password).c_str(), FolderQuery(folderNo).c_str()));
        ReplyDocument &doc = *r.doc;
        std::string what = vt::Format("the list of box %03u", boxNo);
        uint64_t nf = ListCount(doc, "BoxNwLib/Message/Folders", "NumOfFolders", kFolders, what.c_str());
        uint64_t nd = ListCount(doc, "BoxNwLib/Message/Documents", "NumOfDocs", kDocs, what.c_str());
        if (nf + nd > std::numeric_limits<uint32_t>::max()) Raise(vt::Code::BAD_FORMAT);
        *count = static_cast<uint32_t>(nf + nd);
        if (nf + nd == 0) {
            GlobalBlock empty(GlobalAlloc(GPTR, 4));
            if (!empty) RaiseLastError();
            *elements = static_cast<VTBOXELEMENT *>(empty.get());
            return empty;
        }
        GlobalBlock block(GlobalAlloc(GPTR, sizeof(VTBOXELEMENT) * static_cast<size_t>(nf + nd)));
        if (!block) RaiseLastError();
        auto *array = static_cast<VTBOXELEMENT *>(block.get());
        for (size_t i = 0; i < nf; ++i) FillFolder(doc, i, array[i]);
        for (size_t j = 0; j < nd; ++j) FillDocument(doc, j, array[nf + j]);
        *elements = array;
        return block;
    });
}

uint32_t vtBoxDeleteDocument(VTMFPSESSION *s, uint32_t boxNo, const char *password, uint32_t folderNo, uint32_t docNo) {
    return RunExport("vtBoxDeleteDocument", SessionIsOpen(s) && password, [&] {
        if (docNo == 0) Raise(vt::Code::INVALID_PARAMETER);
        CallBox(
            s, vt::Format("/VaultraBox/Admin/boxnwDeleteDoc?SID=%08u&BNO=%03u&PWD=%s&FID=%s&DID=%s", s->SessionId,
                          boxNo, QueryValue(password).c_str(), FolderQuery(folderNo).c_str(), DocQuery(docNo).c_str()));
    });
}

uint32_t vtBoxDirSerialClusterChange(VTMFPSESSION *s, uint32_t boxNo, const char *password, uint32_t folderNo,
                                     uint32_t docNo, uint32_t noc, uint32_t mod) {
    return RunExport("vtBoxDirSerialClusterChange", SessionIsOpen(s) && password, [&] {
        CallBox(s, vt::Format("/VaultraBox/Admin/boxnwDirSerialClusterChange?SID=%08u&BNO=%03u&PWD=%s&FID=%s&DID=%s"
                              "&NOC=%01u&MOD=%01u",
                              s->SessionId, boxNo, QueryValue(password).c_str(), FolderQuery(folderNo).c_str(),
                              DocQuery(docNo).c_str(), noc, mod));
    });
}

}  // extern "C"
