// The queued object of an element (IDSE_SNMPQUEUED): the scalar object's
// read and write handed to the provider's worker thread. GetValue and
// SetValue answer at once; Complete comes from the worker. The values land
// in the element's scalar object.
#pragma once

#include <mutex>

#include "com_object.hpp"
#include "provider.hpp"

namespace kx9 {

class ElementObject;
class ScalarObject;

class QueuedObject final : public CompletionTarget {
public:
    QueuedObject(ElementObject *owner, ScalarObject *scalar);

    IDSE_SNMPQUEUED *Interface() { return &iface_.com; }

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

private:
    HRESULT Queue(bool write, IDSECallback *callback);

    static const IDSE_SNMPQUEUEDVtbl kVtbl;
    Tearoff<IDSE_SNMPQUEUED, QueuedObject> iface_;
    ElementObject *owner_;
    ScalarObject *scalar_;
    std::mutex m_;
    int pending_ = 0;
    int state_ = DSE_ELEMENT_NO_ERROR;
};

}  // namespace kx9
