/*
 * vtcom.h - a small COM-compatible binary interface, and the host side of
 * in-process servers.
 *
 * Interfaces are C structs whose only member, lpVtbl, points to a table of
 * function pointers in slot order; every method takes the interface pointer
 * itself first and (nearly always) returns an HRESULT. A derived interface's
 * table repeats its base's slots first. C and C++ see the same layout, so a
 * host written in either calls p->lpVtbl->Method(p, ...).
 *
 * Reference counting: every interface pointer handed out carries one
 * reference, which its receiver gives back with Release. Text crosses
 * interfaces as BSTR (length-prefixed UTF-16, allocated with SysAllocString*
 * and freed with SysFreeString by whoever receives it). VARIANTs hold
 * VT_EMPTY, VT_I4 or VT_BSTR; VariantClear frees what a VARIANT owns.
 *
 * Servers: an in-process server is a shared library that exports
 * DllGetClassObject, DllCanUnloadNow, DllRegisterServer and
 * DllUnregisterServer. Registration writes HKEY_CLASSES_ROOT\CLSID\{clsid}
 * with an InprocServer32 key naming the library's full path (vtregistry.h);
 * vtCoCreateInstance reads it, loads the library and asks it for the class.
 */
#ifndef VTCOM_H
#define VTCOM_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>
#ifndef __cplusplus
#include <uchar.h>
#endif

#include "vtplatform.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t UINT;
typedef int32_t HRESULT;

/* ---- result values ------------------------------------------------------ */

#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001u)
#define E_NOINTERFACE ((HRESULT)0x80004002u)
#define E_POINTER ((HRESULT)0x80004003u)
#define E_ABORT ((HRESULT)0x80004004u)
#define E_FAIL ((HRESULT)0x80004005u)
#define E_UNEXPECTED ((HRESULT)0x8000FFFFu)
#define E_OUTOFMEMORY ((HRESULT)0x8007000Eu)
#define E_INVALIDARG ((HRESULT)0x80070057u)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110u)
#define CLASS_E_CLASSNOTAVAILABLE ((HRESULT)0x80040111u)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154u)
#define CO_E_DLLNOTFOUND ((HRESULT)0x800401F8u)
#define CO_E_ERRORINDLL ((HRESULT)0x800401F9u)
#define DISP_E_BADINDEX ((HRESULT)0x8002000Bu)

/* ---- GUIDs -------------------------------------------------------------- */

typedef struct _GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} GUID;
typedef GUID IID;
typedef GUID CLSID;
typedef const GUID *REFGUID;
typedef const IID *REFIID;
typedef const CLSID *REFCLSID;

static inline int IsEqualGUID(REFGUID a, REFGUID b) { return memcmp(a, b, sizeof(GUID)) == 0; }

/* The registry form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}": braces,
 * upper-case hexadecimal, 38 characters plus the NUL. */
#define VT_GUID_TEXT_SIZE 39
VTPLATFORM_API void vtGuidToString(REFGUID guid, char text[VT_GUID_TEXT_SIZE]);
/* Reads the registry form (either case). Returns 0 when the text is not one. */
VTPLATFORM_API int vtGuidFromString(const char *text, GUID *guid);

/* ---- text: BSTR ----------------------------------------------------------- */

#ifdef __cplusplus
typedef char16_t OLECHAR;
#else
typedef char16_t OLECHAR; /* uint_least16_t, from <uchar.h> */
#endif
typedef OLECHAR *BSTR;

/* A new BSTR holding text up to its NUL (NULL gives NULL). NULL when memory is short. */
VTPLATFORM_API BSTR SysAllocString(const OLECHAR *text);
/* A new BSTR of length units copied from text (or zero-filled when text is NULL). */
VTPLATFORM_API BSTR SysAllocStringLen(const OLECHAR *text, UINT length);
/* Frees a BSTR; NULL is allowed. */
VTPLATFORM_API void SysFreeString(BSTR text);
/* Length in UTF-16 units (0 for NULL). */
VTPLATFORM_API UINT SysStringLen(BSTR text);
/* A new BSTR from UTF-8 text (invalid bytes become U+FFFD). */
VTPLATFORM_API BSTR vtSysAllocStringUtf8(const char *utf8);
/* Copies a BSTR as UTF-8 into buf (at most size-1 bytes, NUL-terminated when
 * size > 0, never splitting a sequence). Returns the length of the whole
 * UTF-8 text, so a caller can size its buffer. */
VTPLATFORM_API size_t vtSysStringToUtf8(BSTR text, char *buf, size_t size);

/* ---- VARIANT (the subset our interfaces use) ------------------------------ */

typedef uint16_t VARTYPE;
enum VARENUM { VT_EMPTY = 0, VT_I4 = 3, VT_BSTR = 8 };

/* 24 bytes, as on 64-bit Windows: the type, three reserved words, the value. */
typedef struct tagVARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONG lVal;        /* VT_I4 */
        BSTR bstrVal;     /* VT_BSTR: owned by the VARIANT */
        void *brecord[2]; /* sizes the union as a record pair would; not used */
    };
} VARIANT;

#define V_VT(v) ((v)->vt)
#define V_I4(v) ((v)->lVal)
#define V_BSTR(v) ((v)->bstrVal)

/* Makes a VARIANT empty without looking at what it held. */
VTPLATFORM_API void VariantInit(VARIANT *v);
/* Frees what the VARIANT owns and makes it empty. */
VTPLATFORM_API HRESULT VariantClear(VARIANT *v);
/* Clears dst, then makes it a deep copy of src. E_OUTOFMEMORY, or
 * E_INVALIDARG for a type outside the subset (dst is left empty). */
VTPLATFORM_API HRESULT VariantCopy(VARIANT *dst, const VARIANT *src);

/* ---- base interfaces ------------------------------------------------------ */

typedef struct IUnknown IUnknown;
typedef struct IUnknownVtbl {
    HRESULT (*QueryInterface)(IUnknown *This, REFIID riid, void **ppvObject);
    ULONG (*AddRef)(IUnknown *This);
    ULONG (*Release)(IUnknown *This);
} IUnknownVtbl;
struct IUnknown {
    const IUnknownVtbl *lpVtbl;
};

typedef struct IClassFactory IClassFactory;
typedef struct IClassFactoryVtbl {
    HRESULT (*QueryInterface)(IClassFactory *This, REFIID riid, void **ppvObject);
    ULONG (*AddRef)(IClassFactory *This);
    ULONG (*Release)(IClassFactory *This);
    HRESULT (*CreateInstance)(IClassFactory *This, IUnknown *pUnkOuter, REFIID riid, void **ppvObject);
    HRESULT (*LockServer)(IClassFactory *This, BOOL fLock);
} IClassFactoryVtbl;
struct IClassFactory {
    const IClassFactoryVtbl *lpVtbl;
};

typedef struct IEnumVARIANT IEnumVARIANT;
typedef struct IEnumVARIANTVtbl {
    HRESULT (*QueryInterface)(IEnumVARIANT *This, REFIID riid, void **ppvObject);
    ULONG (*AddRef)(IEnumVARIANT *This);
    ULONG (*Release)(IEnumVARIANT *This);
    /* Fills up to celt VARIANTs; S_OK when celt were fetched, else S_FALSE.
     * pCeltFetched may be NULL only when celt is 1. */
    HRESULT (*Next)(IEnumVARIANT *This, ULONG celt, VARIANT *rgVar, ULONG *pCeltFetched);
    HRESULT (*Skip)(IEnumVARIANT *This, ULONG celt);
    HRESULT (*Reset)(IEnumVARIANT *This);
    HRESULT (*Clone)(IEnumVARIANT *This, IEnumVARIANT **ppEnum);
} IEnumVARIANTVtbl;
struct IEnumVARIANT {
    const IEnumVARIANTVtbl *lpVtbl;
};

static const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
static const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
static const IID IID_IEnumVARIANT = {0x00020404, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

/* ---- in-process servers: the exports and the host side -------------------- */

typedef HRESULT (*LPFNGETCLASSOBJECT)(REFCLSID rclsid, REFIID riid, void **ppv);
typedef HRESULT (*LPFNCANUNLOADNOW)(void);
typedef HRESULT (*LPFNREGISTERSERVER)(void);

#define CLSCTX_INPROC_SERVER 0x1u

/*
 * Finds the class's InprocServer32 under HKEY_CLASSES_ROOT\CLSID\{clsid},
 * loads that library (once; later calls reuse it) and asks its
 * DllGetClassObject for the class object's riid interface. Answers
 * REGDB_E_CLASSNOTREG when the class is not registered, CO_E_DLLNOTFOUND when
 * the library does not load, CO_E_ERRORINDLL when it lacks the export, or what
 * DllGetClassObject answered. context must include CLSCTX_INPROC_SERVER.
 */
VTPLATFORM_API HRESULT vtCoGetClassObject(REFCLSID rclsid, DWORD context, void *reserved, REFIID riid, void **ppv);
/* vtCoGetClassObject for IClassFactory, then CreateInstance(outer, riid). */
VTPLATFORM_API HRESULT vtCoCreateInstance(REFCLSID rclsid, IUnknown *outer, DWORD context, REFIID riid, void **ppv);
/* Asks every library loaded by the calls above whether it can be unloaded
 * (DllCanUnloadNow) and unloads those that answer S_OK. Interface pointers
 * into an unloaded library must no longer be used. */
VTPLATFORM_API void vtCoFreeUnusedLibraries(void);

#ifdef __cplusplus
}
#endif

#endif /* VTCOM_H */
