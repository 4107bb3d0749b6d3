// Helpers for the packaging tests: files in temp folders, archives crafted
// entry by entry (names no writer of ours would produce), entry listings.
#pragma once

#include <minizip/zip.h>
#include <zlib.h>
#include "temp_dir.hpp"

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
inline bool CraftArchive(const std::string &path, const std::vector<std::pair<std::string, std::string>> &entries,
                         unsigned long dos_date = 0x5A2F6000ul) {
    zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    if (!zip) return false;
    bool ok = true;
    for (const auto &[name, data] : entries) {
        zip_fileinfo info{};
        info.dosDate = dos_date;
        bool folder = !name.empty() && (name.back() == '\\' || name.back() == '/');
        info.external_fa = folder ? 0x10 : 0x20;
        ok = ok && zipOpenNewFileInZip64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                         Z_DEFAULT_COMPRESSION, 0) == ZIP_OK;
        ok =
            ok && (data.empty() || zipWriteInFileInZip(zip, data.data(), static_cast<unsigned>(data.size())) == ZIP_OK);
        ok = ok && zipCloseFileInZip(zip) == ZIP_OK;
    }
    return zipClose(zip, nullptr) == ZIP_OK && ok;
}

// Raw deflate data of bytes, as an entry holds it.
inline std::string RawDeflate(const std::string &data) {
    z_stream s{};
    deflateInit2(&s, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&s, data.size()), '\0');
    s.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
    s.avail_in = static_cast<uInt>(data.size());
    s.next_out = reinterpret_cast<Bytef *>(out.data());
    s.avail_out = static_cast<uInt>(out.size());
    deflate(&s, Z_FINISH);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

inline uint32_t Crc32(const std::string &data) {
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef *>(data.data()), static_cast<uInt>(data.size())));
}

// An archive laid down byte by byte, for central directories no writer
// would produce: entries whose records point at the same data, past the end,
// or declare sizes their data does not have.
class RawArchive {
public:
    struct Record {
        std::string name;
        uint16_t method;
        uint32_t crc;
        uint64_t compressed, size, offset;
        uint32_t attributes;
    };

    // A local header and data; the record that describes them, as written,
    // is returned for Central() (change its fields to lie).
    Record Local(const std::string &name, const std::string &data, bool deflate = true) {
        const std::string stored = deflate ? RawDeflate(data) : data;
        Record r{name,
                 static_cast<uint16_t>(deflate ? 8 : 0),
                 Crc32(data),
                 stored.size(),
                 data.size(),
                 bytes_.size(),
                 static_cast<uint32_t>(!name.empty() && name.back() == '\\' ? 0x10 : 0x20)};
        put32(bytes_, 0x04034b50);
        put16(bytes_, 20);
        put16(bytes_, 0);
        put16(bytes_, r.method);
        put32(bytes_, 0x5A2F6000);
        put32(bytes_, r.crc);
        put32(bytes_, static_cast<uint32_t>(r.compressed));
        put32(bytes_, static_cast<uint32_t>(r.size));
        put16(bytes_, static_cast<uint32_t>(name.size()));
        put16(bytes_, 0);
        bytes_ += name + stored;
        return r;
    }
    void Central(const Record &r) { records_.push_back(r); }
    // Both at once: an entry as any writer makes it.
    void Entry(const std::string &name, const std::string &data, bool deflate = true) {
        Central(Local(name, data, deflate));
    }

    // The file: the entries, the central directory and the end record.
    std::string Finish() const {
        std::string file = bytes_, dir;
        for (const Record &r : records_) {
            put32(dir, 0x02014b50);
            put16(dir, 20);
            put16(dir, 20);
            put16(dir, 0);
            put16(dir, r.method);
            put32(dir, 0x5A2F6000);
            put32(dir, r.crc);
            put32(dir, static_cast<uint32_t>(r.compressed));
            put32(dir, static_cast<uint32_t>(r.size));
            put16(dir, static_cast<uint32_t>(r.name.size()));
            put16(dir, 0);
            put16(dir, 0);
            put16(dir, 0);
            put16(dir, 0);
            put32(dir, r.attributes);
            put32(dir, static_cast<uint32_t>(r.offset));
            dir += r.name;
        }
        const size_t at = file.size();
        file += dir;
        put32(file, 0x06054b50);
        put16(file, 0);
        put16(file, 0);
        put16(file, static_cast<uint32_t>(records_.size()));
        put16(file, static_cast<uint32_t>(records_.size()));
        put32(file, static_cast<uint32_t>(dir.size()));
        put32(file, static_cast<uint32_t>(at));
        put16(file, 0);
        return file;
    }

    static void put16(std::string &out, uint32_t v) {
        out += static_cast<char>(v & 0xFF);
        out += static_cast<char>((v >> 8) & 0xFF);
    }
    static void put32(std::string &out, uint32_t v) {
        put16(out, v & 0xFFFF);
        put16(out, v >> 16);
    }

private:
    std::string bytes_;
    std::vector<Record> records_;
};

// The stored entry names in order ("/" shown as "\\"), or empty when the
// archive cannot be opened.
inline std::vector<std::string> EntryNames(const std::string &archive) {
    std::vector<std::string> names;
    vtbox::ZipReader reader;
    if (!reader.Open(archive)) return names;
    for (bool more = reader.GotoFirst(); more; more = reader.GotoNext()) {
        vtbox::ZipEntryInfo info;
        if (!reader.CurrentInfo(&info)) break;
        names.push_back(info.name);
    }
    return names;
}

}  // namespace pkgtest
