// vtBoxConvertArchiveData: a document archive made on one engine version
// turned into one for another. A document archive is a zip of bare names:
// "Archive.XML" and one "D0000nnn.zip" per document, which holds the
// document's record "D0000nnn.XML" and its folder "D0000nnn".
//
// The source is checked first: its description and its document archives,
// nothing else, as many as the description counts; each document archive
// holds its own record and folder, nothing else. It is unpacked into a work
// folder of its own under the temporary folder; each document archive is
// unpacked on its own to read its record and is dropped when a filter
// matches; the description gets the new version and count, and the files
// left are packed into the destination, which appears only when whole. The
// source is never changed; the work folder is removed on every path.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "conversion/conversion_start.hpp"
#include "conversion/description_edit.hpp"
#include "conversion/document_filter.hpp"
#include "jobs/progress.hpp"
#include "localfiles/local_file.hpp"
#include "localfiles/local_folder.hpp"
#include "packaging/entry_name.hpp"
#include "packaging/folder_archive.hpp"
#include "packaging/zip_reader.hpp"
#include "session/boundary.hpp"
#include "store/layout.hpp"
#include "store/record_file.hpp"
#include "vtplatform/diag.hpp"
#include "vtplatform/errors.hpp"
#include "vtplatform/text.hpp"

using namespace vtbox;

namespace {

constexpr const char *kDocumentArchivePattern = "D000*.zip";
constexpr const char *kDocumentArchiveExtension = ".zip";

// The document number of a document archive's bare name, "D0000nnn.zip"
// (the extension in any case), nnn from 001 to 999; 0 for any other name.
uint32_t DocumentArchiveNumber(const std::string &name) {
    const size_t stem = name.size() - std::strlen(kDocumentArchiveExtension);
    if (name.size() <= std::strlen(kDocumentArchiveExtension) ||
        !vt::EqualsIgnoreCase(name.substr(stem), kDocumentArchiveExtension))
        return 0;
    const int number = EntryNumberFromRecordName(name.substr(0, stem) + kRecordExtension, 'D');
    return number > 0 ? static_cast<uint32_t>(number) : 0;
}

[[noreturn]] void RefuseEntry(const std::string &where, const std::string &entry, const std::string &what) {
    Raise(vt::Code::DAMAGED_FILE, where + ": the entry \"" + entry + "\" is no part of " + what);
}
// Each document archive is unpacked here, inside the work folder, so that
// what it holds can never take the place of the description or of another
// document archive.
constexpr const char *kUnpackFolder = ".document";

class ArchiveConversion {
public:
    ArchiveConversion(ConversionRequest request, std::string temp, HANDLE cancel, HANDLE progressEvent,
                      VTPROGRESSINFO *record)
        : request_(std::move(request)), temp_(std::move(temp)), progress_(record, progressEvent, cancel) {}

    void Run(const char *sourceAsGiven, const char *destinationAsGiven);
    void Fail() {
        if (!work_.empty()) DeleteLocalTree(work_, temp_);
    }

private:
    void MakeWorkFolder();
    void CheckSource();
    void ConvertDocument(const std::string &archiveName);
    std::string Description() const { return JoinPath(work_, kArchiveDescriptionName); }

    ConversionRequest request_;
    std::string temp_, work_;
    Progress progress_;
    CheckSettings checks_;
    uint32_t remaining_ = 0;
};

// The work folder: a fresh folder under the temporary folder, "BKR" and a
// unique part (the system's temporary names keep three characters of their
// prefix, here "BKRT--").
void ArchiveConversion::MakeWorkFolder() {
    std::string pattern = JoinPath(temp_, "BKRXXXXXX");
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!mkdtemp(name.data())) Raise(vt::Win32FromErrno(errno), "cannot make a work folder in " + temp_);
    work_ = name.data();
    if (chdir(work_.c_str()) != 0) Raise(vt::Win32FromErrno(errno), "cannot enter " + work_);
}

// The file's own level, before anything of it is unpacked: one description,
// the document archives by bare name and nothing else (no folder, no other
// file), and as many of them as the description counts (NumOfDocs), so that
// the converted count is the converted file's.
void ArchiveConversion::CheckSource() {
    ZipReader zip;
    if (!zip.Open(request_.source))
        Raise(vt::Code::INVALID_DATA,
              "cannot unpack " + request_.source + (zip.problem().empty() ? std::string() : ": " + zip.problem()));
    bool description = false;
    uint32_t documents = 0;
    for (const DirectoryEntry &e : zip.entries()) {
        if (!e.isFolder && !description && vt::EqualsIgnoreCase(e.name, kArchiveDescriptionName))
            description = true;
        else if (!e.isFolder && DocumentArchiveNumber(std::string(e.name)) != 0)
            ++documents;
        else
            RefuseEntry(request_.source, std::string(e.name), "a document archive");
    }
    VTBACKUPINFO info{};
    uint32_t counted = 0;
    VTBOXBK *boxes = nullptr;
    void *handle = nullptr;
    const uint32_t rc = vtBoxGetXMLInfo(request_.source.c_str(), work_.c_str(), &info, &counted, &boxes, &handle);
    if (handle) GlobalFree(handle);
    Check(rc);
    if (counted != documents)
        Raise(vt::Code::DAMAGED_FILE, vt::Format("%s: its description counts %u documents (NumOfDocs) but it holds %u",
                                                 request_.source.c_str(), counted, documents));
}

void ArchiveConversion::ConvertDocument(const std::string &archiveName) {
    OutputDebugStringA(std::string(76, '-').c_str());
    VTPROGRESSINFO &r = progress_.record();
    r.bDelete = 0;
    r.Flag = 0;
    const std::string archive = JoinPath(work_, archiveName);
    const std::string unpacked = JoinPath(work_, kUnpackFolder);
    ZipReader document;
    if (document.Open(archive)) {
        // The document's record "D0000nnn.XML" and its folder "D0000nnn\"
        // with the pages in it; anything else would be packed, unfiltered,
        // into no document of the result.
        const std::string own = DocumentEntryName(DocumentArchiveNumber(archiveName));
        for (const DirectoryEntry &e : document.entries()) {
            std::vector<std::string> parts;
            SplitSafeEntryName(e.name, &parts);  // the reader refused every name this would not split
            const bool record =
                parts.size() == 1 && !e.isFolder && vt::EqualsIgnoreCase(parts[0], own + kRecordExtension);
            const bool inFolder = !parts.empty() && vt::EqualsIgnoreCase(parts[0], own) &&
                                  (parts.size() == 1 ? e.isFolder : parts.size() == 2 && !e.isFolder);
            if (!record && !inFolder) RefuseEntry(archiveName, std::string(e.name), "the document " + own);
        }
        document.Close();
    }
    if (UnzipArchive(archive, unpacked) != 0) {
        OutputDebugStringA("\n UnZip 1 Failed  \n ");
        Raise(vt::Code::INVALID_DATA, "cannot unpack the document archive " + archiveName);
    }
    const std::string record =
        FindIgnoringCase(JoinPath(unpacked, archiveName.substr(0, archiveName.size() - 4) + kRecordExtension));
    RecordFields fields;
    ReadRecordFields(record, &fields);  // unreadable or missing: zeros, and the document stays
    progress_.SetDocName(vt::Utf16ToUtf8(fields.name));
    const FilterOutcome outcome = ApplyFilters(fields, checks_, FilterContext::Archive);
    if (outcome.remove) {
        if (unlink(archive.c_str()) != 0) Raise(vt::Win32FromErrno(errno), "cannot remove " + archive);
        r.bDelete = 1;
        r.Flag = static_cast<int32_t>(outcome.flag);
        remaining_ -= 1;
    }
    DeleteLocalTree(unpacked, work_);
}

void ArchiveConversion::Run(const char *sourceAsGiven, const char *destinationAsGiven) {
    OutputDebugStringA("\n vtBoxConvertArchiveData Starts \n");
    checks_ = StartConversion(request_, sourceAsGiven, destinationAsGiven, 2, "\n Could not Find the Src .ini File \n");
    MakeWorkFolder();
    CheckSource();
    if (UnzipArchive(request_.source, work_) != 0) Raise(vt::Code::INVALID_DATA, "cannot unpack " + request_.source);
    const std::string found = FindIgnoringCase(Description());
    if (found != Description()) std::rename(found.c_str(), Description().c_str());

    progress_.SetPercent(5);
    progress_.Signal();
    if (ReplaceXmlElementLine(Description(), temp_, "Version", request_.destinationVersion) != 0)
        Raise(GetLastError(), "cannot write the new engine version into " + std::string(kArchiveDescriptionName));

    FindList documents;
    ListLocalFolder(work_, kDocumentArchivePattern, nullptr, &documents);  // none: n is 0
    const size_t n = documents.size();
    remaining_ = static_cast<uint32_t>(n);
    progress_.record().DocsTotal = static_cast<int32_t>(n);
    for (size_t i = 0; i < n; ++i) {
        ConvertDocument(documents[i].cFileName);
        progress_.record().DocsDone = static_cast<int32_t>(i + 1);
        ReportDocument(progress_, static_cast<int32_t>(90 * i / n), false);
    }
    progress_.record().bDelete = 0;
    progress_.record().Flag = 0;
    if (remaining_ == 0) {
        OutputDebugStringA("\n All the DOcument in Archive File are inconsistence..!! \n ");
        Raise(vt::Code::NO_MORE_ITEMS,
              n == 0 ? "the archive holds no document" : "every document of the archive was removed");
    }
    if (ReplaceXmlElementLine(Description(), temp_, "NumOfDocs", std::to_string(remaining_)) != 0)
        Raise(GetLastError(), "cannot write the document count into " + std::string(kArchiveDescriptionName));

    Check(ZipFolder(request_.destination, work_, {.flat = true}));
    DeleteLocalTree(work_, temp_);
    work_.clear();
    progress_.SetPercent(100);
    progress_.Signal();
    OutputDebugStringA("\n vtBoxConvertArchiveData Complete... \n");
}

}  // namespace

extern "C" uint32_t vtBoxConvertArchiveData(const char *source, const char *destination, const char *tempFolder,
                                            const char *sourceVersion, const char *destinationVersion,
                                            HANDLE cancelEvent, HANDLE progressEvent, VTPROGRESSINFO *progress) {
    return RunConversionExport<ArchiveConversion>("vtBoxConvertArchiveData", source, destination, tempFolder,
                                                  sourceVersion, destinationVersion, cancelEvent, progressEvent,
                                                  progress);
}
