// Backup files and store edits for the tests of the backup and restore
// pages: zip files that hold only a description, jobs run without windows,
// and documents written straight into the simulated device's store.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "job_thread.hpp"
#include "sim_device.hpp"

namespace vtutil {
class DeviceSession;
}

namespace vttest {

struct DescribedBox {
    uint32_t number = 0;
    std::string name;
    uint32_t usedKb = 0;
    bool isProtected = false;
};

// A zip file whose one entry, BOX/Backup.XML, describes these boxes as a
// backup of the given engine version.
void WriteBackupDescription(const std::string &path, const std::string &engineVersion,
                            const std::vector<DescribedBox> &boxes);
// A zip file whose one entry, BOX/Archive.XML, describes a document archive.
void WriteArchiveDescription(const std::string &path, const std::string &engineVersion);

// Runs a job of the utility without a window and returns how it ended.
vtutil::JobOutcome RunJobWithoutWindow(vtutil::DeviceSession &session, vtutil::JobRequest request);

// The level of a box in the store that holds its documents and folders.
std::filesystem::path BoxLevel(const SimDevice &sim, uint32_t box);
// Renames an entry (its record file) as the device would show it.
void RenameEntry(const std::filesystem::path &record, const std::string &name);
// Adds a document with one page at a level.
void AddDocument(const std::filesystem::path &level, uint32_t number, const std::string &name);
// The display names of a level's documents, in number order.
std::vector<std::string> DocumentNames(const std::filesystem::path &level);

// Hidden work folders a job left in a folder.
std::vector<std::string> WorkFoldersIn(const std::string &folder);

}  // namespace vttest
