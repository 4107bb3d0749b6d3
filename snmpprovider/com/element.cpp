#include "element.hpp"

#include "collection_object.hpp"
#include "provider.hpp"
#include "queued_object.hpp"
#include "scalar_object.hpp"

namespace kx9 {

const IDSE_ELEMENTVtbl ElementObject::kVtbl = {KX9_ELEMENT_SLOTS(IDSE_ELEMENT, ElementObject)};

ElementObject::ElementObject() { iface_.Bind(&kVtbl, this); }

// Companions go first; the queued object leans on the scalar one.
ElementObject::~ElementObject() {
    queued_.reset();
    collection_.reset();
    scalar_.reset();
}

ElementObject *ElementObject::New() { return new (std::nothrow) ElementObject; }

int ElementObject::position() const {
    std::lock_guard<std::mutex> g(m_);
    return position_;
}

HRESULT ElementObject::Scalar(ScalarObject **out) {
    std::lock_guard<std::mutex> g(m_);
    if (position_ < 0) return E_UNEXPECTED;
    if (!scalar_) scalar_ = std::make_unique<ScalarObject>(this, position_);
    *out = scalar_.get();
    return S_OK;
}

HRESULT ElementObject::Collection(CollectionObject **out) {
    std::lock_guard<std::mutex> g(m_);
    if (position_ < 0) return E_UNEXPECTED;
    if (!collection_) collection_ = CollectionObject::ForElement(this, position_);
    *out = collection_.get();
    return S_OK;
}

HRESULT ElementObject::Queued(QueuedObject **out) {
    ScalarObject *scalar = nullptr;
    HRESULT hr = Scalar(&scalar);
    if (FAILED(hr)) return hr;
    std::lock_guard<std::mutex> g(m_);
    if (!queued_) queued_ = std::make_unique<QueuedObject>(this, scalar);
    *out = queued_.get();
    return S_OK;
}

HRESULT ElementObject::QueryInterface(REFIID riid, void **ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!riid) return E_INVALIDARG;
    if (IsEqualGUID(riid, &IID_IUnknown) || IsEqualGUID(riid, &IID_IDSE_ELEMENT)) {
        AddRef();
        *ppv = Interface();
        return S_OK;
    }
    HRESULT hr = E_NOINTERFACE;
    void *companion = nullptr;
    if (IsEqualGUID(riid, &IID_IDSE_SNMPSCALAR)) {
        ScalarObject *s = nullptr;
        if (SUCCEEDED(hr = Scalar(&s))) companion = s->Interface();
    } else if (IsEqualGUID(riid, &IID_IDSE_SNMPCOLLECTION)) {
        CollectionObject *c = nullptr;
        if (SUCCEEDED(hr = Collection(&c))) companion = c->Interface();
    } else if (IsEqualGUID(riid, &IID_IDSE_SNMPQUEUED)) {
        QueuedObject *q = nullptr;
        if (SUCCEEDED(hr = Queued(&q))) companion = q->Interface();
    }
    if (FAILED(hr)) return hr;
    AddRef();  // a companion's references are its element's
    *ppv = companion;
    return S_OK;
}

ULONG ElementObject::AddRef() { return refs_.Add(); }

ULONG ElementObject::Release() {
    ULONG n = refs_.Drop();
    if (n == 0) delete this;
    return n;
}

HRESULT ElementObject::SetParent(IDSE_ELEMENT *) { return E_NOTIMPL; }
HRESULT ElementObject::GetValue(IDSECallback *) { return E_NOTIMPL; }
HRESULT ElementObject::SetValue(IDSECallback *) { return E_NOTIMPL; }
HRESULT ElementObject::Abort() { return S_OK; }
HRESULT ElementObject::get_ElementParent(IDSE_ELEMENT **) { return S_OK; }

HRESULT ElementObject::get_ElementType(DSE_ELEMENT_TYPE *pType) {
    if (!pType) return E_POINTER;
    std::lock_guard<std::mutex> g(m_);
    *pType = type_;
    return S_OK;
}

HRESULT ElementObject::get_ElementId(int *pId) {
    if (!pId) return E_POINTER;
    std::lock_guard<std::mutex> g(m_);
    *pId = id_;
    return S_OK;
}

HRESULT ElementObject::put_ElementId(int id) {
    Provider *provider = TheProvider();
    if (!provider) return E_UNEXPECTED;
    int position = provider->schema().Find(id);
    if (position < 0) return S_FALSE;
    std::lock_guard<std::mutex> g(m_);
    // Companions already made keep the entry they were made for.
    id_ = id;
    position_ = position;
    type_ = static_cast<DSE_ELEMENT_TYPE>(ElementTypeOfKind(provider->schema().at(position).kind));
    return S_OK;
}

HRESULT ElementObject::get_RefreshTime(int *) { return S_OK; }
HRESULT ElementObject::get_ElementTimeout(int *) { return S_OK; }
HRESULT ElementObject::put_ElementTimeout(int) { return S_OK; }
HRESULT ElementObject::get_ElementState(DSE_ELEMENT_STATE *) { return S_OK; }
HRESULT ElementObject::get_ElementCollectionID(int *) { return E_NOTIMPL; }

}  // namespace kx9
