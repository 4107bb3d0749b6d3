// The box list and the box-level calls.
#include <cstring>
#include <set>

#include "boxcalls/box_call.hpp"
#include "session/boundary.hpp"
#include "vtplatform/diag.hpp"

using namespace vtbox;

namespace {

constexpr const char *kBoxItems = "BoxNwLib/Message/Boxes/BoxProp";
constexpr const char *kBoxProp = "BoxNwLib/Message/BoxProp";

std::string Child(ReplyDocument &doc, const char *child) {
    std::string v;
    if (uint32_t rc = doc.ReadChildText(kBoxProp, child, &v)) Raise(rc);
    return v;
}
uint32_t ChildNumber(ReplyDocument &doc, const char *child) {
    return static_cast<uint32_t>(ParseNumber(Child(doc, child)));
}

// The bytes between the first "<BoxName>" and the next "</BoxName>" of the
// reply as received, without any decoding.
void CopyRawBoxName(std::string_view raw, char *out) {
    constexpr std::string_view open = "<BoxName>", close = "</BoxName>";
    size_t a = raw.find(open);
    if (a == std::string_view::npos) return;
    a += open.size();
    size_t b = raw.find(close, a);
    if (b == std::string_view::npos) return;
    vt::CopyUtf8(out, 256, raw.substr(a, b - a));
}

}  // namespace

extern "C" {

HGLOBAL vtBoxGetBoxList(VTMFPSESSION *s, uint32_t *count, VTBOX **boxes) {
    return RunListExport("vtBoxGetBoxList", SessionIsOpen(s) && count && boxes, [&] {
        BoxReply r = CallBox(s, vt::Format("/VaultraBox/Admin/boxnwGetBoxList?SID=%08u", s->SessionId));
        ReplyDocument &doc = *r.doc;
        uint32_t n = ListCount(doc, "BoxNwLib/Message/Boxes", "NumOfBoxes", kBoxItems, "the box list");
        *count = n;
        GlobalBlock block(GlobalAlloc(GPTR, sizeof(VTBOX) * static_cast<size_t>(n)));
        if (!block) RaiseLastError();
        auto *array = static_cast<VTBOX *>(block.get());
        std::set<uint32_t> listed;
        for (uint32_t i = 0; i < n; ++i) {
            VTBOX &b = array[i];
            b.BoxNo = ParseBoxNumber(ItemAttribute(doc, kBoxItems, i, "BoxNo"), "the box list");
            // A number listed twice would send two jobs to one box.
            if (!listed.insert(b.BoxNo).second)
                Raise(vt::Code::BAD_FORMAT, vt::Format("the box list names box %03u twice", b.BoxNo));
            CopyField(b.BoxName, ItemChildText(doc, kBoxItems, i, "BoxName"));
            ItemChildTime(doc, kBoxItems, i, "LastUpdateDate", &b.LastUpdateDate);
            b.Reserved0 = 0;
            b.Protected = ItemChildNumber(doc, kBoxItems, i, "Protected");
        }
        *boxes = array;
        return block;
    });
}

uint32_t vtBoxGetBoxProperty(VTMFPSESSION *s, uint32_t boxNo, const char *password, VTBOXEX *box, char *rawName) {
    return RunExport("vtBoxGetBoxProperty", SessionIsOpen(s) && password && box, [&] {
        BoxReply r = CallBox(s, vt::Format("/VaultraBox/Admin/boxnwGetBoxProperty?SID=%08u&BNO=%03u&PWD=%s",
                                           s->SessionId, boxNo, QueryValue(password).c_str()));
        if (rawName) CopyRawBoxName(r.raw(), rawName);
        ReplyDocument &doc = *r.doc;
        box->BoxNo = static_cast<uint32_t>(ParseNumber(NodeAttribute(doc, kBoxProp, "BoxNo")));
        CopyField(box->BoxName, Child(doc, "BoxName"));
        CopyField(box->BoxOwner, Child(doc, "BoxOwner"));
        ParseTime(Child(doc, "CreateDate"), &box->CreateDate);
        box->Reserved0 = 0;
        box->Protected = ChildNumber(doc, "Protected");
        box->NumOfDocs = ChildNumber(doc, "NumOfDocs");
        box->NumOfFolders = ChildNumber(doc, "NumOfFolders");
        ParseTime(Child(doc, "LastUpdateDate"), &box->LastUpdateDate);
        box->BoxUsedDisk = ChildNumber(doc, "BoxUsedDisk");
        uint32_t hasPeriod = ChildNumber(doc, "PreservationPeriodFlag");
        box->PreservationPeriod = hasPeriod ? ChildNumber(doc, "PreservationPeriod") : 0;
        CopyField(box->WarningNotice, Child(doc, "WarningNotice"));
    });
}

uint32_t vtBoxDeleteAllBox(VTMFPSESSION *s, const char *password) {
    return RunExport("vtBoxDeleteAllBox", SessionIsOpen(s) && password, [&] {
        CallBox(s, vt::Format("/VaultraBox/Admin/boxnwDeleteAllBox?SID=%08u&PWD=%s", s->SessionId,
                              QueryValue(password).c_str()));
    });
}

uint32_t vtBoxGetBoxDiskSpace(VTMFPSESSION *s, const char *password, uint32_t *capacity, uint32_t *available) {
    return RunExport("vtBoxGetBoxDiskSpace", SessionIsOpen(s) && password && capacity && available, [&] {
        BoxReply r = CallBox(s, vt::Format("/VaultraBox/Admin/boxnwGetBoxDiskSpace?SID=%08u&PWD=%s", s->SessionId,
                                           QueryValue(password).c_str()));
        *capacity = NodeNumber(*r.doc, "BoxNwLib/Message/DiskCapacity");
        *available = NodeNumber(*r.doc, "BoxNwLib/Message/DiskAvailability");
        vt::DebugPrint(" DiskCapacity = %d DiskAvailability = %d \n", static_cast<int>(*capacity),
                       static_cast<int>(*available));
    });
}

}  // extern "C"
