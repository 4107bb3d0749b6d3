#include "conversion/document_filter.hpp"

#include <chrono>
#include <thread>

#include "vtplatform/diag.hpp"

namespace vtbox {

namespace {

constexpr int kPausePerDocumentMs = 20;
constexpr int kPausePerRemovalMs = 100;

struct FilterLines {
    const char *colour;
    const char *copyMix;
    const char *widePaper;
};

const FilterLines &LinesFor(FilterContext context) {
    static const FilterLines kBoxLevel{"Deleting Color/Gray Document ", "Deleting CopyColor Mix Document ",
                                       "Deleting WidePaper Document "};
    static const FilterLines kInFolder{"Deleting Color Document ", "Deleting Copy Mix Document ",
                                       "Deleting WidePaper Document "};
    static const FilterLines kArchive{"Deleting Color Document", "Deleting CopyColor Mix Document",
                                      "Deleting WidePaper Document"};
    switch (context) {
    case FilterContext::BoxLevel: return kBoxLevel;
    case FilterContext::InFolder: return kInFolder;
    case FilterContext::Archive: return kArchive;
    }
    return kArchive;
}

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

FilterOutcome ApplyFilters(const RecordFields &fields, const CheckSettings &checks, FilterContext context) {
    const FilterLines &lines = LinesFor(context);
    FilterOutcome out;
    auto match = [&](const char *line, uint32_t bit) {
        OutputDebugStringA(line);
        out.flag |= bit;
        out.remove = true;
    };
    if (checks.color && IsColourDocument(fields)) match(lines.colour, kColourBit);
    if (checks.copyCompound && IsCopyMixDocument(fields)) match(lines.copyMix, kCopyMixBit);
    if (checks.widePaper && IsWidePaperDocument(fields)) match(lines.widePaper, kWidePaperBit);
    return out;
}

uint32_t FreedSize(const RecordFields &f) {
    const int64_t freed = 8 + 11 * static_cast<int64_t>(f.sizeA) + static_cast<int64_t>(f.sizeB);
    if (freed < 0) return 0;
    return freed > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(freed);
}

void ReportDocument(Progress &progress, int32_t percent, bool clearDocName) {
    VTPROGRESSINFO &r = progress.record();
    progress.SetPercent(percent);
    progress.Signal();
    if (r.bDelete == 1 && progress.observed()) Pause(kPausePerRemovalMs);
    vt::DebugPrint("Doc Details---->>> Box = %s , Folder = %s, Document = %s bDelete = %d Flag = %d ", r.BoxName,
                   r.FolderName, r.DocName, r.bDelete, r.Flag);
    r.bDelete = 0;
    r.Flag = 0;
    if (clearDocName) progress.SetDocName("");
    progress.CheckCancel();
    PaceForWatcher(progress);
}

void PaceForWatcher(const Progress &progress) {
    if (progress.observed()) Pause(kPausePerDocumentMs);
}

}  // namespace vtbox
