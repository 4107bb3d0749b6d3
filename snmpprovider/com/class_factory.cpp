#include "class_factory.hpp"

#include "collection_object.hpp"
#include "element.hpp"
#include "server_lifetime.hpp"

namespace kx9 {

// ---- DSE_Provider -------------------------------------------------------------

const IDSE_EPVtbl ProviderObject::kVtbl = {
    &Thunk<IDSE_EP, &ProviderObject::QueryInterface>::Call,
    &Thunk<IDSE_EP, &ProviderObject::AddRef>::Call,
    &Thunk<IDSE_EP, &ProviderObject::Release>::Call,
    &Thunk<IDSE_EP, &ProviderObject::GetSchema>::Call,
};

ProviderObject::ProviderObject() { iface_.Bind(&kVtbl, this); }

ProviderObject *ProviderObject::New() { return new (std::nothrow) ProviderObject; }

HRESULT ProviderObject::QueryInterface(REFIID riid, void **ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!riid) return E_INVALIDARG;
    if (!IsEqualGUID(riid, &IID_IUnknown) && !IsEqualGUID(riid, &IID_IDSE_EP)) return E_NOINTERFACE;
    AddRef();
    *ppv = Interface();
    return S_OK;
}

ULONG ProviderObject::AddRef() { return refs_.Add(); }

ULONG ProviderObject::Release() {
    ULONG n = refs_.Drop();
    if (n == 0) delete this;
    return n;
}

HRESULT ProviderObject::GetSchema(IDSE_EP_ITERATOR **ppSchema) {
    if (!ppSchema) return E_POINTER;
    *ppSchema = nullptr;
    CollectionObject *schema = CollectionObject::ForSchema();
    if (!schema) return E_OUTOFMEMORY;
    ComRef<CollectionObject> hold(schema);  // the iterator keeps it from here on
    return schema->get_Iterator(ppSchema);
}

// ---- class objects --------------------------------------------------------------

const IClassFactoryVtbl ClassFactory::kVtbl = {
    &Thunk<IClassFactory, &ClassFactory::QueryInterface>::Call,
    &Thunk<IClassFactory, &ClassFactory::AddRef>::Call,
    &Thunk<IClassFactory, &ClassFactory::Release>::Call,
    &Thunk<IClassFactory, &ClassFactory::CreateInstance>::Call,
    &Thunk<IClassFactory, &ClassFactory::LockServer>::Call,
};

ClassFactory::ClassFactory(Product product) : product_(product) {
    iface_.Bind(&kVtbl, this);
    refs_.Add();
}

ClassFactory *ClassFactory::New(Product product) { return new (std::nothrow) ClassFactory(product); }

HRESULT ClassFactory::QueryInterface(REFIID riid, void **ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!riid) return E_INVALIDARG;
    if (!IsEqualGUID(riid, &IID_IUnknown) && !IsEqualGUID(riid, &IID_IClassFactory)) return E_NOINTERFACE;
    AddRef();
    *ppv = Interface();
    return S_OK;
}

ULONG ClassFactory::AddRef() { return refs_.Add(); }

ULONG ClassFactory::Release() {
    ULONG n = refs_.Drop();
    if (n == 0) delete this;
    return n;
}

HRESULT ClassFactory::CreateInstance(IUnknown *pUnkOuter, REFIID riid, void **ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter) return CLASS_E_NOAGGREGATION;
    HRESULT hr;
    if (product_ == Product::Provider) {
        ProviderObject *p = ProviderObject::New();
        if (!p) return E_OUTOFMEMORY;
        p->AddRef();
        hr = p->QueryInterface(riid, ppv);
        p->Release();
    } else {
        ElementObject *e = ElementObject::New();
        if (!e) return E_OUTOFMEMORY;
        e->AddRef();
        hr = e->QueryInterface(riid, ppv);
        e->Release();
    }
    return hr;
}

HRESULT ClassFactory::LockServer(BOOL fLock) {
    kx9::LockServer(fLock != FALSE);
    return S_OK;
}

}  // namespace kx9
