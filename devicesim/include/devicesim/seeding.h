// Deterministic filling of an empty store.
#pragma once

#include <filesystem>
#include <string>

namespace devicesim {

struct SeedOptions {
  unsigned boxes = 3;     // boxes 1..boxes
  unsigned folders = 2;   // folders per box
  unsigned docs = 3;      // documents at a box's top level and in each folder
  unsigned pages = 2;     // page files per document
  unsigned pageKb = 16;   // size of one page file in KB
};

// Fills the store under `root` in the device's layout. The same options give
// byte-identical trees. Returns false with `error` set when the store already
// holds boxes (nothing is changed then) or a file cannot be written.
bool SeedStore(const std::filesystem::path& root, const SeedOptions& options, std::string& error);

// The display name of document `doc` at one level of box `box`, folder
// `folder` (0 = top level), as seeding writes it (UTF-8).
std::string SeededDocumentName(unsigned box, unsigned folder, unsigned doc);
std::string SeededFolderName(unsigned box, unsigned folder);
std::string SeededBoxName(unsigned box);

}  // namespace devicesim
