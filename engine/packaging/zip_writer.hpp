// Writes zip archives of local files and folders (minizip over zlib).
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace vtbox {

class HeldFiles;

// What became of one item that the writer was asked to add.
enum class AddResult {
    Added,    // the entry is in the archive
    LeftOut,  // the item could not be read; the archive is intact without it
    Broken,   // writing the archive failed; the archive is unusable
};

// Owns at most one archive being written. Entry names are paths relative to
// the root folder with "\\" between parts; folder entries end in "\\". Files
// are deflated at zlib's default level (archives inside the archive, ".vtb"
// and ".zip", are stored as they are) and carry their modification time and
// DOS attributes. Files of nearly 4 GiB and more get zip64 records. A folder's
// files are compressed ahead of the writer on several cores.
struct DeflatedFile;

class ZipWriter {
public:
    ZipWriter();
    ~ZipWriter();  // closes an open archive
    ZipWriter(const ZipWriter &) = delete;
    ZipWriter &operator=(const ZipWriter &) = delete;

    // Creates the archive (replacing a file of that name; with append, adds
    // to an existing archive). Entry names are made relative to root, or to
    // the archive's own folder when root is empty. False with last error set.
    bool Open(const std::string &archive, const std::string &root, bool append = false);

    // Creates the archive inside the open file fd, from offset base on (the
    // archive's own offsets count from there, so it reads as a whole archive
    // once taken out). Entry names are made relative to root. The descriptor
    // stays the caller's. False with last error set.
    bool OpenAt(int fd, uint64_t base, const std::string &root);

    // After close: the bytes the last archive took (OpenAt only).
    uint64_t writtenSize() const;

    // Adds one file. With ignorePath the entry carries the bare file name;
    // otherwise the path (relative paths are taken against the root) must
    // lie under the root. Non-regular files are left out.
    AddResult AddFile(const std::string &path, bool ignorePath);

    // Adds a folder entry, then every file and subfolder below it whose name
    // does not begin with a dot. Items that cannot be read are left out and
    // the walk goes on; only a failure to write the archive breaks it. With
    // everyItem, names beginning with a dot go in too, and the first item
    // left out (a folder that cannot be listed among them) ends the walk: the
    // result is then LeftOut, with its error as the last error and its path
    // in firstLeftOut(). Lists folders with ListLocalFolder, which changes
    // the current folder.
    AddResult AddFolder(const std::string &path, bool ignorePath, bool everyItem = false);

    // Files that AddFolder finds in held as well as in the folders it lists
    // (the held one wins: it came last): they are packed as if they had been
    // read from their paths. Null: only what the folders hold. Not owned.
    void SetHeldFiles(HeldFiles *held) { held_ = held; }

    // The path of the item that ended addFolder with everyItem.
    const std::string &firstLeftOut() const { return firstLeftOut_; }

    // Writes the central directory and closes. False (last error set) when
    // the archive could not be completed or an earlier write had failed.
    bool Close();

    bool IsOpen() const { return zip_ != nullptr; }

    // Files at least this large are written with zip64 records. Deflate may
    // grow incompressible data a little, so the limit stays below 4 GiB.
    static constexpr uint64_t kZip64Threshold = 0xFF000000ull;

private:
    struct PlannedItem {
        std::string path;
        bool folder;
        time_t heldLatest = 0;  // a folder's: when the last file held in it came
    };
    bool Plan(const std::string &absolute, bool everyItem, std::vector<PlannedItem> *items, std::string *unlisted);
    AddResult AddFolderEntry(const std::string &absolute, const std::string &name, time_t heldLatest = 0);
    time_t HeldLatestIn(const std::string &folder) const;
    AddResult AddDeflated(const std::string &path, DeflatedFile &file);
    bool EntryName(const std::string &path, bool ignorePath, std::string *name, std::string *absolute) const;
    AddResult Broken(int err);

    struct Window;

    void *zip_ = nullptr;             // zipFile
    std::unique_ptr<Window> window_;  // the file region of openAt, else none
    std::string archive_;
    std::string root_;  // full path, ends with "/"
    std::string firstLeftOut_;
    bool broken_ = false;
    HeldFiles *held_ = nullptr;
};

}  // namespace vtbox
