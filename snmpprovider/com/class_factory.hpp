// The class objects of the two classes, and the DSE_Provider object itself.
#pragma once

#include "com_object.hpp"
#include "server_lifetime.hpp"

namespace kx9 {

// DSE_Provider: only a reference count; all its state is the process's provider.
class ProviderObject {
public:
    static ProviderObject *New();
    IDSE_EP *Interface() { return &iface_.com; }

    HRESULT QueryInterface(REFIID riid, void **ppv);
    ULONG AddRef();
    ULONG Release();
    // A new collection over the whole schema; hands out its iterator.
    HRESULT GetSchema(IDSE_EP_ITERATOR **ppSchema);

private:
    ProviderObject();
    static const IDSE_EPVtbl kVtbl;
    Tearoff<IDSE_EP, ProviderObject> iface_;
    RefCount refs_;
    LiveObject live_;
};

class ClassFactory {
public:
    enum class Product { Provider, Element };
    // A class object holding its creation reference. Null when memory is short.
    static ClassFactory *New(Product product);
    IClassFactory *Interface() { return &iface_.com; }

    HRESULT QueryInterface(REFIID riid, void **ppv);
    ULONG AddRef();
    ULONG Release();
    HRESULT CreateInstance(IUnknown *pUnkOuter, REFIID riid, void **ppv);
    HRESULT LockServer(BOOL fLock);

private:
    explicit ClassFactory(Product product);
    static const IClassFactoryVtbl kVtbl;
    Tearoff<IClassFactory, ClassFactory> iface_;
    RefCount refs_;
    LiveObject live_;
    const Product product_;
};

}  // namespace kx9
