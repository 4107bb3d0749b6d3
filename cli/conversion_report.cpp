#include "conversion_report.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vtBoxBRD.h"
#include "vtplatform.h"

namespace vtcli {

namespace {
constexpr char kBoxLine[] = "\n Converting Box -->";
constexpr char kDocumentLine[] = "Doc Details---->>> ";
constexpr char kOutcome[] = " bDelete = ";
}  // namespace

ConversionReport::ConversionReport() { vtSetDebugHook(&ConversionReport::Hook, this); }
ConversionReport::~ConversionReport() { vtSetDebugHook(nullptr, nullptr); }

void ConversionReport::Hook(const char *text, void *self) { static_cast<ConversionReport *>(self)->Take(text); }

void ConversionReport::Take(const char *text) {
    if (std::strncmp(text, kBoxLine, sizeof kBoxLine - 1) == 0) {
        // "\n Converting Box -->7 name  \n"
        char *end = nullptr;
        const char *number = text + sizeof kBoxLine - 1;
        unsigned long box = std::strtoul(number, &end, 10);
        std::string name = end && *end == ' ' ? end + 1 : "";
        while (!name.empty() && (name.back() == '\n' || name.back() == ' ')) name.pop_back();
        std::lock_guard<std::mutex> lock(mutex_);
        boxes_.push_back(BoxTally{static_cast<uint32_t>(box), name});
        return;
    }
    if (std::strncmp(text, kDocumentLine, sizeof kDocumentLine - 1) != 0) return;
    // The names before may hold anything; the numbers are always last.
    const char *outcome = nullptr;
    for (const char *at = std::strstr(text, kOutcome); at; at = std::strstr(at + 1, kOutcome)) outcome = at;
    int removed = 0, flag = 0;
    if (!outcome || std::sscanf(outcome + sizeof kOutcome - 1, "%d Flag = %d", &removed, &flag) != 2) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (boxes_.empty()) boxes_.push_back(BoxTally{});
    BoxTally &t = boxes_.back();
    if (removed) {
        ++t.removed;
        if (flag & VTCONVERT_COLOUR) ++t.colour;
        if (flag & VTCONVERT_WIDE_PAPER) ++t.widePaper;
        if (flag & VTCONVERT_COPY_MIX) ++t.copyMix;
    } else {
        ++t.kept;
    }
}

std::vector<BoxTally> ConversionReport::Boxes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
}

BoxTally ConversionReport::Total() const {
    std::lock_guard<std::mutex> lock(mutex_);
    BoxTally total;
    for (const BoxTally &t : boxes_) {
        total.kept += t.kept;
        total.removed += t.removed;
        total.colour += t.colour;
        total.widePaper += t.widePaper;
        total.copyMix += t.copyMix;
    }
    return total;
}

}  // namespace vtcli
