// Record files of the store (D0000nnn.XML, F0000nnn.XML, B0000nnn.XML): the
// engine reads their names and edits them in place when it restores; the
// simulated device decodes what clients upload.
#include "devicesim/record_file.hpp"
#include "fuzz_target.h"
#include "session/result.hpp"
#include "store/record_edit.hpp"
#include "store/record_file.hpp"

namespace fs = std::filesystem;

VT_FUZZ_TARGET(record_file) {
    using namespace vtbox;
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    const fs::path level = vtfuzz::Scratch() / "records";
    fs::create_directories(level);
    const std::string record = (level / "D0000001.XML").string();
    vtfuzz::WriteFile(record, bytes);
    try {
        uint32_t number = 0;
        const std::u16string name = ReadRecordName(record, &number);
        VT_FUZZ_CHECK(number == 1);
        VT_FUZZ_CHECK(name.size() <= kRecordNameUnits);
        ReadRecordNameUtf8(record);
        // Written back, the name reads the same, but for half of a surrogate
        // pair cut at the field's end.
        WriteRecordName(level.string(), 1, name, true);
        const std::u16string again = ReadRecordName(record);
        VT_FUZZ_CHECK(again.size() <= name.size() && name.size() - again.size() <= 1);
        VT_FUZZ_CHECK(name.compare(0, again.size(), again) == 0);
        {
            const vtfuzz::KeepCwd keep;  // the folder walk changes the current folder
            StampDocumentTime(level.string(), 0x01020304);
        }
        const std::string stamped = vtfuzz::ReadFile(record);
        VT_FUZZ_CHECK(stamped.size() >= kRecordStampOffset + 4);
        VT_FUZZ_CHECK(stamped.compare(kRecordStampOffset, 4, "\x01\x02\x03\x04") == 0);
    } catch (const BoxError &) {}

    const std::span<const uint8_t> raw(data, size);
    const devicesim::EntryRecord entry = devicesim::DecodeEntryRecord(raw);
    VT_FUZZ_CHECK(devicesim::DecodeEntryRecord(devicesim::EncodeEntryRecord(entry)) == entry);
    const devicesim::BoxRecord box = devicesim::DecodeBoxRecord(raw);
    VT_FUZZ_CHECK(devicesim::DecodeBoxRecord(devicesim::EncodeBoxRecord(box)) == box);
    return 0;
}
