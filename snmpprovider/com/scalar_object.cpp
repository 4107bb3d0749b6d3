#include "scalar_object.hpp"

#include "element.hpp"
#include "provider.hpp"

namespace kx9 {

namespace {

HRESULT TextOut(const std::string &utf8, BSTR *out) {
    if (!out) return E_POINTER;
    *out = vtSysAllocStringUtf8(utf8.c_str());
    return *out ? S_OK : E_OUTOFMEMORY;
}

const MapEntry &EntryAt(int position) { return TheProvider()->schema().at(static_cast<size_t>(position)); }

}  // namespace

const IDSE_SNMPSCALARVtbl ScalarObject::kVtbl = {
    KX9_ELEMENT_SLOTS(IDSE_SNMPSCALAR, ScalarObject),
    &Thunk<IDSE_SNMPSCALAR, &ScalarObject::get_ValueCount>::Call,
    &Thunk<IDSE_SNMPSCALAR, &ScalarObject::GetListValue>::Call,
    &Thunk<IDSE_SNMPSCALAR, &ScalarObject::PutListValue>::Call,
    &Thunk<IDSE_SNMPSCALAR, &ScalarObject::GetListInstance>::Call,
    &Thunk<IDSE_SNMPSCALAR, &ScalarObject::get_Name>::Call,
    &Thunk<IDSE_SNMPSCALAR, &ScalarObject::get_Oid>::Call,
    &Thunk<IDSE_SNMPSCALAR, &ScalarObject::get_Description>::Call,
    &Thunk<IDSE_SNMPSCALAR, &ScalarObject::get_Syntax>::Call,
    &Thunk<IDSE_SNMPSCALAR, &ScalarObject::get_Access>::Call,
};

ScalarObject::ScalarObject(ElementObject *owner, int position)
    : owner_(owner), position_(position), id_(EntryAt(position).elementId) {
    iface_.Bind(&kVtbl, this);
}

int ScalarObject::position() const {
    std::lock_guard<std::mutex> g(m_);
    return position_;
}

Operation ScalarObject::OperationFor(const Connection &c, bool write) const {
    const MapEntry &e = EntryAt(position());
    Operation op;
    op.oid = OidText(e.oid);
    op.address = c.address;
    op.community = write ? c.writeCommunity : c.readCommunity;
    op.timeout = c.timeout;
    op.retries = c.retries;
    op.syntax = e.syntax;
    op.inTable = e.inTable;
    op.indexSlots = e.IndexSlotsInUse();
    return op;
}

HRESULT ScalarObject::OperationFor(bool write, Operation *op) {
    ComRef<IDSE_ELEMENT> parent;
    {
        std::lock_guard<std::mutex> g(m_);
        parent = parent_;
    }
    Connection c;
    if (FAILED(ReadConnection(parent.get(), &c))) return E_FAIL;
    *op = OperationFor(c, write);
    return S_OK;
}

int ScalarObject::Run(int kind, const Operation &op) {
    std::lock_guard<std::mutex> g(operation_);
    snmp::Snmp &session = TheProvider()->session();
    int state;
    if (kind == kRequestWrite) {
        state = Write(session, op, lists_);
    } else {
        lists_.Clear();
        ValueSet values;
        state = kind == kRequestTableRead ? TableRead(session, op, &values) : SingleRead(session, op, &values);
        lists_.Replace(std::move(values));
    }
    state_ = state;
    return state;
}

HRESULT ScalarObject::Complete(IDSECallback *callback) {
    if (callback) callback->lpVtbl->Complete(callback, reinterpret_cast<IDSE_ELEMENT *>(Interface()));
    return S_OK;
}

HRESULT ScalarObject::Operate(bool write, IDSECallback *callback) {
    {
        std::lock_guard<std::mutex> g(m_);
        callback_ = ComRef<IDSECallback>(callback);
    }
    Operation op;
    if (FAILED(OperationFor(write, &op))) {
        state_ = DSE_ELEMENT_OP_TRANSPORT_ERROR;
        return E_FAIL;
    }
    int kind = write ? kRequestWrite : op.inTable ? kRequestTableRead : kRequestSingleRead;
    Run(kind, op);
    return Complete(callback);
}

HRESULT ScalarObject::QueryInterface(REFIID riid, void **ppv) {
    if (!ppv) return E_POINTER;
    if (riid && IsEqualGUID(riid, &IID_IDSE_SNMPSCALAR)) {
        AddRef();
        *ppv = Interface();
        return S_OK;
    }
    return owner_->QueryInterface(riid, ppv);
}

ULONG ScalarObject::AddRef() { return owner_->AddRef(); }
ULONG ScalarObject::Release() { return owner_->Release(); }

HRESULT ScalarObject::SetParent(IDSE_ELEMENT *pParent) {
    Connection c;
    if (FAILED(ReadConnection(pParent, &c))) return E_FAIL;
    std::lock_guard<std::mutex> g(m_);
    parent_ = ComRef<IDSE_ELEMENT>(pParent);
    return S_OK;
}

HRESULT ScalarObject::GetValue(IDSECallback *pCallback) { return Operate(false, pCallback); }
HRESULT ScalarObject::SetValue(IDSECallback *pCallback) { return Operate(true, pCallback); }
HRESULT ScalarObject::Abort() { return S_OK; }

HRESULT ScalarObject::get_ElementParent(IDSE_ELEMENT **pParent) {
    if (!pParent) return E_POINTER;
    std::lock_guard<std::mutex> g(m_);
    *pParent = ComRef<IDSE_ELEMENT>(parent_).detach();
    return S_OK;
}

HRESULT ScalarObject::get_ElementType(DSE_ELEMENT_TYPE *pType) {
    if (!pType) return E_POINTER;
    *pType = DSE_SCALAR;
    return S_OK;
}

HRESULT ScalarObject::get_ElementId(int *pId) {
    if (!pId) return E_POINTER;
    std::lock_guard<std::mutex> g(m_);
    *pId = id_;
    return S_OK;
}

HRESULT ScalarObject::put_ElementId(int id) {
    int position = TheProvider()->schema().Find(id);
    if (position < 0) return S_FALSE;
    std::lock_guard<std::mutex> g(m_);
    id_ = id;
    position_ = position;  // the operations follow the number
    return S_OK;
}

HRESULT ScalarObject::get_RefreshTime(int *pTime) {
    if (!pTime) return E_POINTER;
    *pTime = EntryAt(position()).kind;
    return S_OK;
}

HRESULT ScalarObject::get_ElementTimeout(int *) { return S_OK; }
HRESULT ScalarObject::put_ElementTimeout(int) { return S_OK; }

HRESULT ScalarObject::get_ElementState(DSE_ELEMENT_STATE *pState) {
    if (!pState) return E_POINTER;
    *pState = static_cast<DSE_ELEMENT_STATE>(state_.load());
    return S_OK;
}

HRESULT ScalarObject::get_ElementCollectionID(int *pCollectionID) {
    if (!pCollectionID) return E_POINTER;
    const MapEntry &e = EntryAt(position());
    if (!e.inTable) return E_FAIL;
    *pCollectionID = EntryAt(e.table).elementId;
    return S_OK;
}

HRESULT ScalarObject::get_ValueCount(int list, int *pCount) {
    if (!pCount) return E_POINTER;
    int n = lists_.Count(list);
    if (n < 0) return DISP_E_BADINDEX;
    *pCount = n;
    return S_OK;
}

HRESULT ScalarObject::GetListValue(int list, int index, VARIANT *pValue) { return lists_.Get(list, index, pValue); }

HRESULT ScalarObject::PutListValue(int list, int index, const VARIANT *pValue) {
    if (!pValue) return E_POINTER;
    return lists_.Put(list, index, *pValue);
}

HRESULT ScalarObject::GetListInstance(int list, int index, BSTR *pInstance) {
    if (!pInstance) return E_POINTER;
    *pInstance = nullptr;
    std::string instance;
    bool has = false;
    HRESULT hr = lists_.Instance(list, index, &instance, &has);
    if (FAILED(hr) || !has) return hr;
    return TextOut(instance, pInstance);
}

HRESULT ScalarObject::get_Name(BSTR *pName) { return TextOut(EntryAt(position()).name, pName); }
HRESULT ScalarObject::get_Oid(BSTR *pOid) { return TextOut(OidText(EntryAt(position()).oid), pOid); }

HRESULT ScalarObject::get_Description(BSTR *pDescription) {
    if (!pDescription) return E_POINTER;
    const std::u16string &d = EntryAt(position()).description;
    *pDescription = SysAllocStringLen(d.data(), static_cast<UINT>(d.size()));
    return *pDescription ? S_OK : E_OUTOFMEMORY;
}

HRESULT ScalarObject::get_Syntax(int *pSyntax) {
    if (!pSyntax) return E_POINTER;
    *pSyntax = EntryAt(position()).syntax;
    return S_OK;
}

HRESULT ScalarObject::get_Access(int *pAccess) {
    if (!pAccess) return E_POINTER;
    *pAccess = EntryAt(position()).access;
    return S_OK;
}

}  // namespace kx9
