#include "progress_display.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace vtcli {

const char *PhaseName(int32_t phase, bool conversion) {
    if (conversion && phase == VTPHASE_CONVERTING) return "converting";
    switch (phase) {
    case VTPHASE_FINISHED: return "finished";
    case VTPHASE_PACKING: return "packing";
    case VTPHASE_UNPACKING: return "unpacking";
    case VTPHASE_DOWNLOADING: return "downloading";
    case VTPHASE_UPLOADING: return "uploading";
    case VTPHASE_PREPARING: return "preparing";
    case VTPHASE_TIDYING: return "tidying up";
    case VTPHASE_FAILED: return "failed";
    case VTPHASE_TOO_MANY_DOCUMENTS: return "too many documents";
    case VTPHASE_TOO_MANY_FOLDERS: return "too many folders";
    default: return "working";
    }
}

namespace {
std::string Field(const char *text, size_t size) { return std::string(text, strnlen(text, size)); }

size_t TerminalWidth() {
    winsize ws{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 20) return ws.ws_col;
    return 80;
}

// Cuts UTF-8 text to at most n code points.
std::string CutChars(const std::string &s, size_t n) {
    size_t chars = 0, i = 0;
    while (i < s.size() && chars < n) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        i += c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        ++chars;
    }
    return s.substr(0, std::min(i, s.size()));
}
}  // namespace

ProgressDisplay::ProgressDisplay(const char *what, bool conversion)
    : what_(what), conversion_(conversion), terminal_(isatty(STDERR_FILENO)), start_(std::chrono::steady_clock::now()) {}

std::string ProgressDisplay::Line(const VTPROGRESSINFO &p) const {
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    char head[160];
    std::snprintf(head, sizeof head, "%3d%% %-11s docs %d/%d", p.Percent, PhaseName(p.Phase, conversion_), p.DocsDone, p.DocsTotal);
    std::string line = head;
    if (seconds > 1 && p.DocsDone > 0) {
        char rate[40];
        std::snprintf(rate, sizeof rate, "  %.1f docs/s", p.DocsDone / seconds);
        line += rate;
    }
    std::string where;
    for (std::string part : {Field(p.BoxName, sizeof p.BoxName), Field(p.FolderName, sizeof p.FolderName),
                             Field(p.DocName, sizeof p.DocName)})
        if (!part.empty()) where += (where.empty() ? "" : " / ") + part;
    if (!where.empty()) line += "  " + where;
    return line;
}

void ProgressDisplay::Show(const VTPROGRESSINFO &p) {
    if (terminal_) {
        size_t width = TerminalWidth();
        const size_t barWidth = 20;
        int32_t percent = p.Percent < 0 ? 0 : p.Percent > 100 ? 100 : p.Percent;
        size_t filled = static_cast<size_t>(percent) * barWidth / 100;
        std::string text = "[";
        text.append(filled, '#');
        text.append(barWidth - filled, '.');
        text += "] ";
        text += Line(p);
        text = CutChars(text, width - 1);
        std::string pad = lastWidth_ > text.size() ? std::string(lastWidth_ - text.size(), ' ') : "";
        std::fprintf(stderr, "\r%s%s", text.c_str(), pad.c_str());
        std::fflush(stderr);
        lastWidth_ = text.size();
        return;
    }
    // Plain lines: at each change of phase or box, and every tenth of the way.
    std::string box = Field(p.BoxName, sizeof p.BoxName);
    if (p.Phase != lastPhase_ || box != lastBox_ || p.Percent / 10 != lastPercentShown_ / 10) {
        std::fprintf(stderr, "%s: %s\n", what_.c_str(), Line(p).c_str());
        lastPhase_ = p.Phase;
        lastBox_ = box;
        lastPercentShown_ = p.Percent;
    }
}

void ProgressDisplay::Finish(const VTPROGRESSINFO &p, uint32_t rc) {
    Show(p);
    if (terminal_) std::fprintf(stderr, "\n");
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    if (rc == 0) std::fprintf(stderr, "%s: done in %.1f s, %d documents\n", what_.c_str(), seconds, p.DocsDone);
}

}  // namespace vtcli
