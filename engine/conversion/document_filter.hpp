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

// The three tests (IsColourDocument, IsCopyMixDocument, IsWidePaperDocument)
// are the record's own (store/record_file.hpp).

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
