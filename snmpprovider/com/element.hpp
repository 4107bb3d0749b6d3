// DSE_SNMPElement: the front object of an element. It knows its number, its
// type and its map entry, and hands out the three companion objects.
#pragma once

#include <memory>
#include <mutex>

#include "com_object.hpp"
#include "server_lifetime.hpp"

namespace kx9 {

class ScalarObject;
class CollectionObject;
class QueuedObject;

class ElementObject {
public:
    // A new element with reference count 0 (the creator's QueryInterface
    // takes the first), no number and no companions. Null when memory is short.
    static ElementObject *New();
    ~ElementObject();

    IDSE_ELEMENT *Interface() { return &iface_.com; }

    // The map entry's position in the schema, -1 before a successful put_ElementId.
    int position() const;

    // The companions, created on first use (E_UNEXPECTED before the element
    // has a number). No reference is added.
    HRESULT Scalar(ScalarObject **out);
    HRESULT Collection(CollectionObject **out);

    HRESULT QueryInterface(REFIID riid, void **ppv);
    ULONG AddRef();
    ULONG Release();
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

private:
    ElementObject();
    HRESULT Queued(QueuedObject **out);

    static const IDSE_ELEMENTVtbl kVtbl;
    Tearoff<IDSE_ELEMENT, ElementObject> iface_;
    RefCount refs_;
    LiveObject live_;
    mutable std::mutex m_;
    int32_t id_ = 0;
    DSE_ELEMENT_TYPE type_ = DSE_SCALAR;
    int position_ = -1;
    std::unique_ptr<ScalarObject> scalar_;
    std::unique_ptr<CollectionObject> collection_;
    std::unique_ptr<QueuedObject> queued_;
};

}  // namespace kx9
