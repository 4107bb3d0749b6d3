// Downloaded files kept in memory instead of the work tree, until they are
// packed. A backup of small documents spent most of its time in the kernel
// making, and then deleting, one work-tree file per downloaded file; a small
// file now stays here under the path it would have had there, and the packer
// takes it from here as it would have read it from there (same entry, same
// place, same time and attributes). A file beyond either bound goes to the
// work tree as before. One object serves the threads of one job.
#pragma once

#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace vtbox {

class HeldFiles {
public:
    // A file is held only when it is at most this large: records and pages
    // of a few hundred KB, where making the file costs more than its bytes.
    // A larger page costs its compression, not its file, and goes to disk.
    static constexpr size_t kMaxFileBytes = 1u << 20;
    // All files held at once, across the box being packed and the box
    // coming in: the job's memory stays within this much more than it took
    // before (about 20 MB at its peak), whatever the size of the store.
    static constexpr size_t kMaxHeldBytes = 12u << 20;

    HeldFiles() = default;
    HeldFiles(const HeldFiles &) = delete;
    HeldFiles &operator=(const HeldFiles &) = delete;

    // Files named as archives (".vtb", ".zip") are packed as they are,
    // streamed from the work tree: they are never held; nor is anything
    // while the bounds are lowered to nothing.
    static bool Holdable(std::string_view path);
    // The same names, which the packer stores rather than compresses.
    static bool IsArchiveName(std::string_view name);

    // Room for size more bytes of a file coming in, counted until Release
    // or Put; false when the file would pass either bound (it then goes to
    // the work tree, and what it reserved is released).
    bool Reserve(size_t fileSoFar, size_t size);
    void Release(size_t size);

    // Keeps a file that came in whole (its bytes reserved) as path, arrived
    // at when. One held before under the same path gives way.
    void Put(const std::string &path, std::string bytes, time_t when);
    // Forgets path: the file went to the work tree.
    void Drop(const std::string &path);
    // Forgets every file below folder (the folder was packed or is removed).
    void DropUnder(const std::string &folder);

    struct Listed {
        std::string name;
        time_t when;
    };
    // The files held directly in folder, by name.
    std::vector<Listed> ListIn(const std::string &folder) const;

    // Moves path's bytes out, with its time; the caller releases their size
    // once it has let them go. False when path is not held.
    bool Take(const std::string &path, std::string *bytes, time_t *when);
    // The first bytes of path, at most size of them; false when not held.
    bool Head(const std::string &path, size_t size, std::string *head) const;

    // Lowers both bounds for a test (0, 0: nothing is held); the defaults
    // again with kMaxFileBytes, kMaxHeldBytes.
    static void SetBoundsForTesting(size_t maxFile, size_t maxHeld);

private:
    struct File {
        std::string bytes;
        time_t when;
    };
    mutable std::mutex mutex_;
    std::map<std::string, File> files_;  // by full path
    size_t counted_ = 0;                 // reserved and held bytes
};

}  // namespace vtbox
