// Record files and entry folders of one box level, written the device's way.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "devicesim/record_file.hpp"
#include "vtplatform/diag.hpp"
#include "vtplatform/text.hpp"

namespace vttest {

namespace fs = std::filesystem;

inline std::string OwnName(char letter, uint32_t number) { return vt::Format("%c0000%03u", letter, number); }

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

// A document as its display name and page files ("Report|PAGE0001.DAT:..."),
// from its record file and the page folder beside it: the same text for the
// same document under any number, on the device or in a copy.
inline std::string DocumentKey(const fs::path &record) {
    std::string name = record.filename().string();
    fs::path folder = record.parent_path() / name.substr(0, name.size() - 4);
    std::string key = vt::Utf16ToUtf8(ReadEntry(record).displayName) + "|";
    std::vector<fs::path> pages;
    if (fs::is_directory(folder))
        for (const auto &p : fs::directory_iterator(folder))
            if (p.path().filename().string().rfind("PAGE", 0) == 0) pages.push_back(p.path());
    std::sort(pages.begin(), pages.end());
    for (const auto &p : pages) {
        auto bytes = FileBytes(p);
        key += p.filename().string() + ":" + std::string(bytes.begin(), bytes.end());
    }
    return key;
}

inline bool IsDocumentRecordName(const std::string &name) {
    return name.size() == 12 && name[0] == 'D' && name.ends_with(".XML");
}

// The complete documents of one store level (their folder not marked as
// being written), by DocumentKey.
inline std::multiset<std::string> CompleteDocumentsOf(const fs::path &level) {
    std::multiset<std::string> out;
    for (const auto &e : fs::directory_iterator(level)) {
        std::string name = e.path().filename().string();
        if (!IsDocumentRecordName(name)) continue;
        fs::path folder = level / name.substr(0, 8);
        if (fs::exists(folder / "CREATE.STS") && !fs::exists(folder / "UNLOCK.STS")) continue;
        out.insert(DocumentKey(e.path()));
    }
    return out;
}

// The documents that rescue copies under a work folder hold, by DocumentKey.
inline std::multiset<std::string> RescuedDocumentsIn(const fs::path &work) {
    std::multiset<std::string> out;
    fs::path rescue = work / "RESCUE";
    if (!fs::is_directory(rescue)) return out;
    for (const auto &copy : fs::directory_iterator(rescue))
        for (const auto &e : fs::directory_iterator(copy.path()))
            if (IsDocumentRecordName(e.path().filename().string())) out.insert(DocumentKey(e.path()));
    return out;
}

}  // namespace vttest
