// Zip archives as the reader opens, walks and unpacks them (zip64 entries
// included), and as the backup checks judge them: nothing may be written
// outside the folder unpacked into. A box archive the checks accept is mapped
// as the listing and a restore of chosen documents map it.
#include "browse/box_contents.hpp"
#include "browse/selection.hpp"
#include "fuzz_target.h"
#include "packaging/folder_archive.hpp"
#include "packaging/zip_reader.hpp"
#include "session/result.hpp"
#include "verify/backup_layout.hpp"

namespace fs = std::filesystem;

namespace {

// What the checks let pass maps to whole documents and folders (the listing,
// a restore of chosen documents and the extraction read boxes through this
// map), and a chosen document is found and kept.
void CheckContents(const vtbox::ZipReader &zip) {
    using namespace vtbox;
    const BoxContents contents = MapBoxContents(zip.entries());
    for (const auto &[key, document] : contents.documents) {
        VT_FUZZ_CHECK(!document.record.empty());
        VT_FUZZ_CHECK(key.folder == 0 || contents.folders.count(key.folder) == 1);
        uint64_t bytes = 0;
        for (const auto &file : document.files) bytes += file.bytes;
        VT_FUZZ_CHECK(bytes == document.bytes);
    }
    if (contents.documents.empty()) return;
    BoxSelection chosen;
    chosen.documents.insert(contents.documents.begin()->first);
    SelectionFilter filter(1, chosen);
    filter.Examine(zip.entries());  // finds what it is given: raises nothing
    size_t kept = 0;
    for (const auto &e : zip.entries()) kept += filter.Keep(EntryParts(e), e.isFolder);
    VT_FUZZ_CHECK(kept >= 1);
}

}  // namespace

VT_FUZZ_TARGET(zip_reader) {
    using namespace vtbox;
    const fs::path root = vtfuzz::Scratch() / "zip";
    const fs::path archive = root / "in" / "a.zip";
    const fs::path out = root / "in" / "out";
    static const bool prepared = [&] {
        fs::create_directories(root / "in");
        fs::create_directories(root / "outside");
        vtfuzz::WriteFile(root / "outside" / "keep", "keep");
        return true;
    }();
    (void)prepared;
    vtfuzz::WriteFile(archive, std::string_view(reinterpret_cast<const char *>(data), size));

    GetArchiveKind(archive.string());
    {
        ZipReader zip;
        if (zip.Open(archive.string())) {
            zip.EntryCount();
            ZipEntryInfo info;
            int entries = 0;
            for (bool more = zip.GotoFirst(); more && entries < 64; more = zip.GotoNext(), ++entries) {
                zip.CurrentInfo(&info);
                zip.ExtractCurrent(out.string(), false);
                zip.ExtractCurrent(out.string(), true);
            }
            if (zip.Locate("Backup.XML", true)) zip.ExtractCurrent(out.string(), true, "saved.XML");
            zip.ExtractAll((out / "all").string(), false);
        }
    }
    // The archive judged as each level of a backup file; one the box check
    // accepts (but for the description's counts) unpacks to a box's folder
    // that holds no link.
    {
        ZipReader zip;
        if (zip.Open(archive.string())) {
            DescribedBoxes boxes;
            VTBOXBK box{};
            box.BoxNo = 1;
            box.BoxUsedDisk = 64;
            boxes[1] = box;
            BackupFindings findings;
            CheckOuterLevel(zip, boxes, &findings);
            CheckRecordsLevel(zip, boxes, &findings);
            CheckDataLevel(zip, boxes, &findings);
            findings.clear();
            bool accepted = CheckBoxLevel(zip, box, &findings);
            for (const auto &f : findings) accepted = accepted && f.entry == "BOX/Backup.XML";
            if (accepted) CheckContents(zip);
            if (accepted && zip.ExtractAll((out / "box").string(), false)) {
                for (const auto &e : fs::recursive_directory_iterator(out / "box")) {
                    VT_FUZZ_CHECK(!e.is_symlink());
                    VT_FUZZ_CHECK(fs::relative(e.path(), out / "box").string().rfind("B0000001", 0) == 0);
                }
            }
        }
    }
    // Only the archive and what it unpacked, and all of it below out.
    VT_FUZZ_CHECK((vtfuzz::Names(root) == std::set<std::string>{"in", "outside"}));
    VT_FUZZ_CHECK((vtfuzz::Names(root / "outside") == std::set<std::string>{"keep"}));
    VT_FUZZ_CHECK(vtfuzz::ReadFile(root / "outside" / "keep") == "keep");
    for (const std::string &name : vtfuzz::Names(root / "in")) VT_FUZZ_CHECK(name == "a.zip" || name == "out");
    std::error_code ec;
    fs::remove_all(out, ec);
    return 0;
}
