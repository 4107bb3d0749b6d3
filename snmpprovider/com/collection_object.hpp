// The collection object (IDSE_SNMPCOLLECTION): the children of an element,
// or, made by GetSchema, every element of the schema. It keeps the element
// objects it hands out, so one number always gives the same object; a
// table's collection reads all its columns through the worker queue.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "com_object.hpp"
#include "provider.hpp"
#include "server_lifetime.hpp"

namespace kx9 {

class ElementObject;

class CollectionObject final : public CompletionTarget {
public:
    // The companion of an element; its references are the element's.
    static std::unique_ptr<CollectionObject> ForElement(ElementObject *owner, int position);
    // The whole schema, with its own reference count (starting at 0).
    static CollectionObject *ForSchema();
    ~CollectionObject();

    IDSE_SNMPCOLLECTION *Interface() { return &iface_.com; }

    // Element numbers in iteration order.
    const std::vector<int32_t> &members() const { return members_; }
    // The kept element for a number, made on first request; S_FALSE and
    // null when the number is not one of this collection's.
    HRESULT FindElement(int elementId, IDSE_ELEMENT **pElement);

    // CompletionTarget: one column of a table read has been read.
    void RequestDone(IDSECallback *callback, int state) override;

    HRESULT QueryInterface(REFIID riid, void **ppv);
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT SetParent(IDSE_ELEMENT *pParent);
    HRESULT GetValue(IDSECallback *pCallback);
    HRESULT SetValue(IDSECallback *pCallback);
    HRESULT Abort();
    HRESULT get_ElementParent(IDSE_ELEMENT **pParent);
    HRESULT get_ElementType(DSE_ELEMENT_TYPE *pType);
    HRESULT get_ElementId(int *pId);
    HRESULT put_ElementId(int id);
    HRESULT get_RefreshTime(int *pTime);
    HRESULT get_ElementTimeout(int *pTimeout);
    HRESULT put_ElementTimeout(int timeout);
    HRESULT get_ElementState(DSE_ELEMENT_STATE *pState);
    HRESULT get_ElementCollectionID(int *pCollectionID);
    HRESULT get_Iterator(IDSE_EP_ITERATOR **ppIterator);

private:
    CollectionObject(ElementObject *owner, int position);

    static const IDSE_SNMPCOLLECTIONVtbl kVtbl;
    Tearoff<IDSE_SNMPCOLLECTION, CollectionObject> iface_;
    ElementObject *owner_;  // null for the schema
    RefCount refs_;         // the schema's own count
    LiveObject live_;
    const int position_;  // the owner's entry, -1 for the schema
    std::vector<int32_t> members_;
    std::mutex m_;  // guards everything below
    std::map<int32_t, ComRef<IDSE_ELEMENT>> kept_;
    ComRef<IDSE_ELEMENT> parent_;
    ComRef<IDSECallback> pending_;  // the host's callback of the table read in progress
    int outstanding_ = 0;
    int readState_ = DSE_ELEMENT_NO_ERROR;
    int state_ = DSE_ELEMENT_NO_ERROR;
};

// IDSE_EP_ITERATOR over a collection's element numbers (VT_I4).
class IteratorObject {
public:
    static IteratorObject *New(CollectionObject *collection, size_t position = 0);

    IDSE_EP_ITERATOR *Interface() { return &iface_.com; }

    HRESULT QueryInterface(REFIID riid, void **ppv);
    ULONG AddRef();
    ULONG Release();
    HRESULT Next(ULONG celt, VARIANT *rgVar, ULONG *pCeltFetched);
    HRESULT Skip(ULONG celt);
    HRESULT Reset();
    HRESULT Clone(IEnumVARIANT **ppEnum);
    HRESULT FindElement(int elementId, IDSE_ELEMENT **pElement);

private:
    IteratorObject(CollectionObject *collection, size_t position);

    static const IDSE_EP_ITERATORVtbl kVtbl;
    Tearoff<IDSE_EP_ITERATOR, IteratorObject> iface_;
    RefCount refs_;
    LiveObject live_;
    ComRef<CollectionObject> collection_;
    std::mutex m_;
    size_t position_;
};

}  // namespace kx9
