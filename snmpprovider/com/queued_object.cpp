#include "queued_object.hpp"

#include "element.hpp"
#include "scalar_object.hpp"

namespace kx9 {

const IDSE_SNMPQUEUEDVtbl QueuedObject::kVtbl = {KX9_ELEMENT_SLOTS(IDSE_SNMPQUEUED, QueuedObject)};

QueuedObject::QueuedObject(ElementObject *owner, ScalarObject *scalar) : owner_(owner), scalar_(scalar) {
    iface_.Bind(&kVtbl, this);
}

HRESULT QueuedObject::Queue(bool write, IDSECallback *callback) {
    Request r;
    if (FAILED(scalar_->OperationFor(write, &r.op))) {
        std::lock_guard<std::mutex> g(m_);
        state_ = DSE_ELEMENT_OP_TRANSPORT_ERROR;
        return E_FAIL;
    }
    r.kind = write ? kRequestWrite : r.op.inTable ? kRequestTableRead : kRequestSingleRead;
    r.element = ComRef<ScalarObject>(scalar_);
    r.target = ComRef<CompletionTarget>(this);
    r.callback = ComRef<IDSECallback>(callback);
    {
        std::lock_guard<std::mutex> g(m_);
        ++pending_;
    }
    if (!TheProvider()->Enqueue(std::move(r))) {
        std::lock_guard<std::mutex> g(m_);
        --pending_;
        return E_UNEXPECTED;
    }
    return S_OK;
}

void QueuedObject::RequestDone(IDSECallback *callback, int state) {
    {
        std::lock_guard<std::mutex> g(m_);
        --pending_;
        state_ = state;
    }
    if (callback) callback->lpVtbl->Complete(callback, reinterpret_cast<IDSE_ELEMENT *>(Interface()));
}

HRESULT QueuedObject::QueryInterface(REFIID riid, void **ppv) {
    if (!ppv) return E_POINTER;
    if (riid && IsEqualGUID(riid, &IID_IDSE_SNMPQUEUED)) {
        AddRef();
        *ppv = Interface();
        return S_OK;
    }
    return owner_->QueryInterface(riid, ppv);
}

ULONG QueuedObject::AddRef() { return owner_->AddRef(); }
ULONG QueuedObject::Release() { return owner_->Release(); }

HRESULT QueuedObject::SetParent(IDSE_ELEMENT *pParent) { return scalar_->SetParent(pParent); }
HRESULT QueuedObject::GetValue(IDSECallback *pCallback) { return Queue(false, pCallback); }
HRESULT QueuedObject::SetValue(IDSECallback *pCallback) { return Queue(true, pCallback); }
HRESULT QueuedObject::Abort() { return S_OK; }
HRESULT QueuedObject::get_ElementParent(IDSE_ELEMENT **pParent) { return scalar_->get_ElementParent(pParent); }
HRESULT QueuedObject::get_ElementType(DSE_ELEMENT_TYPE *pType) { return scalar_->get_ElementType(pType); }
HRESULT QueuedObject::get_ElementId(int *pId) { return scalar_->get_ElementId(pId); }
HRESULT QueuedObject::put_ElementId(int id) { return scalar_->put_ElementId(id); }
HRESULT QueuedObject::get_RefreshTime(int *pTime) { return scalar_->get_RefreshTime(pTime); }
HRESULT QueuedObject::get_ElementTimeout(int *) { return S_OK; }
HRESULT QueuedObject::put_ElementTimeout(int) { return S_OK; }

HRESULT QueuedObject::get_ElementState(DSE_ELEMENT_STATE *pState) {
    if (!pState) return E_POINTER;
    std::lock_guard<std::mutex> g(m_);
    *pState = static_cast<DSE_ELEMENT_STATE>(pending_ > 0 ? DSE_ELEMENT_OP_IN_PROGRESS : state_);
    return S_OK;
}

HRESULT QueuedObject::get_ElementCollectionID(int *pCollectionID) {
    return scalar_->get_ElementCollectionID(pCollectionID);
}

}  // namespace kx9
