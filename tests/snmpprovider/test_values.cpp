// The SNMP layer's own rules: which addresses it accepts, how received
// values become VARIANTs, and how the value lists keep the host's changes.
#include <gtest/gtest.h>

#include "operations.hpp"

namespace kx9 {
namespace {

using snmp::GenAddress;
using snmp::Vb;

std::string Text(const Variant &v) { return v.get().vt == VT_BSTR ? v.Utf8() : "<not text>"; }

TEST(Addresses, AcceptedFormsBecomeUdpTransports) {
    EXPECT_EQ(GenAddress("printer.example.org").peername(), "udp:printer.example.org:161");
    EXPECT_EQ(GenAddress("192.0.2.7:1161").peername(), "udp:192.0.2.7:1161");
    EXPECT_EQ(GenAddress("192.0.2.7/1161").peername(), "udp:192.0.2.7:1161");
    EXPECT_EQ(GenAddress("::1").peername(), "udp6:[::1]:161");
    EXPECT_EQ(GenAddress("[fe80::1%eth0]:162").peername(), "udp6:[fe80::1%eth0]:162");
    EXPECT_EQ(GenAddress("[2001:db8::5]").peername(), "udp6:[2001:db8::5]:161");
}

TEST(Addresses, EverythingElseIsRefused) {
    for (const char *bad : {"", "tcp:192.0.2.7:161", "unix:/tmp/agent", "host:0", "host:65536", "host:", "-host",
                            "ho st", "[::1", "[::1]x", "[nothost]:161", "a/b/c", "::1::2::", "host:port"})
        EXPECT_FALSE(GenAddress(bad).valid()) << bad;
}

TEST(Conversion, NumbersBecomeI4WithTheirBitsKept) {
    Vb counter;
    counter.set_uint32(snmp::kVbCounter32, 4294967295u);
    Variant v = ConvertValue(counter, kSyntaxCounter32);
    ASSERT_EQ(v.get().vt, VT_I4);
    EXPECT_EQ(static_cast<uint32_t>(v.get().lVal), 0xFFFFFFFFu);
    for (int syntax : {snmp::kVbGauge32, snmp::kVbTimeTicks, snmp::kVbUInt32}) {
        Vb vb;
        vb.set_uint32(syntax, 3000000000u);
        EXPECT_EQ(static_cast<uint32_t>(ConvertValue(vb, kSyntaxUnset).get().lVal), 3000000000u) << syntax;
    }
    Vb negative;
    negative.set_int32(-42);
    EXPECT_EQ(ConvertValue(negative, kSyntaxInteger).get().lVal, -42);
}

TEST(Conversion, TextIdentifiersAndAddressesBecomeBstr) {
    Vb text;
    text.set_octets("Grüße vom Drucker");
    EXPECT_EQ(Text(ConvertValue(text, kSyntaxString)), "Grüße vom Drucker");
    Vb binary;
    binary.set_octets(std::string("\x00\x1a\x2b\xff", 4));
    EXPECT_EQ(Text(ConvertValue(binary, kSyntaxString)), "00 1A 2B FF");
    Vb empty;
    empty.set_octets("");
    EXPECT_EQ(Text(ConvertValue(empty, kSyntaxString)), "");
    Vb oid;
    oid.set_oid_value(snmp::Oid({1, 3, 6, 1, 4, 1, 8072, 3, 2, 10}));
    EXPECT_EQ(Text(ConvertValue(oid, kSyntaxOid)), "1.3.6.1.4.1.8072.3.2.10");
    Vb ip;
    ip.set_ipaddress({192, 0, 2, 254});
    EXPECT_EQ(Text(ConvertValue(ip, kSyntaxIpAddress)), "192.0.2.254");
}

TEST(Conversion, OtherSyntaxesStayEmpty) {
    Vb big;
    big.set_counter64(1ull << 40);
    EXPECT_EQ(ConvertValue(big, kSyntaxCounter64).get().vt, VT_EMPTY);
    for (int syntax : {snmp::kVbNull, snmp::kVbNoSuchObject, snmp::kVbNoSuchInstance, snmp::kVbEndOfMibView}) {
        Vb vb;
        vb.set_syntax_only(syntax);
        EXPECT_EQ(ConvertValue(vb, kSyntaxString).get().vt, VT_EMPTY) << syntax;
    }
}

TEST(Conversion, DateAndTimeIsPrintedNotRaw) {
    const std::string withZone("\x07\xE8\x05\x1C\x0C\x22\x0F\x03+\x02\x00", 11);
    Vb vb;
    vb.set_octets(withZone);
    EXPECT_EQ(Text(ConvertValue(vb, kSyntaxDateAndTime)), "2024-5-28,12:34:15.3,+2:0");
    EXPECT_EQ(DateAndTimeText(std::string("\x07\xE8\x0C\x1F\x17\x3B\x3B\x09", 8)), "2024-12-31,23:59:59.9");
    EXPECT_EQ(DateAndTimeText(std::string("\x07\xE8\x05\x1C\x0C\x22\x0F\x03x\x02\x00", 11)),
              "07 E8 05 1C 0C 22 0F 03 78 02 00");  // no direction: not a date
    EXPECT_EQ(DateAndTimeText("\x07\xE8"), "07 E8");
    // The same octets as plain text are hexadecimal, not a date.
    EXPECT_EQ(Text(ConvertValue(vb, kSyntaxString)), "07 E8 05 1C 0C 22 0F 03 2B 02 00");
}

VARIANT Int(int32_t n) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = n;
    return v;
}

TEST(ValueLists, StoresAppendReplaceAndMarkChanges) {
    ValueLists lists;
    EXPECT_EQ(lists.Put(0, 1, Int(1)), DISP_E_BADINDEX);  // no gaps
    EXPECT_EQ(lists.Put(5, 0, Int(1)), DISP_E_BADINDEX);
    EXPECT_EQ(lists.Put(2, 0, Int(10)), S_OK);
    EXPECT_EQ(lists.Put(2, 1, Int(11)), S_OK);
    EXPECT_EQ(lists.Put(2, 0, Int(12)), S_OK);
    EXPECT_EQ(lists.Count(2), 2);
    EXPECT_EQ(lists.Count(-1), -1);
    VARIANT out;
    ASSERT_EQ(lists.Get(2, 0, &out), S_OK);
    EXPECT_EQ(out.lVal, 12);
    EXPECT_EQ(lists.Get(2, 2, &out), DISP_E_BADINDEX);
    EXPECT_EQ(out.vt, VT_EMPTY);

    std::vector<ValueLists::Change> changed = lists.Changed();
    ASSERT_EQ(changed.size(), 2u);
    // Written, but stored again by the host meanwhile: stays marked.
    lists.Put(2, 1, Int(13));
    for (const ValueLists::Change &c : changed) lists.MarkWritten(c);
    changed = lists.Changed();
    ASSERT_EQ(changed.size(), 1u);
    EXPECT_EQ(changed[0].index, 1);
    EXPECT_EQ(changed[0].value.get().lVal, 13);

    lists.Clear();
    EXPECT_EQ(lists.Count(2), 0);
    EXPECT_TRUE(lists.Changed().empty());
}

}  // namespace
}  // namespace kx9
