#include "connection.hpp"

#include "com_object.hpp"
#include "value_lists.hpp"

namespace kx9 {

namespace {

// The first value of a child, or an empty VARIANT when the child is missing
// or holds nothing; the child's scalar object comes back in *scalar.
Variant ChildValue(IDSE_EP_ITERATOR *children, int number, ComRef<IDSE_SNMPSCALAR> *scalar) {
    ComRef<IDSE_ELEMENT> child;
    if (children->lpVtbl->FindElement(children, number, child.put()) != S_OK || !child) return {};
    if (FAILED(
            child->lpVtbl->QueryInterface(child.get(), &IID_IDSE_SNMPSCALAR, reinterpret_cast<void **>(scalar->put()))))
        return {};
    VARIANT v;
    VariantInit(&v);
    if (FAILED((*scalar)->lpVtbl->GetListValue(scalar->get(), 0, 0, &v))) return {};
    Variant value;
    Variant::From(v, &value);
    VariantClear(&v);
    return value;
}

void GiveDefault(const ComRef<IDSE_SNMPSCALAR> &scalar, const Variant &value) {
    if (scalar) scalar->lpVtbl->PutListValue(scalar.get(), 0, 0, &value.get());
}

std::string TextChild(IDSE_EP_ITERATOR *children, int number, const std::string &fallback) {
    ComRef<IDSE_SNMPSCALAR> scalar;
    Variant v = ChildValue(children, number, &scalar);
    if (v.get().vt == VT_BSTR) return v.Utf8();
    GiveDefault(scalar, Variant::Text(fallback));
    return fallback;
}

uint32_t NumberChild(IDSE_EP_ITERATOR *children, int number, uint32_t fallback) {
    ComRef<IDSE_SNMPSCALAR> scalar;
    Variant v = ChildValue(children, number, &scalar);
    if (v.get().vt == VT_I4) return static_cast<uint32_t>(v.get().lVal);
    GiveDefault(scalar, Variant::Int(static_cast<int32_t>(fallback)));
    return fallback;
}

}  // namespace

HRESULT ReadConnection(IDSE_ELEMENT *parent, Connection *out) {
    if (!parent) return E_FAIL;
    DSE_ELEMENT_TYPE type = DSE_SCALAR;
    if (FAILED(parent->lpVtbl->get_ElementType(parent, &type)) || type != DSE_COMPOSITE) return E_FAIL;
    ComRef<IDSE_SNMPCOLLECTION> collection;
    if (FAILED(parent->lpVtbl->QueryInterface(parent, &IID_IDSE_SNMPCOLLECTION,
                                              reinterpret_cast<void **>(collection.put()))))
        return E_FAIL;
    ComRef<IDSE_EP_ITERATOR> children;
    if (FAILED(collection->lpVtbl->get_Iterator(collection.get(), children.put())) || !children) return E_FAIL;

    Connection c;
    ComRef<IDSE_SNMPSCALAR> addressChild;
    Variant address = ChildValue(children.get(), DSE_CHILD_ADDRESS, &addressChild);
    if (address.get().vt != VT_BSTR) return E_FAIL;
    c.address = address.Utf8();
    if (c.address.empty()) return E_FAIL;
    c.readCommunity = TextChild(children.get(), DSE_CHILD_READ_COMMUNITY, c.readCommunity);
    c.writeCommunity = TextChild(children.get(), DSE_CHILD_WRITE_COMMUNITY, c.writeCommunity);
    c.timeout = NumberChild(children.get(), DSE_CHILD_TIMEOUT, c.timeout);
    c.retries = NumberChild(children.get(), DSE_CHILD_RETRIES, c.retries);
    *out = std::move(c);
    return S_OK;
}

}  // namespace kx9
