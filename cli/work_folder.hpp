#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vtcli {

// The start of the name of vtbox's work folders.
inline constexpr char kWorkFolderPrefix[] = ".vtbox-work-";

// The start of the name of a document's folder while vtBoxExtractDocuments
// writes it (".vtbox-extract-<pid>-<n>").
inline constexpr char kExtractFolderPrefix[] = ".vtbox-extract-";

// A hidden work folder made next to a file the job writes or reads
// (".vtbox-work-<pid>-XXXXXX"), removed with everything in it when the
// object ends, but for what it holds that must outlive the job
// (vtjobs::KeptContent):
// that stays, in the folder, and nothing else does.
//
// Making one first clears the work folders that dead vtbox runs left in the
// same folder (vtjobs::ClearDeadWorkFolders), once per folder and process, and says
// on standard error what it removed and what it kept (unless -q).
class WorkFolder {
public:
    explicit WorkFolder(const std::string &besideFile);
    WorkFolder(WorkFolder &&other) noexcept
        : path_(std::move(other.path_)), error_(std::move(other.error_)), errno_(other.errno_) {
        other.path_.clear();
    }
    ~WorkFolder();
    WorkFolder(const WorkFolder &) = delete;
    WorkFolder &operator=(const WorkFolder &) = delete;

    bool ok() const { return !path_.empty(); }
    const std::string &path() const { return path_; }
    const std::string &error() const { return error_; }
    int error_number() const { return errno_; }

private:
    WorkFolder() = default;
    friend WorkFolder TempWorkFolder();
    std::string path_, error_;
    int errno_ = 0;
};

// A work folder in the temp folder ($TMPDIR, else /tmp). When that is not a
// usable folder the object is not ok() and error() says so.
WorkFolder TempWorkFolder();

// A work folder for reading a file: beside it, where there is room for what
// is taken out of it, else in the temp folder (the file's folder may be one
// nobody can write to). Not ok() when neither can be made; error() says why.
WorkFolder WorkFolderFor(const std::string &file);

// Removes the half-written documents' folders that killed extractions left
// in target, saying so (unless -q).
void ClearDeadExtractions(const std::string &target);

// The folder part of a path ("." when it has none).
std::string FolderOf(const std::string &path);

// What vtjobs::KeptContent found, in words for an administrator ("" when
// nothing).
std::string DescribeKeptContent(const std::string &workFolder);

}  // namespace vtcli
