#include "packaging/backup_file.hpp"

#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <vector>

#include "localfiles/local_folder.hpp"
#include "packaging/deflate_pool.hpp"
#include "packaging/entry_name.hpp"
#include "packaging/folder_archive.hpp"
#include "session/error_detail.hpp"
#include "session/waits.hpp"
#include "vtplatform.h"
#include "vtplatform/errors.hpp"
#include "vtplatform/find.hpp"

namespace vtbox {

namespace {

constexpr size_t kCrcBlock = 256 * 1024;

// The entry name of path, relative to the folder holding the archive's top.
std::string EntryFor(const std::string &path, const std::string &topParent) {
    return EntryNameFromRelativePath(path.substr(topParent.size() + 1));
}

// The CRC-32 of size bytes at offset at (read back from the page cache).
bool CrcOfRegion(int fd, uint64_t at, uint64_t size, uint32_t *crc) {
    std::vector<unsigned char> block(static_cast<size_t>(std::min<uint64_t>(size, kCrcBlock)));
    uLong value = crc32(0L, Z_NULL, 0);
    while (size > 0) {
        if (IsSignalled(CurrentCancelEvent())) {
            SetLastError(vt::code(vt::Code::CANCELLED));
            return false;
        }
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(size, block.size()));
        if (!ReadAllAt(fd, block.data(), chunk, at)) return false;
        value = crc32(value, block.data(), static_cast<uInt>(chunk));
        at += chunk;
        size -= chunk;
    }
    *crc = static_cast<uint32_t>(value);
    return true;
}

bool StatFolder(const std::string &path, struct stat *st) {
    if (stat(path.c_str(), st) != 0) {
        LastErrorFromErrno(errno);
        return false;
    }
    return true;
}

}  // namespace

uint32_t BackupFileWriter::Create() {
    if (!part_.Create(tree_.root(), true)) return FailureCode();
    outer_ = std::make_unique<ZipLayer>(part_.fd(), 0);
    return 0;
}

// A folder packed as a box archive (with the byte change) into the next
// entry of layer, under name.
uint32_t BackupFileWriter::PackInto(ZipLayer &layer, const std::string &name, const std::string &folder) {
    const uint64_t at = layer.nextDataOffset(name);
    uint64_t size = 0;
    if (uint32_t rc = ZipFolderAt(part_.fd(), at, folder, true, &size, held_)) return rc;
    uint32_t crc = 0;
    // A box archive just packed is a file of its own today: it carries the
    // time it was finished and the attributes of a plain file.
    if (!CrcOfRegion(part_.fd(), at, size, &crc) ||
        !layer.AddWritten(name, DosDateTimeFromUnix(time(nullptr)), vt::kAttrArchive, size, crc)) {
        uint32_t code = FailureCode();
        AddFailureContext(code, "packing " + folder);
        return code;
    }
    return 0;
}

uint32_t BackupFileWriter::AddDatabase() {
    return PackInto(*outer_, EntryFor(tree_.databaseArchive(), tree_.root()), tree_.database());
}

// DATA.zip begins where the data of its entry in the file begins.
ZipLayer &BackupFileWriter::DataLayer() {
    if (!data_)
        data_ =
            std::make_unique<ZipLayer>(part_.fd(), outer_->nextDataOffset(EntryFor(tree_.dataArchive(), tree_.root())));
    return *data_;
}

uint32_t BackupFileWriter::AddBox(uint32_t box) {
    return PackInto(DataLayer(), EntryFor(tree_.boxArchive(box), tree_.box()), tree_.boxFolder(box));
}

uint32_t BackupFileWriter::FinishData() {
    ZipLayer &data = DataLayer();
    struct stat st;
    if (!StatFolder(tree_.data(), &st) ||
        !data.AddFolder(EntryFor(tree_.data(), tree_.box()) + "\\", DosDateTimeFromUnix(st.st_mtime),
                        DosAttributesOf(st)) ||
        !data.Finish() ||
        !outer_->AddWritten(EntryFor(tree_.dataArchive(), tree_.root()), DosDateTimeFromUnix(time(nullptr)),
                            vt::kAttrArchive, data.size(), data.crc())) {
        uint32_t code = FailureCode();
        AddFailureContext(code, "packing " + tree_.data() + " into " + tree_.dataArchive());
        return code;
    }
    return 0;
}

uint32_t BackupFileWriter::Finish() {
    const std::string description = tree_.description();
    DeflatePool pool({description}, {false});
    DeflatedFile file = pool.Take(0);
    struct stat st;
    bool ok = false;
    if (file.state != DeflatedFile::State::Done) {
        LastErrorFromErrno(file.error ? file.error : EIO);
    } else {
        ok = outer_->AddDeflated(EntryFor(description, tree_.root()), DosDateTimeFromUnix(file.st.st_mtime),
                                 DosAttributesOf(file.st), file.Joined(), file.size, file.crc) &&
             StatFolder(tree_.box(), &st) &&
             outer_->AddFolder(EntryFor(tree_.box(), tree_.root()) + "\\", DosDateTimeFromUnix(st.st_mtime),
                               DosAttributesOf(st)) &&
             outer_->Finish() && part_.Commit(tree_.packedBox(), false);
    }
    if (!ok) {
        uint32_t code = FailureCode();
        AddFailureContext(code, "packing " + tree_.box() + " into " + tree_.packedBox());
        return code;
    }
    return 0;
}

void BackupFileWriter::Discard() {
    data_.reset();
    outer_.reset();
    part_.Discard();
}

}  // namespace vtbox
