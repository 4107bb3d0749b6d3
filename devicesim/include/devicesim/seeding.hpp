// Deterministic filling of an empty store.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace devicesim {

// The flag values seeding writes by default into the document records
// (devicesim/README.md gives the fields).
inline constexpr uint32_t kColourFlag = 0x0200;     // colour flags, bit 9: the byte at 167 is 0x02
inline constexpr uint32_t kWidePaperFlag = 0x4000;  // paper flags, bit 14: the byte at 162 is 0x40
inline constexpr uint32_t kCopyMixFlag = 0x06;      // mix flags, bits 1 and 2

// Which seeded documents carry a flag, and with which value. Text form:
// items separated by commas, each "none", "all" or "BOX.FOLDER.DOC", where
// each part is a number, a range "A-B" or "*" (folder 0 is the box's top
// level), optionally followed by "=VALUE" (decimal or 0x hex). The last item
// that selects a document gives its value; "none" alone selects nothing.
class DocumentSelection {
public:
    // nullopt with `error` set when the text is malformed or a value does not
    // fit in `maxValue`. Items without a value take `defaultValue`.
    static std::optional<DocumentSelection> Parse(std::string_view text, uint32_t defaultValue, uint32_t maxValue,
                                                  std::string &error);
    // The flag value of document `doc` of box `box`, folder `folder`; nullopt
    // when no item selects it.
    std::optional<uint32_t> ValueFor(unsigned box, unsigned folder, unsigned doc) const;

private:
    struct Range {
        unsigned first = 0, last = 0;
        bool Holds(unsigned n) const { return n >= first && n <= last; }
    };
    struct Item {
        Range box, folder, doc;
        uint32_t value = 0;
    };
    std::vector<Item> items_;
};

struct SeedOptions {
    unsigned boxes = 3;    // boxes 1..boxes
    unsigned folders = 2;  // folders per box
    unsigned docs = 3;     // documents at a box's top level and in each folder
    unsigned pages = 2;    // page files per document
    unsigned pageKb = 16;  // size of one page file in KB
    // The documents that carry the colour, wide-paper and copy-mix flags.
    // Unset: seeding's own deterministic choice (some documents). Set: exactly
    // the selected documents, with the selected values.
    std::optional<DocumentSelection> colourDocs;
    std::optional<DocumentSelection> wideDocs;
    std::optional<DocumentSelection> mixDocs;
};

// Fills the store under `root` in the device's layout. The same options give
// byte-identical trees. Returns false with `error` set when the store already
// holds boxes (nothing is changed then) or a file cannot be written.
bool SeedStore(const std::filesystem::path &root, const SeedOptions &options, std::string &error);

// The display name of document `doc` at one level of box `box`, folder
// `folder` (0 = top level), as seeding writes it (UTF-8).
std::string SeededDocumentName(unsigned box, unsigned folder, unsigned doc);
std::string SeededFolderName(unsigned box, unsigned folder);
std::string SeededBoxName(unsigned box);

}  // namespace devicesim
