// The store folder in the device's layout, and every question the box pages
// and the FTP server ask of it. The store is the single source of truth: no
// reply value is cached anywhere else.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "devicesim/record_file.hpp"

namespace devicesim {

namespace fs = std::filesystem;

// "B0000001", "F0000012", "D0000003": the letter and at least seven digits.
std::string EntryName(char letter, unsigned number);

// Number of a name made of `letter` and exactly seven digits, followed by
// `suffix` (for example ".XML" or ""); nullopt for any other name.
std::optional<unsigned> ParseEntryName(std::string_view name, char letter, std::string_view suffix);

// One folder or document at one level of a box.
struct StoreEntry {
    unsigned number = 0;
    fs::path recordPath;  // .../D0000nnn.XML
    fs::path folderPath;  // .../D0000nnn
    EntryRecord record;
};

class Store {
public:
    explicit Store(fs::path root);

    const fs::path &Root() const { return root_; }
    fs::path DatabaseDir() const { return root_ / "SHR" / "BOX" / "DATABASE"; }
    fs::path DataDir() const { return root_ / "SHR" / "BOX" / "DATA"; }
    fs::path BoxRecordPath(unsigned box) const;
    fs::path BoxDataPath(unsigned box) const;

    // Makes SHR/BOX/DATABASE and SHR/BOX/DATA when missing.
    void EnsureLayout() const;
    // True when the store holds no box record and no box folder.
    bool IsEmpty() const;

    // Boxes that have a record in DATABASE or a folder in DATA, ascending.
    std::vector<unsigned> BoxNumbers() const;
    bool BoxExists(unsigned box) const;
    // The box record, or a default record when the box has a folder but no record.
    BoxRecord ReadBoxRecord(unsigned box) const;
    // The box's inner folder: its first subfolder (in name order) whose name begins with "P".
    std::optional<fs::path> InnerFolder(unsigned box) const;

    // Entries at one level (a box's inner folder or a folder's folder), by the
    // record files named letter + seven digits + ".XML", ascending by number.
    std::vector<StoreEntry> ListEntries(const fs::path &level, char letter) const;

    // Files of a document's page folder that are pages (name begins with "PAGE").
    unsigned CountPages(const fs::path &documentFolder) const;
    // Bytes of every regular file below a path (the path itself when it is a file).
    uint64_t TreeBytes(const fs::path &path) const;
    // Latest update time of the box: its record and every entry record in it.
    uint32_t BoxUpdateTime(unsigned box) const;

    // Removes every box record and box folder. False when something stayed.
    bool DeleteAllBoxes() const;

    // Maps an FTP path (absolute, or relative to `cwd`) to a normalised absolute
    // virtual path ("/SHR/BOX"). nullopt when it would climb above the root or
    // holds a control character.
    static std::optional<std::string> NormalizeVirtual(std::string_view cwd, std::string_view path);
    // The local path of a normalised virtual path; nullopt when an existing
    // component of it is a symbolic link (which could lead outside the store).
    std::optional<fs::path> ToLocal(const std::string &virtualPath) const;

private:
    fs::path root_;
};

std::vector<uint8_t> ReadFileBytes(const fs::path &path, size_t max);
bool WriteFileBytes(const fs::path &path, const std::vector<uint8_t> &bytes);

}  // namespace devicesim
