/*
 * SNMPProvider.h - what a host needs to use the SNMP element provider
 * (libKX9SNMPProvider.so), in C or C++.
 *
 * The content of the type library SNMPPROVIDERLib: its identifiers, the
 * enumerations, the interfaces with their slots and help strings; then the
 * three companion interfaces that element objects also answer (they are not
 * in the type library). The binary rules (interface tables, reference
 * counting, BSTR, VARIANT) are those of vtcom.h.
 *
 * A host's path through it:
 *   1. vtCoCreateInstance(&CLSID_DSE_Provider, NULL, CLSCTX_INPROC_SERVER,
 *      &IID_IDSE_EP, &ep) (the server registers itself with DllRegisterServer).
 *   2. ep->GetSchema: an iterator over every element the maps define. Next
 *      hands out element numbers as VT_I4; FindElement hands out an element.
 *   3. The device: FindElement(DSE_DEVICE_ELEMENT) is a composite element.
 *      Its collection companion (IID_IDSE_SNMPCOLLECTION) holds its children;
 *      child 999 takes the device address, 996 and 995 the read and write
 *      communities, 997 the time-out in hundredths of a second and 998 the
 *      retry count. A host stores a value in a child through the child's
 *      scalar companion (PutListValue into list 0, index 0).
 *   4. An element's scalar companion (IID_IDSE_SNMPSCALAR): SetParent(device),
 *      then GetValue(callback) or SetValue(callback). Both do their SNMP work
 *      on the calling thread and call callback->Complete before they return;
 *      the values are then in the value lists (GetListValue).
 *   5. A table element's collection companion reads every column through the
 *      provider's worker thread and calls Complete from that thread. The
 *      queued companion (IID_IDSE_SNMPQUEUED) does the same for one element.
 *
 * Element objects are created by FindElement (or CreateInstance of
 * DSE_SNMPElement followed by put_ElementId). A collection keeps the elements
 * it hands out, so FindElement of one number gives the same object each time.
 */
#ifndef SNMPPROVIDER_H
#define SNMPPROVIDER_H

#include "vtcom.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- type library --------------------------------------------------------- */

#define SNMPPROVIDERLib_HELP "SNMPProvider 1.0 Type Library"
#define SNMPPROVIDERLib_VERSION_MAJOR 1
#define SNMPPROVIDERLib_VERSION_MINOR 0

static const GUID LIBID_SNMPPROVIDERLib = {
    0x09FBF251, 0xE114, 0x4AEF, {0xB9, 0x0E, 0x3D, 0xA0, 0x47, 0xBF, 0x90, 0x23}};
static const GUID IID_IDSE_EP = {0x60E5BBB8, 0x5393, 0x4ABC, {0xBA, 0xF8, 0x55, 0xCA, 0xC4, 0x06, 0x0A, 0x7F}};
static const GUID IID_IDSE_EP_ITERATOR = {0x205FA73C, 0xBB13, 0x40E4, {0xAB, 0xD3, 0x46, 0x30, 0xB3, 0xEB, 0x9B, 0xEF}};
static const GUID IID_IDSECallback = {0x97840C2A, 0x1A4E, 0x434E, {0x88, 0x87, 0x4A, 0x9C, 0xF6, 0x6F, 0xDF, 0x11}};
static const GUID IID_IDSE_ELEMENT = {0x7E4BF838, 0x22AD, 0x45D7, {0x99, 0x7A, 0x96, 0x30, 0x14, 0xAF, 0x58, 0x44}};
static const GUID CLSID_DSE_Provider = {0x87AC62E3, 0xDFDD, 0x454B, {0x91, 0x9A, 0x7D, 0x26, 0x73, 0x75, 0xBB, 0x5C}};
static const GUID CLSID_DSE_SNMPElement = {
    0xA734A420, 0x1C5C, 0x4ED5, {0x8C, 0x20, 0xF4, 0xBF, 0x2B, 0x0B, 0x18, 0x65}};

#define IDSE_EP_HELP "Element Provider Interface"
#define IDSE_EP_ITERATOR_HELP "DSE EP Iterator Interface"
#define IDSECallback_HELP "DSE Callback Interface"
#define IDSE_ELEMENT_HELP "DSE Element Interface"
#define DSE_Provider_HELP "DSE_Provider Class"
#define DSE_SNMPElement_HELP "SNMPElement Class"

#define DSE_ElementParent_HELP "parent of Element"
#define DSE_ElementType_HELP "property Type of Element"
#define DSE_ElementId_HELP "property Id of Element"
#define DSE_RefreshTime_HELP "time in seconds before Element value becomes stale"
#define DSE_ElementTimeout_HELP "timeout for operation on Element in 100th milliseconds"
#define DSE_ElementState_HELP "current state of Operation on Element"
#define DSE_ElementCollectionID_HELP "ID of the collection in which this element is contained"

typedef enum DSE_ELEMENT_TYPE { DSE_SCALAR = 0, DSE_COMPOSITE = 1, DSE_COLLECTION = 2 } DSE_ELEMENT_TYPE;

typedef enum DSE_ELEMENT_STATE {
    DSE_ELEMENT_NO_ERROR = 0,
    DSE_ELEMENT_OP_IN_PROGRESS = 1,
    DSE_ELEMENT_OPTIMEOUT = 2,
    DSE_ELEMENT_OP_GEN_ERROR = 3,
    DSE_ELEMENT_OP_TRANSPORT_ERROR = 4
} DSE_ELEMENT_STATE;

typedef struct IDSE_ELEMENT IDSE_ELEMENT;
typedef struct IDSECallback IDSECallback;
typedef struct IDSE_EP_ITERATOR IDSE_EP_ITERATOR;
typedef struct IDSE_EP IDSE_EP;

/*
 * The IUnknown slots and the thirteen IDSE_ELEMENT slots, in order, for an
 * interface whose pointer type is T. IDSE_ELEMENT and the companion
 * interfaces all begin with these, so any of them may be passed where an
 * IDSE_ELEMENT* is expected.
 */
#define DSE_ELEMENT_SLOTS(T) \
    HRESULT (*QueryInterface)(T * This, REFIID riid, void **ppvObject); \
    ULONG (*AddRef)(T * This); \
    ULONG (*Release)(T * This); \
    /*  1 */ HRESULT (*SetParent)(T * This, IDSE_ELEMENT * pParent); \
    /*  2 */ HRESULT (*GetValue)(T * This, IDSECallback * pCallback); \
    /*  3 */ HRESULT (*SetValue)(T * This, IDSECallback * pCallback); \
    /*  4 */ HRESULT (*Abort)(T * This); \
    /*  5 */ HRESULT (*get_ElementParent)(T * This, IDSE_ELEMENT * *pParent); \
    /*  6 */ HRESULT (*get_ElementType)(T * This, DSE_ELEMENT_TYPE * pType); \
    /*  7 */ HRESULT (*get_ElementId)(T * This, int *pType); \
    /*  8 */ HRESULT (*put_ElementId)(T * This, int ElementId); \
    /*  9 */ HRESULT (*get_RefreshTime)(T * This, int *pTime); \
    /* 10 */ HRESULT (*get_ElementTimeout)(T * This, int *pTimeout); \
    /* 11 */ HRESULT (*put_ElementTimeout)(T * This, int Timeout); \
    /* 12 */ HRESULT (*get_ElementState)(T * This, DSE_ELEMENT_STATE * pState); \
    /* 13 */ HRESULT (*get_ElementCollectionID)(T * This, int *pCollectionID)

/* "DSE Element Interface". */
typedef struct IDSE_ELEMENTVtbl {
    DSE_ELEMENT_SLOTS(IDSE_ELEMENT);
} IDSE_ELEMENTVtbl;
struct IDSE_ELEMENT {
    const IDSE_ELEMENTVtbl *lpVtbl;
};

/* "DSE Callback Interface", implemented by the host. Complete is called once
 * per GetValue or SetValue, with the object that did the work. */
typedef struct IDSECallbackVtbl {
    HRESULT (*QueryInterface)(IDSECallback *This, REFIID riid, void **ppvObject);
    ULONG (*AddRef)(IDSECallback *This);
    ULONG (*Release)(IDSECallback *This);
    HRESULT (*Complete)(IDSECallback *This, IDSE_ELEMENT *pCompletingObject);
} IDSECallbackVtbl;
struct IDSECallback {
    const IDSECallbackVtbl *lpVtbl;
};

/* "DSE EP Iterator Interface": IEnumVARIANT over element numbers (VT_I4), in
 * map order, plus FindElement. FindElement answers S_OK with the element, or
 * S_FALSE with NULL when the number is not an element of this collection. */
typedef struct IDSE_EP_ITERATORVtbl {
    HRESULT (*QueryInterface)(IDSE_EP_ITERATOR *This, REFIID riid, void **ppvObject);
    ULONG (*AddRef)(IDSE_EP_ITERATOR *This);
    ULONG (*Release)(IDSE_EP_ITERATOR *This);
    HRESULT (*Next)(IDSE_EP_ITERATOR *This, ULONG celt, VARIANT *rgVar, ULONG *pCeltFetched);
    HRESULT (*Skip)(IDSE_EP_ITERATOR *This, ULONG celt);
    HRESULT (*Reset)(IDSE_EP_ITERATOR *This);
    HRESULT (*Clone)(IDSE_EP_ITERATOR *This, IEnumVARIANT **ppEnum);
    HRESULT (*FindElement)(IDSE_EP_ITERATOR *This, int ElementId, IDSE_ELEMENT **pElement);
} IDSE_EP_ITERATORVtbl;
struct IDSE_EP_ITERATOR {
    const IDSE_EP_ITERATORVtbl *lpVtbl;
};

/* "Element Provider Interface". GetSchema hands out a new iterator over the
 * whole schema, starting at the first root entry of the maps. */
typedef struct IDSE_EPVtbl {
    HRESULT (*QueryInterface)(IDSE_EP *This, REFIID riid, void **ppvObject);
    ULONG (*AddRef)(IDSE_EP *This);
    ULONG (*Release)(IDSE_EP *This);
    HRESULT (*GetSchema)(IDSE_EP *This, IDSE_EP_ITERATOR **ppSchema);
} IDSE_EPVtbl;
struct IDSE_EP {
    const IDSE_EPVtbl *lpVtbl;
};

/* ---- companion interfaces (not in the type library) ----------------------- */

static const GUID IID_IDSE_SNMPSCALAR = {0x2AF21E83, 0x5AC0, 0x48E7, {0xAE, 0x18, 0xDC, 0xA8, 0xCF, 0x58, 0x01, 0xD3}};
static const GUID IID_IDSE_SNMPCOLLECTION = {
    0x6A100E06, 0x7E35, 0x4594, {0x88, 0x5B, 0xA2, 0x81, 0xF4, 0x6D, 0xC9, 0xD1}};
static const GUID IID_IDSE_SNMPQUEUED = {0xD995F7EB, 0x8245, 0x4068, {0xA5, 0x6C, 0xD2, 0x04, 0xCF, 0x3F, 0x73, 0xCA}};

/* Element numbers of the device element and of its connection children. */
#define DSE_DEVICE_ELEMENT 990
#define DSE_CHILD_WRITE_COMMUNITY 995
#define DSE_CHILD_READ_COMMUNITY 996
#define DSE_CHILD_TIMEOUT 997 /* hundredths of a second, default 100 */
#define DSE_CHILD_RETRIES 998 /* default 2 */
#define DSE_CHILD_ADDRESS 999 /* "host", "host:port", "host/port" or "[v6]:port" */

/* The five value lists of a scalar object. */
#define DSE_VALUE_LISTS 5

/* Syntax codes of map entries (the SMI's tags; DateAndTime has its own). */
enum DSE_SYNTAX {
    DSE_SYNTAX_UNSET = -1,
    DSE_SYNTAX_INTEGER = 2,
    DSE_SYNTAX_BITS = 3,
    DSE_SYNTAX_STRING = 4,
    DSE_SYNTAX_OID = 6,
    DSE_SYNTAX_IPADDRESS = 64,
    DSE_SYNTAX_COUNTER32 = 65,
    DSE_SYNTAX_GAUGE32 = 66,
    DSE_SYNTAX_TIMETICKS = 67,
    DSE_SYNTAX_OPAQUE = 68,
    DSE_SYNTAX_COUNTER64 = 70,
    DSE_SYNTAX_UNSIGNED32 = 71,
    DSE_SYNTAX_DATEANDTIME = 79
};

/* Access codes of map entries. */
enum DSE_ACCESS {
    DSE_ACCESS_READ_ONLY = 0,
    DSE_ACCESS_READ_WRITE = 1,
    DSE_ACCESS_READ_CREATE = 2,
    DSE_ACCESS_NOT_ACCESSIBLE = 3
};

/* Kind codes of map entries; get_RefreshTime of a scalar object answers the
 * entry's kind. */
enum DSE_KIND {
    DSE_KIND_DYNAMIC = 0,
    DSE_KIND_STATIC = 1,
    DSE_KIND_FIXED = 2,
    DSE_KIND_TABLE = 3,
    DSE_KIND_ROW = 4,
    DSE_KIND_ROOT = 5
};

/*
 * The scalar value object of an element. Its IDSE_ELEMENT slots:
 * SetParent(device) reads the connection children (E_FAIL when the parent is
 * not composite or its child 999 holds no address; missing 995-998 are given
 * their defaults); GetValue reads (a column: the whole column, grouped into
 * the lists by the first index) and SetValue writes every value marked
 * changed (a column's value to the instance its read found, see
 * GetListInstance; one the host appended beyond them to its place, list i
 * and index j as instance i+1.j+1 with two index slots and j+1 with one),
 * both completing through the callback before they return (they
 * answer E_FAIL, without completing, when the parent no longer names a
 * device); get_ElementState answers the outcome of the last operation;
 * get_ElementCollectionID the number of the table holding the element
 * (E_FAIL outside tables).
 *
 * Added slots:
 *   get_ValueCount   number of values in list 0..4
 *   GetListValue     a copy of one value; the caller clears it with VariantClear
 *   PutListValue     stores a value (index == count appends) and marks it changed
 *   GetListInstance  the instance a column read found the value at ("3", "1.4"),
 *                    kept when the host stores over that value; NULL for a
 *                    scalar's value and for a value the host appended
 *   get_Name, get_Oid, get_Description, get_Syntax, get_Access
 *                    the element's map entry (get_Oid as it is addressed)
 */
typedef struct IDSE_SNMPSCALAR IDSE_SNMPSCALAR;
typedef struct IDSE_SNMPSCALARVtbl {
    DSE_ELEMENT_SLOTS(IDSE_SNMPSCALAR);
    /* 14 */ HRESULT (*get_ValueCount)(IDSE_SNMPSCALAR *This, int list, int *pCount);
    /* 15 */ HRESULT (*GetListValue)(IDSE_SNMPSCALAR *This, int list, int index, VARIANT *pValue);
    /* 16 */ HRESULT (*PutListValue)(IDSE_SNMPSCALAR *This, int list, int index, const VARIANT *pValue);
    /* 17 */ HRESULT (*GetListInstance)(IDSE_SNMPSCALAR *This, int list, int index, BSTR *pInstance);
    /* 18 */ HRESULT (*get_Name)(IDSE_SNMPSCALAR *This, BSTR *pName);
    /* 19 */ HRESULT (*get_Oid)(IDSE_SNMPSCALAR *This, BSTR *pOid);
    /* 20 */ HRESULT (*get_Description)(IDSE_SNMPSCALAR *This, BSTR *pDescription);
    /* 21 */ HRESULT (*get_Syntax)(IDSE_SNMPSCALAR *This, int *pSyntax);
    /* 22 */ HRESULT (*get_Access)(IDSE_SNMPSCALAR *This, int *pAccess);
} IDSE_SNMPSCALARVtbl;
struct IDSE_SNMPSCALAR {
    const IDSE_SNMPSCALARVtbl *lpVtbl;
};

/*
 * The collection object of an element (also what GetSchema creates): the
 * element's children. SetParent(device) names the device for GetValue, which
 * reads every column of a table through the provider's worker thread and
 * calls Complete from there once all are read (E_NOTIMPL for an element that
 * is not a table). Added slot: get_Iterator hands out its iterator.
 */
typedef struct IDSE_SNMPCOLLECTION IDSE_SNMPCOLLECTION;
typedef struct IDSE_SNMPCOLLECTIONVtbl {
    DSE_ELEMENT_SLOTS(IDSE_SNMPCOLLECTION);
    /* 14 */ HRESULT (*get_Iterator)(IDSE_SNMPCOLLECTION *This, IDSE_EP_ITERATOR **ppIterator);
} IDSE_SNMPCOLLECTIONVtbl;
struct IDSE_SNMPCOLLECTION {
    const IDSE_SNMPCOLLECTIONVtbl *lpVtbl;
};

/*
 * The queued object of an element: GetValue and SetValue of the scalar
 * object run on the provider's worker thread instead. They answer S_OK at
 * once; Complete comes from the worker, and the values are in the element's
 * scalar object. get_ElementState answers DSE_ELEMENT_OP_IN_PROGRESS until
 * then. It adds no slots.
 */
typedef struct IDSE_SNMPQUEUED IDSE_SNMPQUEUED;
typedef struct IDSE_SNMPQUEUEDVtbl {
    DSE_ELEMENT_SLOTS(IDSE_SNMPQUEUED);
} IDSE_SNMPQUEUEDVtbl;
struct IDSE_SNMPQUEUED {
    const IDSE_SNMPQUEUEDVtbl *lpVtbl;
};

/* ---- the server's exports --------------------------------------------------- */

/* DllCanUnloadNow answers S_OK only when no object the server handed out
 * lives any more (class objects, providers, elements with their companions,
 * collections, iterators; an element whose queued request has not completed
 * yet lives) and no IClassFactory::LockServer lock is held; S_FALSE
 * otherwise. */

HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void **ppv);
HRESULT DllCanUnloadNow(void);
HRESULT DllRegisterServer(void);
HRESULT DllUnregisterServer(void);

#ifdef __cplusplus
}
#endif

#endif /* SNMPPROVIDER_H */
