// A backup file written in one pass. Its layout (store/layout.hpp) nests
// three zip levels: the file holds BOX\DATABASE.vtb, BOX\DATA.zip and
// BOX\Backup.XML; DATA.zip holds one box archive per box. Every archive is
// packed straight into its final place in the file, behind the headers of
// the two outer levels (ZipLayer), so its bytes are written once and read
// once more only for their CRC.
//
// In the file, in the order written:
//   BOX\DATABASE.vtb   the records' archive, with the byte change
//   BOX\DATA.zip       DATA\B0000nnn.vtb ..., the DATA\ folder entry,
//                      DATA.zip's central directory
//   BOX\Backup.XML     deflated
//   BOX\               the folder entry, then the central directory
//
// The file is built under a hidden name in the work folder and takes the
// name StoreTree::packedBox() when finished; on failure, and when the object
// goes without being finished, it is removed. One call at a time: the box
// archives may be packed on another thread than the one that creates and
// finishes the file, one after the other.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "localfiles/local_file.hpp"
#include "packaging/zip_layer.hpp"
#include "store/layout.hpp"

namespace vtbox {

class HeldFiles;

class BackupFileWriter {
public:
    // Files that held holds (when given) are packed from there as if they
    // lay in the folders packed; it outlives the writer.
    explicit BackupFileWriter(const StoreTree &tree, HeldFiles *held = nullptr) : tree_(tree), held_(held) {}

    // Creates the file in the tree's root folder. 0 or the system error.
    uint32_t Create();

    // Packs the records folder (StoreTree::database()) into DATABASE.vtb.
    // Called once, before the first box.
    uint32_t AddDatabase();

    // Packs the box folder (StoreTree::boxFolder(box)) into its box archive.
    uint32_t AddBox(uint32_t box);

    // Ends DATA.zip: its folder entry (DATA's time) and central directory.
    uint32_t FinishData();

    // Adds the description and the BOX\ folder entry, ends the file and
    // gives it its name. The packed folders may be removed afterwards.
    uint32_t Finish();

    // Removes the unfinished file.
    void Discard();

private:
    ZipLayer &DataLayer();
    uint32_t PackInto(ZipLayer &layer, const std::string &name, const std::string &folder);

    StoreTree tree_;
    HeldFiles *held_;
    PartFile part_;
    std::unique_ptr<ZipLayer> outer_, data_;
};

}  // namespace vtbox
