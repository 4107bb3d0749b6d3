// The store's names read back: every number a record name can carry, and
// the names that are no record of the device.
#include <gtest/gtest.h>

#include "session/result.hpp"
#include "store/layout.hpp"

namespace {

TEST(StoreLayout, EveryEntryNumberSurvivesItsRecordName) {
    for (uint32_t n = 1; n <= vtbox::kMaxEntryNumber; ++n) {
        EXPECT_EQ(vtbox::EntryNumberFromRecordName(vtbox::RecordFileName(vtbox::EntryName(n, true)), 'D'),
                  static_cast<int>(n));
        EXPECT_EQ(vtbox::EntryNumberFromRecordName(vtbox::RecordFileName(vtbox::EntryName(n, false)), 'F'),
                  static_cast<int>(n));
    }
}

TEST(StoreLayout, NamesThatAreNoRecordOfTheDevice) {
    for (const char *name : {"D0000000.XML", "D0000001.xml", "D000001.XML", "D00000x1.XML", "F0000001.XML",
                             "D0000001.XMLX", "D00001000.XML", "D0000001", ""})
        EXPECT_EQ(vtbox::EntryNumberFromRecordName(name, 'D'), -1) << name;
}

TEST(StoreLayout, AnEntryNumberAboveThreeDigitsIsRefused) {
    try {
        vtbox::EntryName(vtbox::kMaxEntryNumber + 1, true);
        FAIL() << "no error raised";
    } catch (const vtbox::BoxError &e) {
        EXPECT_EQ(e.code(), 87u);
    }
}

}  // namespace
