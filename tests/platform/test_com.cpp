// The COM-compatible pieces: GUID text, BSTR, VARIANT, and what the host
// side answers before any server is involved.
#include <gtest/gtest.h>

#include <cstring>

#include "temp_dir.hpp"
#include "vtcom.h"
#include "vtregistry.h"

namespace {

TEST(Guid, RegistryFormRoundTripsAndRefusesAnythingElse) {
    char text[VT_GUID_TEXT_SIZE];
    vtGuidToString(&IID_IEnumVARIANT, text);
    EXPECT_STREQ(text, "{00020404-0000-0000-C000-000000000046}");
    const GUID g = {0x87AC62E3, 0xDFDD, 0x454B, {0x91, 0x9A, 0x7D, 0x26, 0x73, 0x75, 0xBB, 0x5C}};
    GUID back{};
    ASSERT_TRUE(vtGuidFromString("{87ac62e3-dfdd-454b-919a-7d267375bb5c}", &back));
    EXPECT_TRUE(IsEqualGUID(&g, &back));
    vtGuidToString(&back, text);
    EXPECT_STREQ(text, "{87AC62E3-DFDD-454B-919A-7D267375BB5C}");
    for (const char *bad : {"", "87AC62E3-DFDD-454B-919A-7D267375BB5C", "{87AC62E3-DFDD-454B-919A-7D267375BB5C",
                            "{87AC62E3DFDD-454B-919A-7D267375BB5C0}", "{87AC62E3-DFDD-454B-919A-7D267375BB5G}",
                            "{87AC62E3-DFDD-454B-919A-7D267375BB5C}x"})
        EXPECT_FALSE(vtGuidFromString(bad, &back)) << bad;
}

TEST(Bstr, LengthPrefixedTextConvertsToAndFromUtf8) {
    const OLECHAR withNul[] = {u'a', 0, u'b'};
    BSTR b = SysAllocStringLen(withNul, 3);
    EXPECT_EQ(SysStringLen(b), 3u);
    EXPECT_EQ(b[3], 0);
    SysFreeString(b);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);

    BSTR text = vtSysAllocStringUtf8("Grüße €");
    EXPECT_EQ(SysStringLen(text), 7u);
    char buf[8];
    EXPECT_EQ(vtSysStringToUtf8(text, buf, sizeof buf), 11u);  // the whole length, for sizing
    EXPECT_STREQ(buf, "Grüße");                                // cut before the euro sign, not inside it
    SysFreeString(text);
}

TEST(Variant, CopiesAreDeepAndForeignTypesAreRefused) {
    VARIANT a, b;
    VariantInit(&a);
    VariantInit(&b);
    a.vt = VT_BSTR;
    a.bstrVal = vtSysAllocStringUtf8("toner");
    ASSERT_EQ(VariantCopy(&b, &a), S_OK);
    EXPECT_NE(b.bstrVal, a.bstrVal);
    VariantClear(&a);
    EXPECT_EQ(a.vt, VT_EMPTY);
    char buf[16];
    vtSysStringToUtf8(b.bstrVal, buf, sizeof buf);
    EXPECT_STREQ(buf, "toner");
    a.vt = 11;  // VT_BOOL: not ours
    EXPECT_EQ(VariantCopy(&b, &a), E_INVALIDARG);
    EXPECT_EQ(b.vt, VT_EMPTY);
}

TEST(Host, ClassesThatAreNotThereAreReportedAsSuch) {
    vttest::TempDir dir;
    vttest::ScopedEnv registry("VTBOX_REGISTRY_DIR", dir.path());
    const CLSID clsid = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    void *out = &out;
    EXPECT_EQ(vtCoCreateInstance(&clsid, nullptr, CLSCTX_INPROC_SERVER, &IID_IUnknown, &out), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(out, nullptr);

    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{12345678-1234-1234-0102-030405060708}\\InprocServer32", 0,
                              nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              0);
    const std::string missing = dir / "libMissing.so";
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const uint8_t *>(missing.c_str()),
                   static_cast<DWORD>(missing.size() + 1));
    RegCloseKey(key);
    EXPECT_EQ(vtCoGetClassObject(&clsid, CLSCTX_INPROC_SERVER, nullptr, &IID_IClassFactory, &out), CO_E_DLLNOTFOUND);
    EXPECT_EQ(vtCoCreateInstance(&clsid, nullptr, CLSCTX_INPROC_SERVER, nullptr, nullptr), E_POINTER);
}

}  // namespace
