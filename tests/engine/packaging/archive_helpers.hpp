// Helpers for the packaging tests: files in temp folders, archives crafted
// entry by entry (names no writer of ours would produce), entry listings.
#pragma once

#include "temp_dir.hpp"
#include <minizip/zip.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "packaging/zip_reader.hpp"

namespace pkgtest {

namespace fs = std::filesystem;

using vttest::KeepCwd;

inline void WriteFile(const fs::path &path, const std::string &bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadFile(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Bytes that look like a scanned page: runs of repeated values with noise.
inline std::string PageBytes(size_t size, unsigned seed) {
    std::string out(size, '\0');
    unsigned x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        out[i] = static_cast<char>((i / 64) % 7 == 0 ? (x >> 16) : (i / 512) & 0xFF);
    }
    return out;
}

// Every regular file below root, by path relative to root, with its bytes.
inline std::map<std::string, std::string> Snapshot(const fs::path &root) {
    std::map<std::string, std::string> out;
    for (const auto &e : fs::recursive_directory_iterator(root)) {
        std::string rel = fs::relative(e.path(), root).string();
        out[rel + (e.is_directory() ? "/" : "")] = e.is_directory() ? "" : ReadFile(e.path());
    }
    return out;
}

// Writes an archive whose entries are exactly the given names and contents
// (a name ending in "\\" or "/" is a folder entry), with the given DOS date.
inline bool CraftArchive(const std::string &path,
                         const std::vector<std::pair<std::string, std::string>> &entries,
                         unsigned long dos_date = 0x5A2F6000ul) {
    zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    if (!zip) return false;
    bool ok = true;
    for (const auto &[name, data] : entries) {
        zip_fileinfo info{};
        info.dosDate = dos_date;
        bool folder = !name.empty() && (name.back() == '\\' || name.back() == '/');
        info.external_fa = folder ? 0x10 : 0x20;
        ok = ok && zipOpenNewFileInZip64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                         Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0) == ZIP_OK;
        ok = ok && (data.empty() ||
                    zipWriteInFileInZip(zip, data.data(), static_cast<unsigned>(data.size())) == ZIP_OK);
        ok = ok && zipCloseFileInZip(zip) == ZIP_OK;
    }
    return zipClose(zip, nullptr) == ZIP_OK && ok;
}

// The stored entry names in order ("/" shown as "\\"), or empty when the
// archive cannot be opened.
inline std::vector<std::string> EntryNames(const std::string &archive) {
    std::vector<std::string> names;
    vtbox::ZipReader reader;
    if (!reader.open(archive)) return names;
    for (bool more = reader.gotoFirst(); more; more = reader.gotoNext()) {
        vtbox::ZipEntryInfo info;
        if (!reader.currentInfo(&info)) break;
        names.push_back(info.name);
    }
    return names;
}

}  // namespace pkgtest
