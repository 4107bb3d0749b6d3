// The scalar value object of an element (IDSE_SNMPSCALAR): reads and writes
// the element's value on the device its parent names, on the calling
// thread, and completes through the host's callback. It is part of its
// element: its references are the element's.
#pragma once

#include <atomic>
#include <mutex>

#include "com_object.hpp"
#include "connection.hpp"
#include "operations.hpp"
#include "value_lists.hpp"

namespace kx9 {

class ElementObject;

class ScalarObject {
public:
    ScalarObject(ElementObject *owner, int position);

    IDSE_SNMPSCALAR *Interface() { return &iface_.com; }
    ValueLists &lists() { return lists_; }

    // The operation for this element on the device that `c` describes.
    Operation OperationFor(const Connection &c, bool write) const;
    // The same, reading the connection from the parent first; E_FAIL without
    // a usable parent.
    HRESULT OperationFor(bool write, Operation *op);
    // Runs a read (table or single, by kind) or the write, one at a time per
    // object, and keeps its state. Answers the state.
    int Run(int kind, const Operation &op);

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
    HRESULT get_ValueCount(int list, int *pCount);
    HRESULT GetListValue(int list, int index, VARIANT *pValue);
    HRESULT PutListValue(int list, int index, const VARIANT *pValue);
    HRESULT GetListInstance(int list, int index, BSTR *pInstance);
    HRESULT get_Name(BSTR *pName);
    HRESULT get_Oid(BSTR *pOid);
    HRESULT get_Description(BSTR *pDescription);
    HRESULT get_Syntax(int *pSyntax);
    HRESULT get_Access(int *pAccess);

private:
    HRESULT Complete(IDSECallback *callback);
    HRESULT Operate(bool write, IDSECallback *callback);
    int position() const;

    static const IDSE_SNMPSCALARVtbl kVtbl;
    Tearoff<IDSE_SNMPSCALAR, ScalarObject> iface_;
    ElementObject *owner_;
    mutable std::mutex m_;  // guards the fields below
    int position_;
    int32_t id_;
    ComRef<IDSE_ELEMENT> parent_;
    ComRef<IDSECallback> callback_;
    std::mutex operation_;  // one read or write at a time
    ValueLists lists_;
    std::atomic<int> state_{DSE_ELEMENT_NO_ERROR};
};

}  // namespace kx9
