// Descriptions of backup files (Backup.XML) and document archives
// (Archive.XML), read by vtBoxGetXMLInfo from a file that holds them. The
// first byte picks the kind; the rest is the description.
#include <cstring>
#include <string>

#include "fuzz_target.h"
#include "vtBoxBRD.h"
#include "vtplatform.h"

namespace {

uint32_t Crc32(std::string_view bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : bytes) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void Put(std::string &out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// A zip archive that stores one entry.
std::string StoredZip(const std::string &name, std::string_view data) {
    const uint32_t crc = Crc32(data), size = static_cast<uint32_t>(data.size());
    std::string zip, central;
    for (std::string *header : {&zip, &central}) {
        const bool local = header == &zip;
        Put(*header, local ? 0x04034B50 : 0x02014B50, 4);
        if (!local) Put(*header, 20, 2);  // made by
        Put(*header, 20, 2);              // needed
        Put(*header, 0, 2);               // flags
        Put(*header, 0, 2);               // stored
        Put(*header, 0x5A2F6000, 4);      // time and date
        Put(*header, crc, 4);
        Put(*header, size, 4);
        Put(*header, size, 4);
        Put(*header, static_cast<uint32_t>(name.size()), 2);
        Put(*header, 0, 2);  // extra
        if (!local) {
            Put(*header, 0, 2);     // comment
            Put(*header, 0, 2);     // disk
            Put(*header, 0, 2);     // internal attributes
            Put(*header, 0x20, 4);  // external attributes
            Put(*header, 0, 4);     // offset of the local header
        }
        *header += name;
    }
    zip.append(data);
    const uint32_t centralAt = static_cast<uint32_t>(zip.size());
    zip += central;
    Put(zip, 0x06054B50, 4);
    Put(zip, 0, 4);  // this disk, the central directory's disk
    Put(zip, 1, 2);
    Put(zip, 1, 2);
    Put(zip, static_cast<uint32_t>(central.size()), 4);
    Put(zip, centralAt, 4);
    Put(zip, 0, 2);
    return zip;
}

}  // namespace

VT_FUZZ_TARGET(description) {
    namespace fs = std::filesystem;
    if (size == 0) return 0;
    const bool backup = data[0] & 1;
    const fs::path root = vtfuzz::Scratch() / "description";
    const fs::path work = root / "work";
    fs::create_directories(work);
    const std::string file = (root / "file.zip").string();
    vtfuzz::WriteFile(file, StoredZip(backup ? "BOX\\Backup.XML" : "Archive.XML",
                                      std::string_view(reinterpret_cast<const char *>(data) + 1, size - 1)));

    VTBACKUPINFO info;
    std::memset(&info, 0x5A, sizeof info);  // anything not written stays visibly unterminated
    uint32_t count = 0;
    VTBOXBK *boxes = nullptr;
    void *handle = nullptr;
    const uint32_t rc = vtBoxGetXMLInfo(file.c_str(), work.c_str(), &info, &count, &boxes, &handle);
    VT_FUZZ_CHECK(vtfuzz::Names(work).empty());  // the unpacked description is gone on every path
    if (rc != 0) {
        VT_FUZZ_CHECK(handle == nullptr && boxes == nullptr);
        return 0;
    }
    VT_FUZZ_CHECK(info.Kind == (backup ? 1u : 2u));
    VT_FUZZ_CHECK(strnlen(info.EngineVersion, sizeof info.EngineVersion) < sizeof info.EngineVersion);
    VT_FUZZ_CHECK(strnlen(info.MACAddress, sizeof info.MACAddress) < sizeof info.MACAddress);
    if (backup && count > 0) {
        VT_FUZZ_CHECK(handle != nullptr && GlobalSize(handle) >= count * sizeof(VTBOXBK));
        for (uint32_t i = 0; i < count; ++i)
            VT_FUZZ_CHECK(strnlen(boxes[i].BoxName, sizeof boxes[i].BoxName) < sizeof boxes[i].BoxName);
    }
    if (handle) GlobalFree(handle);
    return 0;
}
