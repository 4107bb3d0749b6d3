#include "packaging/folder_archive.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "localfiles/local_file.hpp"
#include "localfiles/local_folder.hpp"
#include "packaging/zip_reader.hpp"
#include "packaging/zip_writer.hpp"
#include "session/error_detail.hpp"
#include "store/layout.hpp"
#include "vtplatform.h"
#include "vtplatform/diag.hpp"
#include "vtplatform/errors.hpp"

namespace vtbox {

uint32_t FailureCode() {
    uint32_t code = GetLastError();
    if (code == 0) {
        code = vt::code(vt::Code::INTERNAL_ERROR);
        SetLastError(code);
    }
    return code;
}

namespace {

constexpr char kNotAZip[] = "\n\n Not a valid zip file \n";
constexpr char kUnzipFailed[] = "\n\n *************** UNZIP FAILED ***************\n\n";

uint32_t Failed(vt::Code code) {
    SetLastError(vt::code(code));
    return vt::code(code);
}

// The source folder must exist: packing a missing folder would give an
// archive that looks fine and holds nothing.
bool IsFolder(const std::string &path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        LastErrorFromErrno(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        SetLastError(vt::code(vt::Code::IS_A_FOLDER));
        return false;
    }
    return true;
}

uint32_t PackTree(PartFile &part, const std::string &source, bool everyItem) {
    ZipWriter writer;
    if (!writer.Open(part.path(), ParentFolder(source))) return FailureCode();
    AddResult added = writer.AddFolder(source, false, everyItem);
    if (added == AddResult::Broken) return FailureCode();
    if (added == AddResult::LeftOut && everyItem) {
        uint32_t code = FailureCode();
        NoteFailure(code, writer.firstLeftOut() + " cannot be packed; nothing of " + source + " is removed");
        return code;
    }
    if (!writer.Close()) return FailureCode();
    return 0;
}

uint32_t PackFlat(PartFile &part, const std::string &source, const FindList &files) {
    ZipWriter writer;
    if (!writer.Open(part.path(), ParentFolder(part.path()))) {
        vt::DebugPrint("%s", kNotAZip);
        return FailureCode();
    }
    for (const auto &f : files) {
        if (writer.AddFile(JoinPath(source, f.cFileName), true) != AddResult::Added) {
            vt::DebugPrint("%s", kNotAZip);
            uint32_t code = FailureCode();
            writer.Close();
            SetLastError(code);
            return code;
        }
    }
    if (!writer.Close()) return FailureCode();
    return 0;
}

}  // namespace

uint32_t ChangeLast32BytesAt(int fd, uint64_t end) {
    if (end < 16) return Failed(vt::Code::DAMAGED_FILE);
    const uint64_t at = end - 16;
    unsigned char bytes[8];
    if (!ReadAllAt(fd, bytes, sizeof bytes, at)) return FailureCode();
    for (auto &b : bytes) b = static_cast<unsigned char>(~b);
    if (!WriteAllAt(fd, bytes, sizeof bytes, at)) return FailureCode();
    return 0;
}

uint32_t ChangeLast32Bytes(const std::string &archive) {
    vt::DebugPrint("bChangeLast32Bytes done ");
    UniqueFd fd(::open(archive.c_str(), O_RDWR | O_CLOEXEC));
    if (!fd) {
        uint32_t code = LastErrorFromErrno(errno);
        vt::DebugPrint("Zip File Open Failed \n\n\n\n");
        return code;
    }
    struct stat st;
    if (fstat(fd.get(), &st) != 0) return LastErrorFromErrno(errno);
    if (uint32_t rc = ChangeLast32BytesAt(fd.get(), static_cast<uint64_t>(st.st_size))) return rc;
    if (!fd.Close()) return FailureCode();
    return 0;
}

uint32_t ZipFolderAt(int fd, uint64_t base, const std::string &source, bool byteChange, uint64_t *size,
                     HeldFiles *held) {
    vt::DebugPrint("\n %s Zipping in place ", source.c_str());
    SetLastError(0);
    const std::string folder = FullPath(source);
    uint32_t rc = 0;
    ZipWriter writer;
    writer.SetHeldFiles(held);
    if (!IsFolder(folder) || !writer.OpenAt(fd, base, ParentFolder(folder)) ||
        writer.AddFolder(folder, false) == AddResult::Broken || !writer.Close())
        rc = FailureCode();
    else if (byteChange)
        rc = ChangeLast32BytesAt(fd, base + writer.writtenSize());
    if (rc != 0) {
        AddFailureContext(rc, "packing " + source);
        return rc;
    }
    *size = writer.writtenSize();
    SetLastError(0);
    return 0;
}

namespace {

uint32_t PackFolder(const std::string &target, const std::string &source, ZipOptions options) {
    if (target.empty())
        vt::DebugPrint("\n %s Zipping to %s.zip ", source.c_str(), source.c_str());
    else
        vt::DebugPrint("\n %s Zipping to %s ", source.c_str(), target.c_str());
    SetLastError(0);
    if (source.empty() || (options.flat && target.empty())) return Failed(vt::Code::INVALID_PARAMETER);

    const std::string folder = FullPath(source);
    const std::string archive = target.empty() ? folder + ".zip" : FullPath(target);
    if (!IsFolder(folder)) return FailureCode();
    if (!options.replaceTarget && PathExists(archive)) {
        vt::DebugPrint("\n %s already exists, not replaced \n", archive.c_str());
        return Failed(vt::Code::ALREADY_EXISTS);
    }

    FindList files;
    if (options.flat) {
        uint32_t rc = ListLocalFolder(folder, "*", nullptr, &files);
        if (rc != 0) return Failed(static_cast<vt::Code>(rc));
    }

    PartFile part;
    if (!part.Create(ParentFolder(archive), false)) {
        if (options.flat) vt::DebugPrint("%s", kNotAZip);
        return FailureCode();
    }
    uint32_t rc = options.flat ? PackFlat(part, folder, files) : PackTree(part, folder, options.everyItem);
    if (rc != 0) return rc;
    if (options.byteChange) {
        rc = ChangeLast32Bytes(part.path());
        if (rc != 0) return rc;
    }
    if (!part.Commit(archive, options.replaceTarget)) {
        uint32_t code = FailureCode();
        if (code == vt::code(vt::Code::ALREADY_EXISTS))
            vt::DebugPrint("\n %s already exists, not replaced \n", archive.c_str());
        return code;
    }
    SetLastError(0);
    return 0;
}

}  // namespace

uint32_t ZipFolder(const std::string &target, const std::string &source, ZipOptions options) {
    uint32_t rc = PackFolder(target, source, options);
    if (rc != 0) AddFailureContext(rc, "packing " + source + " into " + (target.empty() ? source + ".zip" : target));
    return rc;
}

namespace {

uint32_t Unpack(const std::string &archive, const std::string &target, UnzipOptions options) {
    const std::string full = FullPath(archive);
    const std::string folder = target.empty() ? ParentFolder(full) : FullPath(target);
    vt::DebugPrint("\n %s UnZipping to %s ", archive.c_str(), folder.c_str());
    SetLastError(0);
    if (archive.empty()) return Failed(vt::Code::INVALID_PARAMETER);
    if (options.undoByteChange) {
        uint32_t rc = ChangeLast32Bytes(full);
        if (rc != 0) return rc;
    }
    ZipReader reader;
    if (!reader.Open(full)) {
        vt::DebugPrint("%s", kNotAZip);
        return FailureCode();
    }
    if (!reader.ExtractAll(folder, false)) {
        uint32_t code = FailureCode();
        vt::DebugPrint("%s", kUnzipFailed);
        reader.Close();
        return code;
    }
    reader.Close();
    if (options.deleteArchive && unlink(full.c_str()) != 0)
        vt::DebugPrint("\n %s unpacked but not deleted \n", full.c_str());
    SetLastError(0);
    return 0;
}

}  // namespace

uint32_t UnzipArchive(const std::string &archive, const std::string &target, UnzipOptions options) {
    uint32_t rc = Unpack(archive, target, options);
    if (rc != 0) AddFailureContext(rc, "unpacking " + archive + " into " + (target.empty() ? "its folder" : target));
    return rc;
}

uint32_t ExtractBoxArchive(const std::string &archive, const std::string &target, uint32_t box) {
    const std::string name = BoxArchiveName(box);
    vt::DebugPrint("Extracting %s --> %s", name.c_str(), target.c_str());
    SetLastError(0);
    ZipReader reader;
    if (!reader.Open(archive)) {
        vt::DebugPrint("%s", kNotAZip);
        uint32_t code = FailureCode();
        NoteFailure(code, archive + " is no zip archive that can be read");
        return code;
    }
    if (!reader.Locate(name, true)) {
        vt::DebugPrint("\n\n File to be extracted was not Found.. \n");
        uint32_t code = FailureCode();
        NoteFailure(code, "no " + name + " in " + archive);
        return code;
    }
    // Saved under the name asked for: on this system names differ by case.
    if (!reader.ExtractCurrent(target, true, name)) {
        vt::DebugPrint("\n\n File cannot be extracted.. \n");
        uint32_t code = FailureCode();
        AddFailureContext(code, "taking " + name + " out of " + archive);
        return code;
    }
    reader.Close();
    SetLastError(0);
    return 0;
}

int GetArchiveKind(const std::string &archive) {
    ZipReader reader;
    if (!reader.Open(archive)) {
        vt::DebugPrint("%s", kNotAZip);
        return 0;
    }
    return ArchiveKindOf(reader);
}

int ArchiveKindOf(ZipReader &reader) {
    if (reader.Locate(kBackupDescriptionName, true)) return 1;
    if (reader.Locate(kArchiveDescriptionName, true)) return 2;
    return 0;
}

}  // namespace vtbox
