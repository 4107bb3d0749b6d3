/* A host written in C: the public header's interface tables have the slots
 * the provider fills, in both directions (the provider calls this file's
 * callback table too). */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <dlfcn.h>
#include <ftw.h>
#include <netinet/in.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "SNMPProvider.h"

#define SLOT(T, m) (offsetof(T, m) / sizeof(void *))
_Static_assert(SLOT(IDSE_ELEMENTVtbl, SetParent) == 3, "after IUnknown");
_Static_assert(SLOT(IDSE_ELEMENTVtbl, get_ElementCollectionID) == 15, "thirteen element slots");
_Static_assert(SLOT(IDSE_EP_ITERATORVtbl, FindElement) == 7, "after IEnumVARIANT");
_Static_assert(SLOT(IDSE_EPVtbl, GetSchema) == 3, "IDSE_EP");
_Static_assert(SLOT(IDSECallbackVtbl, Complete) == 3, "IDSECallback");
_Static_assert(SLOT(IDSE_SNMPSCALARVtbl, get_ValueCount) == 16, "scalar slots follow the element slots");
_Static_assert(SLOT(IDSE_SNMPSCALARVtbl, get_Access) == 24, "scalar slots");
_Static_assert(SLOT(IDSE_SNMPCOLLECTIONVtbl, get_Iterator) == 16, "the collection's first added slot");
_Static_assert(sizeof(IDSE_SNMPQUEUEDVtbl) == 16 * sizeof(void *), "the queued object adds none");
_Static_assert(sizeof(VARIANT) == 24 && offsetof(VARIANT, lVal) == 8, "VARIANT layout");
_Static_assert(sizeof(GUID) == 16 && sizeof(DSE_ELEMENT_STATE) == 4, "sizes");

static int failures;
#define CHECK(cond) \
    do { \
        if (!(cond)) { \
            fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond); \
            ++failures; \
        } \
    } while (0)

/* The host's callback object. */
typedef struct {
    IDSECallback iface;
    int completed;
    IDSE_ELEMENT *by;
} Callback;
static HRESULT CbQuery(IDSECallback *self, REFIID riid, void **ppv) {
    (void)riid;
    *ppv = self;
    return S_OK;
}
static ULONG CbAddRef(IDSECallback *self) {
    (void)self;
    return 2;
}
static ULONG CbRelease(IDSECallback *self) {
    (void)self;
    return 1;
}
static HRESULT CbComplete(IDSECallback *self, IDSE_ELEMENT *by) {
    Callback *c = (Callback *)self;
    c->completed++;
    c->by = by;
    return S_OK;
}
static const IDSECallbackVtbl kCallbackTable = {CbQuery, CbAddRef, CbRelease, CbComplete};

static int RemoveEntry(const char *path, const struct stat *st, int flag, struct FTW *ftw) {
    (void)st, (void)flag, (void)ftw;
    return remove(path);
}

/* Stores a value in child `number` of the device. */
static void PutChild(IDSE_EP_ITERATOR *children, int number, VARIANT *value) {
    IDSE_ELEMENT *child = NULL;
    IDSE_SNMPSCALAR *s = NULL;
    CHECK(children->lpVtbl->FindElement(children, number, &child) == S_OK);
    CHECK(child->lpVtbl->QueryInterface(child, &IID_IDSE_SNMPSCALAR, (void **)&s) == S_OK);
    CHECK(s->lpVtbl->PutListValue(s, 0, 0, value) == S_OK);
    s->lpVtbl->Release(s);
    child->lpVtbl->Release(child);
}

int main(void) {
    char dir[] = "/tmp/vtbox-chost-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    setenv("VTBOX_REGISTRY_DIR", dir, 1);
    void *lib = dlopen(KX9_SERVER, RTLD_NOW | RTLD_LOCAL);
    LPFNREGISTERSERVER reg = lib ? (LPFNREGISTERSERVER)dlsym(lib, "DllRegisterServer") : NULL;
    CHECK(reg && reg() == S_OK);
    if (lib) dlclose(lib);

    IDSE_EP *ep = NULL;
    IDSE_EP_ITERATOR *it = NULL;
    CHECK(vtCoCreateInstance(&CLSID_DSE_Provider, NULL, CLSCTX_INPROC_SERVER, &IID_IDSE_EP, (void **)&ep) == S_OK);
    if (!ep) return 1;
    CHECK(ep->lpVtbl->GetSchema(ep, &it) == S_OK);
    VARIANT v;
    ULONG fetched = 0;
    CHECK(it->lpVtbl->Next(it, 1, &v, &fetched) == S_OK && v.vt == VT_I4 && v.lVal == DSE_DEVICE_ELEMENT);

    IDSE_ELEMENT *e = NULL, *device = NULL;
    IDSE_SNMPSCALAR *s = NULL;
    DSE_ELEMENT_TYPE type = DSE_COLLECTION;
    int id = 0;
    CHECK(it->lpVtbl->FindElement(it, 2, &e) == S_OK);
    CHECK(e->lpVtbl->get_ElementType(e, &type) == S_OK && type == DSE_SCALAR);
    CHECK(e->lpVtbl->get_ElementId(e, &id) == S_OK && id == 2);
    CHECK(e->lpVtbl->QueryInterface(e, &IID_IDSE_SNMPSCALAR, (void **)&s) == S_OK);
    BSTR oid = NULL;
    char text[64];
    CHECK(s->lpVtbl->get_Oid(s, &oid) == S_OK);
    vtSysStringToUtf8(oid, text, sizeof text);
    CHECK(strcmp(text, "1.3.6.1.2.1.1.1.0") == 0);
    SysFreeString(oid);

    /* A device that never answers, asked once for a tenth of a second. */
    int sock = socket(AF_INET, SOCK_DGRAM, 0);
    struct sockaddr_in a = {0};
    socklen_t len = sizeof a;
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    CHECK(bind(sock, (struct sockaddr *)&a, sizeof a) == 0 && getsockname(sock, (struct sockaddr *)&a, &len) == 0);
    char address[32];
    snprintf(address, sizeof address, "127.0.0.1:%u", (unsigned)ntohs(a.sin_port));
    CHECK(it->lpVtbl->FindElement(it, DSE_DEVICE_ELEMENT, &device) == S_OK);
    IDSE_SNMPCOLLECTION *children = NULL;
    IDSE_EP_ITERATOR *childIt = NULL;
    CHECK(device->lpVtbl->QueryInterface(device, &IID_IDSE_SNMPCOLLECTION, (void **)&children) == S_OK);
    CHECK(children->lpVtbl->get_Iterator(children, &childIt) == S_OK);
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = vtSysAllocStringUtf8(address);
    PutChild(childIt, DSE_CHILD_ADDRESS, &v);
    VariantClear(&v);
    v.vt = VT_I4;
    v.lVal = 10;
    PutChild(childIt, DSE_CHILD_TIMEOUT, &v);
    v.lVal = 0;
    PutChild(childIt, DSE_CHILD_RETRIES, &v);

    Callback cb = {{&kCallbackTable}, 0, NULL};
    DSE_ELEMENT_STATE state = DSE_ELEMENT_NO_ERROR;
    int count = -1;
    CHECK(s->lpVtbl->SetParent(s, device) == S_OK);
    CHECK(s->lpVtbl->GetValue(s, &cb.iface) == S_OK);
    CHECK(cb.completed == 1 && cb.by == (IDSE_ELEMENT *)s);
    CHECK(s->lpVtbl->get_ElementState(s, &state) == S_OK && state == DSE_ELEMENT_OPTIMEOUT);
    CHECK(s->lpVtbl->get_ValueCount(s, 0, &count) == S_OK && count == 0);
    close(sock);

    childIt->lpVtbl->Release(childIt);
    children->lpVtbl->Release(children);
    device->lpVtbl->Release(device);
    s->lpVtbl->Release(s);
    e->lpVtbl->Release(e);
    it->lpVtbl->Release(it);
    ep->lpVtbl->Release(ep);
    vtCoFreeUnusedLibraries();
    nftw(dir, RemoveEntry, 8, FTW_DEPTH | FTW_PHYS);
    printf("C host: %s\n", failures ? "FAILED" : "ok");
    return failures != 0;
}
