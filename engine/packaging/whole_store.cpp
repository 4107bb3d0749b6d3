// The two exports that pack a whole local store into one archive and back.
// The archive holds the store's BOX tree as a backup file does
// (store/layout.hpp), without a description.

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "localfiles/local_file.hpp"
#include "localfiles/local_folder.hpp"
#include "packaging/folder_archive.hpp"
#include "session/error_detail.hpp"
#include "session/result.hpp"
#include "store/layout.hpp"
#include "vtBoxBRD.h"
#include "vtplatform.h"
#include "vtplatform/diag.hpp"
#include "vtplatform/errors.hpp"

namespace vtbox {
namespace {

// Stores a new progress value and tells the caller's event.
class ProgressWord {
public:
    ProgressWord(HANDLE event, uint32_t *word) : event_(event), word_(word) {}
    void store(uint32_t value) const {
        if (word_) *word_ = value;
        if (event_) SetEvent(event_);
    }

private:
    HANDLE event_;
    uint32_t *word_;
};

// Both exports report failures through the packaging steps' own lines and
// add none; nothing thrown may cross the library boundary.
template <typename Body>
uint32_t RunStoreExport(const char *archivePath, const char *storeRoot, Body &&body) {
    ClearFailureDetail();
    if (!archivePath || !*archivePath || !storeRoot || !*storeRoot) {
        SetLastError(vt::code(vt::Code::INVALID_PARAMETER));
        return vt::code(vt::Code::INVALID_PARAMETER);
    }
    uint32_t rc;
    try {
        rc = body(FullPath(archivePath), FullPath(storeRoot));
    } catch (...) {
        rc = CodeInFlight();
    }
    SettleFailureDetail(rc);
    SetLastError(rc);
    return rc;
}

uint32_t ZipAll(const std::string &archive, const std::string &root, const ProgressWord &progress) {
    vt::DebugPrint("\n vtBoxZipAllVaultraData START \n");
    const StoreTree tree(root);
    const std::string box = tree.box();
    const std::string data = tree.data();
    const std::string database = tree.database();

    FindList boxes;
    ListLocalFolder(data, kBoxFolderPattern, &boxes, nullptr);  // none found: n is 0
    const uint32_t n = static_cast<uint32_t>(boxes.size());
    for (uint32_t i = 0; i < n; ++i) {
        const std::string folder = data + "/" + boxes[i].cFileName;
        // Each folder is removed once packed: what cannot be packed fails the step.
        if (uint32_t rc = ZipFolder(folder + kBoxArchiveExtension, folder, {.byteChange = true, .everyItem = true}))
            return rc;
        DeleteLocalTree(folder, root);
        progress.store(85 + (8 * i) / n);
    }

    if (chdir(root.c_str()) != 0) return LastErrorFromErrno(errno);
    if (uint32_t rc = ZipFolder(tree.dataArchive(), data, {.everyItem = true})) return rc;
    DeleteLocalTree(data, root);
    progress.store(96);

    if (uint32_t rc = ZipFolder(tree.databaseArchive(), database, {.byteChange = true, .everyItem = true})) return rc;
    DeleteLocalTree(database, root);
    progress.store(97);

    // An older archive at the path gives way only to a complete new one.
    if (uint32_t rc = ZipFolder(archive, box, {.replaceTarget = true, .everyItem = true})) return rc;
    DeleteLocalTree(box, root);
    progress.store(99);

    if (chdir(root.c_str()) != 0) return LastErrorFromErrno(errno);
    return 0;
}

uint32_t UnzipAll(const std::string &archive, const std::string &root, const ProgressWord &progress) {
    vt::DebugPrint("\n vtBoxUnzipAllVaultraData START \n");
    progress.store(1);
    const StoreTree tree(root);
    const std::string box = tree.box();
    const std::string data = tree.data();

    if (uint32_t rc = UnzipArchive(archive, root)) return rc;
    tree.AdoptNameCase();
    progress.store(3);
    if (uint32_t rc = UnzipArchive(tree.databaseArchive(), box, kUnpackBoxArchive)) return rc;
    progress.store(5);
    if (uint32_t rc = UnzipArchive(tree.dataArchive(), box, {.deleteArchive = true})) return rc;
    progress.store(7);

    FindList boxArchives;
    ListLocalFolder(data, kBoxArchivePattern, nullptr, &boxArchives);  // none found: n is 0
    const uint32_t n = static_cast<uint32_t>(boxArchives.size());
    for (uint32_t i = 0; i < n; ++i) {
        if (uint32_t rc = UnzipArchive(data + "/" + boxArchives[i].cFileName, data, kUnpackBoxArchive)) return rc;
        progress.store(7 + (8 * i) / n);
    }
    return 0;
}

}  // namespace
}  // namespace vtbox

extern "C" uint32_t vtBoxZipAllVaultraData(const char *archivePath, const char *storeRoot, void * /*reserved*/,
                                           HANDLE progressEvent, uint32_t *progress) {
    const vtbox::ProgressWord word(progressEvent, progress);
    return vtbox::RunStoreExport(archivePath, storeRoot, [&](const std::string &archive, const std::string &root) {
        return vtbox::ZipAll(archive, root, word);
    });
}

extern "C" uint32_t vtBoxUnzipAllVaultraData(const char *archivePath, const char *storeRoot, void * /*reserved*/,
                                             HANDLE progressEvent, uint32_t *progress) {
    const vtbox::ProgressWord word(progressEvent, progress);
    return vtbox::RunStoreExport(archivePath, storeRoot, [&](const std::string &archive, const std::string &root) {
        return vtbox::UnzipAll(archive, root, word);
    });
}
