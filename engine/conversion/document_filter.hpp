// The document filters of a conversion, what a removed document frees, and
// the report after each document.
#pragma once

#include <cstdint>

#include "conversion/check_settings.hpp"
#include "jobs/progress.hpp"
#include "store/record_file.hpp"

namespace vtbox {

// Where the document stands; the filters' log lines differ with it.
enum class FilterContext {
    BoxLevel,  // backup conversion, a document directly in a box
    InFolder,  // backup conversion, a document in a folder
    Archive,   // archive conversion
};

// What the filters made of one document: Flag holds the bits of every filter
// that matched (kColourBit, kWidePaperBit, kCopyMixBit).
struct FilterOutcome {
    bool remove = false;
    uint32_t flag = 0;
};

// The three tests, each on its own:
//  colour:     bit 9 or 10 of the colour flags (the byte at 167: 0x02, 0x04)
//  copy mix:   bit 1 of the mix flags and one of its bits 2 to 4
//  wide paper: bit 14 or 15 of the paper flags (the byte at 162: 0x40, 0x80)
bool IsColourDocument(const RecordFields &fields);
bool IsCopyMixDocument(const RecordFields &fields);
bool IsWidePaperDocument(const RecordFields &fields);

// Runs the filters whose checks are on, in the order colour, copy mix, wide
// paper; each that matches writes its line to the diagnostics channel.
FilterOutcome ApplyFilters(const RecordFields &fields, const CheckSettings &checks, FilterContext context);

// The room a removed document gave back on the device: 8 + 11 * A + B, in
// the unit of the box's used size; never below 0.
uint32_t FreedSize(const RecordFields &fields);

// The report after each document, from the record's bDelete and Flag: the
// new percent is shown (the progress event set), the document's line is
// logged, bDelete and Flag (and with clearDocName the document's name)
// are cleared, and a cancel raises 995. With a progress event the report
// pauses (100 ms after a removal, 20 ms after every document) so that the
// watcher sees each document; without one nobody watches and nothing waits.
void ReportDocument(Progress &progress, int32_t percent, bool clearDocName);

// The pause between steps for a watcher (20 ms), only when one watches.
void PaceForWatcher(const Progress &progress);

}  // namespace vtbox
