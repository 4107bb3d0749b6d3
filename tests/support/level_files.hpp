// Record files and entry folders of one box level, written the device's way.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "devicesim/record_file.h"
#include "vtplatform/diag.hpp"
#include "vtplatform/text.hpp"

namespace vttest {

namespace fs = std::filesystem;

inline std::string OwnName(char letter, uint32_t number) {
    return vt::Format("%c0000%03u", letter, number);
}

inline std::vector<uint8_t> FileBytes(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const fs::path &path, const std::vector<uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A document (letter 'D', with a page folder holding one page) or a folder
// ('F', an empty folder) named name, with a recognisable record.
inline void AddEntry(const fs::path &level, char letter, uint32_t number, const std::u16string &name,
                     uint32_t update_time = 1700000000) {
    devicesim::EntryRecord r;
    r.ownName = OwnName(letter, number);
    r.displayName = name;
    r.updateTime = update_time;
    r.createTime = 1600000000 + number;
    r.thumbnail = "THUMB.BIN";
    fs::create_directories(level / r.ownName);
    WriteBytes(level / (r.ownName + ".XML"), devicesim::EncodeEntryRecord(r));
    if (letter == 'D') WriteBytes(level / r.ownName / "PAGE0001.DAT", {1, 2, 3, static_cast<uint8_t>(number)});
}

inline void AddEntry(const fs::path &level, char letter, uint32_t number, const std::string &utf8_name) {
    AddEntry(level, letter, number, vt::Utf8ToUtf16(utf8_name));
}

inline devicesim::EntryRecord ReadEntry(const fs::path &record) {
    std::vector<uint8_t> bytes = FileBytes(record);
    return devicesim::DecodeEntryRecord(bytes);
}

}  // namespace vttest
