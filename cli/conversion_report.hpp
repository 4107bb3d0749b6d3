// What a conversion kept and removed, per box and per filter, gathered from
// the engine's diagnostics lines while the conversion runs: the box line
// ("Converting Box -->N name") and each document's line ("Doc Details ...
// bDelete = D Flag = F"), which end in the numbers read here. The progress
// record cannot serve: the command reads it on its own timer, without a
// progress event, and sees only some of the documents.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace vtcli {

struct BoxTally {
    uint32_t box = 0;  // 0: a document archive, which has no boxes
    std::string name;
    uint32_t kept = 0, removed = 0;
    uint32_t colour = 0, widePaper = 0, copyMix = 0;  // removed by each filter (one document may count twice)
};

class ConversionReport {
public:
    // Listens to the diagnostics channel while the object lives.
    ConversionReport();
    ~ConversionReport();
    ConversionReport(const ConversionReport &) = delete;
    ConversionReport &operator=(const ConversionReport &) = delete;

    // One piece of diagnostics text, as the engine wrote it.
    void Take(const char *text);

    std::vector<BoxTally> Boxes() const;
    BoxTally Total() const;

private:
    static void Hook(const char *text, void *self);
    mutable std::mutex mutex_;
    std::vector<BoxTally> boxes_;
};

}  // namespace vtcli
