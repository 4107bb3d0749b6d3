#include "collection_object.hpp"

#include <algorithm>

#include "element.hpp"
#include "scalar_object.hpp"

namespace kx9 {

namespace {

const Schema &TheSchema() { return TheProvider()->schema(); }

bool IsColumn(const MapEntry &e) {
    return e.syntax != kSyntaxUnset && e.access != kAccessNotAccessible && ElementTypeOfKind(e.kind) == DSE_SCALAR;
}

}  // namespace

const IDSE_SNMPCOLLECTIONVtbl CollectionObject::kVtbl = {
    KX9_ELEMENT_SLOTS(IDSE_SNMPCOLLECTION, CollectionObject),
    &Thunk<IDSE_SNMPCOLLECTION, &CollectionObject::get_Iterator>::Call,
};

CollectionObject::CollectionObject(ElementObject *owner, int position) : owner_(owner), position_(position) {
    iface_.Bind(&kVtbl, this);
    const Schema &schema = TheSchema();
    if (position_ < 0) {
        for (size_t i = schema.FirstRoot(); i < schema.size(); ++i) members_.push_back(schema.at(i).elementId);
    } else {
        for (int child : schema.Children(position_)) members_.push_back(schema.at(child).elementId);
    }
}

CollectionObject::~CollectionObject() = default;

std::unique_ptr<CollectionObject> CollectionObject::ForElement(ElementObject *owner, int position) {
    return std::unique_ptr<CollectionObject>(new CollectionObject(owner, position));
}

CollectionObject *CollectionObject::ForSchema() { return new (std::nothrow) CollectionObject(nullptr, -1); }

HRESULT CollectionObject::FindElement(int elementId, IDSE_ELEMENT **pElement) {
    if (!pElement) return E_POINTER;
    *pElement = nullptr;
    // The schema collection finds every element; an element's only its children.
    bool known = position_ < 0 ? TheSchema().Find(elementId) >= 0
                               : std::find(members_.begin(), members_.end(), elementId) != members_.end();
    if (!known) return S_FALSE;
    std::lock_guard<std::mutex> g(m_);
    auto it = kept_.find(elementId);
    if (it == kept_.end()) {
        ElementObject *made = ElementObject::New();
        if (!made) return E_OUTOFMEMORY;
        ComRef<IDSE_ELEMENT> element(made->Interface());
        if (made->put_ElementId(elementId) != S_OK) return E_UNEXPECTED;
        it = kept_.emplace(elementId, std::move(element)).first;
    }
    *pElement = ComRef<IDSE_ELEMENT>(it->second).detach();
    return S_OK;
}

void CollectionObject::RequestDone(IDSECallback *, int state) {
    ComRef<IDSECallback> callback;
    {
        std::lock_guard<std::mutex> g(m_);
        if (state != DSE_ELEMENT_NO_ERROR && readState_ == DSE_ELEMENT_NO_ERROR) readState_ = state;
        if (--outstanding_ > 0) return;
        state_ = readState_;
        callback = std::move(pending_);
    }
    if (callback) callback->lpVtbl->Complete(callback.get(), reinterpret_cast<IDSE_ELEMENT *>(Interface()));
}

HRESULT CollectionObject::QueryInterface(REFIID riid, void **ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!riid) return E_INVALIDARG;
    if (IsEqualGUID(riid, &IID_IDSE_SNMPCOLLECTION)) {
        AddRef();
        *ppv = Interface();
        return S_OK;
    }
    if (owner_) return owner_->QueryInterface(riid, ppv);
    if (IsEqualGUID(riid, &IID_IUnknown) || IsEqualGUID(riid, &IID_IDSE_ELEMENT)) {
        AddRef();
        *ppv = Interface();
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG CollectionObject::AddRef() { return owner_ ? owner_->AddRef() : refs_.Add(); }

ULONG CollectionObject::Release() {
    if (owner_) return owner_->Release();
    ULONG n = refs_.Drop();
    if (n == 0) delete this;
    return n;
}

HRESULT CollectionObject::SetParent(IDSE_ELEMENT *pParent) {
    Connection c;
    if (FAILED(ReadConnection(pParent, &c))) return E_FAIL;
    std::lock_guard<std::mutex> g(m_);
    parent_ = ComRef<IDSE_ELEMENT>(pParent);
    return S_OK;
}

// Reads every column of the table: one queued table read per column, into
// the column elements this collection keeps. Complete comes from the worker
// once the last column is in.
HRESULT CollectionObject::GetValue(IDSECallback *pCallback) {
    if (position_ < 0 || TheSchema().at(position_).kind != kKindTable) return E_NOTIMPL;
    ComRef<IDSE_ELEMENT> parent;
    {
        std::lock_guard<std::mutex> g(m_);
        if (outstanding_ > 0) return E_UNEXPECTED;  // a read is in progress
        parent = parent_;
    }
    Connection c;
    if (FAILED(ReadConnection(parent.get(), &c))) {
        std::lock_guard<std::mutex> g(m_);
        state_ = DSE_ELEMENT_OP_TRANSPORT_ERROR;
        return E_FAIL;
    }
    std::vector<Request> requests;
    for (int32_t id : members_) {
        if (!IsColumn(*TheSchema().FindByElementId(id))) continue;
        ComRef<IDSE_ELEMENT> column;
        HRESULT hr = FindElement(id, column.put());
        if (FAILED(hr)) return hr;
        ScalarObject *scalar = nullptr;
        hr = SelfOf<ElementObject>(column.get())->Scalar(&scalar);
        if (FAILED(hr)) return hr;
        Request r;
        r.kind = kRequestTableRead;
        r.element = ComRef<ScalarObject>(scalar);
        r.op = scalar->OperationFor(c, false);
        r.target = ComRef<CompletionTarget>(this);
        requests.push_back(std::move(r));
    }
    {
        std::lock_guard<std::mutex> g(m_);
        outstanding_ = static_cast<int>(requests.size()) + 1;  // + 1 until all are queued
        readState_ = DSE_ELEMENT_NO_ERROR;
        state_ = DSE_ELEMENT_OP_IN_PROGRESS;
        pending_ = ComRef<IDSECallback>(pCallback);
    }
    for (Request &r : requests)
        if (!TheProvider()->Enqueue(std::move(r))) RequestDone(nullptr, DSE_ELEMENT_OP_GEN_ERROR);
    RequestDone(nullptr, DSE_ELEMENT_NO_ERROR);  // completes here only when there was nothing to read
    return S_OK;
}

HRESULT CollectionObject::SetValue(IDSECallback *) { return E_NOTIMPL; }
HRESULT CollectionObject::Abort() { return S_OK; }

HRESULT CollectionObject::get_ElementParent(IDSE_ELEMENT **pParent) {
    if (!pParent) return E_POINTER;
    std::lock_guard<std::mutex> g(m_);
    *pParent = ComRef<IDSE_ELEMENT>(parent_).detach();
    return S_OK;
}

HRESULT CollectionObject::get_ElementType(DSE_ELEMENT_TYPE *pType) {
    if (!pType) return E_POINTER;
    *pType = DSE_COLLECTION;
    return S_OK;
}

HRESULT CollectionObject::get_ElementId(int *pId) {
    if (!pId) return E_POINTER;
    *pId = position_ < 0 ? 0 : TheSchema().at(position_).elementId;
    return S_OK;
}

HRESULT CollectionObject::put_ElementId(int) { return E_NOTIMPL; }
HRESULT CollectionObject::get_RefreshTime(int *) { return S_OK; }
HRESULT CollectionObject::get_ElementTimeout(int *) { return S_OK; }
HRESULT CollectionObject::put_ElementTimeout(int) { return S_OK; }

HRESULT CollectionObject::get_ElementState(DSE_ELEMENT_STATE *pState) {
    if (!pState) return E_POINTER;
    std::lock_guard<std::mutex> g(m_);
    *pState = static_cast<DSE_ELEMENT_STATE>(state_);
    return S_OK;
}

HRESULT CollectionObject::get_ElementCollectionID(int *) { return E_FAIL; }

HRESULT CollectionObject::get_Iterator(IDSE_EP_ITERATOR **ppIterator) {
    if (!ppIterator) return E_POINTER;
    IteratorObject *it = IteratorObject::New(this);
    if (!it) {
        *ppIterator = nullptr;
        return E_OUTOFMEMORY;
    }
    it->AddRef();
    *ppIterator = it->Interface();
    return S_OK;
}

// ---- iterator ---------------------------------------------------------------

const IDSE_EP_ITERATORVtbl IteratorObject::kVtbl = {
    &Thunk<IDSE_EP_ITERATOR, &IteratorObject::QueryInterface>::Call,
    &Thunk<IDSE_EP_ITERATOR, &IteratorObject::AddRef>::Call,
    &Thunk<IDSE_EP_ITERATOR, &IteratorObject::Release>::Call,
    &Thunk<IDSE_EP_ITERATOR, &IteratorObject::Next>::Call,
    &Thunk<IDSE_EP_ITERATOR, &IteratorObject::Skip>::Call,
    &Thunk<IDSE_EP_ITERATOR, &IteratorObject::Reset>::Call,
    &Thunk<IDSE_EP_ITERATOR, &IteratorObject::Clone>::Call,
    &Thunk<IDSE_EP_ITERATOR, &IteratorObject::FindElement>::Call,
};

IteratorObject::IteratorObject(CollectionObject *collection, size_t position)
    : collection_(collection), position_(position) {
    iface_.Bind(&kVtbl, this);
}

IteratorObject *IteratorObject::New(CollectionObject *collection, size_t position) {
    return new (std::nothrow) IteratorObject(collection, position);
}

HRESULT IteratorObject::QueryInterface(REFIID riid, void **ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!riid) return E_INVALIDARG;
    if (IsEqualGUID(riid, &IID_IUnknown) || IsEqualGUID(riid, &IID_IEnumVARIANT) ||
        IsEqualGUID(riid, &IID_IDSE_EP_ITERATOR)) {
        AddRef();
        *ppv = Interface();
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG IteratorObject::AddRef() { return refs_.Add(); }

ULONG IteratorObject::Release() {
    ULONG n = refs_.Drop();
    if (n == 0) delete this;
    return n;
}

HRESULT IteratorObject::Next(ULONG celt, VARIANT *rgVar, ULONG *pCeltFetched) {
    if (!rgVar || (!pCeltFetched && celt != 1)) return E_POINTER;
    const std::vector<int32_t> &members = collection_->members();
    std::lock_guard<std::mutex> g(m_);
    ULONG fetched = 0;
    while (fetched < celt && position_ < members.size()) {
        VariantInit(&rgVar[fetched]);
        rgVar[fetched].vt = VT_I4;
        rgVar[fetched].lVal = members[position_++];
        ++fetched;
    }
    if (pCeltFetched) *pCeltFetched = fetched;
    return fetched == celt ? S_OK : S_FALSE;
}

HRESULT IteratorObject::Skip(ULONG celt) {
    size_t count = collection_->members().size();
    std::lock_guard<std::mutex> g(m_);
    size_t left = count - std::min(position_, count);
    position_ += std::min<size_t>(celt, left);
    return celt <= left ? S_OK : S_FALSE;
}

HRESULT IteratorObject::Reset() {
    std::lock_guard<std::mutex> g(m_);
    position_ = 0;
    return S_OK;
}

HRESULT IteratorObject::Clone(IEnumVARIANT **ppEnum) {
    if (!ppEnum) return E_POINTER;
    size_t position;
    {
        std::lock_guard<std::mutex> g(m_);
        position = position_;
    }
    IteratorObject *copy = New(collection_.get(), position);
    if (!copy) {
        *ppEnum = nullptr;
        return E_OUTOFMEMORY;
    }
    copy->AddRef();
    *ppEnum = reinterpret_cast<IEnumVARIANT *>(copy->Interface());
    return S_OK;
}

HRESULT IteratorObject::FindElement(int elementId, IDSE_ELEMENT **pElement) {
    return collection_->FindElement(elementId, pElement);
}

}  // namespace kx9
