#include "progress_bar.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "json_output.hpp"
#include "text_output.hpp"

namespace vtcli {

const char *PhaseName(int32_t phase) {
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

// One UTF-8 character at s[i]: its code point and length (a stray byte is
// one character of its own).
char32_t Decode(const std::string &s, size_t i, size_t *length) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 1;
    if (i + n > s.size()) n = 1;
    char32_t cp = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
    for (size_t k = 1; k < n; ++k) {
        unsigned char d = static_cast<unsigned char>(s[i + k]);
        if ((d & 0xC0) != 0x80) {
            n = 1;
            cp = c;
            break;
        }
        cp = (cp << 6) | (d & 0x3F);
    }
    *length = n;
    return cp;
}

int Columns(char32_t cp) {
    if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) return 0;
    if ((cp >= 0x0300 && cp <= 0x036F) || (cp >= 0x200B && cp <= 0x200F) || (cp >= 0xFE00 && cp <= 0xFE0F)) return 0;
    static const char32_t wide[][2] = {
        {0x1100, 0x115F}, {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},
        {0xA000, 0xA4CF}, {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE30, 0xFE4F},   {0xFF00, 0xFF60},
        {0xFFE0, 0xFFE6}, {0x1F300, 0x1F64F}, {0x1F900, 0x1F9FF}, {0x20000, 0x3FFFD},
    };
    for (const auto &r : wide)
        if (cp >= r[0] && cp <= r[1]) return 2;
    return 1;
}

size_t TerminalWidth() {
    winsize ws{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return 80;
}

}  // namespace

size_t DisplayWidth(const std::string &text) {
    size_t width = 0;
    for (size_t i = 0; i < text.size();) {
        size_t n = 1;
        width += static_cast<size_t>(Columns(Decode(text, i, &n)));
        i += n;
    }
    return width;
}

std::string FitToWidth(const std::string &text, size_t columns) {
    size_t width = 0, i = 0;
    while (i < text.size()) {
        size_t n = 1;
        int w = Columns(Decode(text, i, &n));
        if (width + static_cast<size_t>(w) > columns) break;
        width += static_cast<size_t>(w);
        i += n;
    }
    return text.substr(0, i);
}

std::string FormatRate(double bps) {
    char buf[32];
    if (bps >= 1e6)
        std::snprintf(buf, sizeof buf, "%.1f MB/s", bps / 1e6);
    else
        std::snprintf(buf, sizeof buf, "%.0f kB/s", bps / 1e3);
    return buf;
}

std::string FormatDuration(double seconds) {
    long s = std::lround(std::max(0.0, seconds));
    char buf[32];
    if (s >= 3600)
        std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
    return buf;
}

ProgressBar::ProgressBar(const char *what, ByteCount bytes)
    : what_(what), bytes_(std::move(bytes)), terminal_(isatty(STDERR_FILENO)),
      start_(std::chrono::steady_clock::now()) {}

double ProgressBar::Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

double ProgressBar::Remaining(int32_t percent) const {
    double seconds = Seconds();
    if (percent <= 0 || percent >= 100 || seconds < 1) return percent >= 100 ? 0 : -1;
    return seconds * (100 - percent) / percent;
}

const char *ProgressBar::Phase(const VTPROGRESSINFO &p) const {
    return converting_ && p.Phase == VTPHASE_CONVERTING ? "converting" : PhaseName(p.Phase);
}

std::string ProgressBar::Line(const VTPROGRESSINFO &p) const {
    char head[160];
    std::snprintf(head, sizeof head, "%3d%% %-11s docs %d/%d", p.Percent, Phase(p), p.DocsDone, p.DocsTotal);
    std::string line = head;
    double seconds = Seconds();
    if (seconds > 1 && bytes_) line += "  " + FormatRate(static_cast<double>(Bytes(p)) / seconds);
    double left = Remaining(p.Percent);
    if (left >= 0 && p.Percent < 100) line += "  " + FormatDuration(left) + " left";
    std::string where;
    for (std::string part : {Field(p.BoxName, sizeof p.BoxName), Field(p.FolderName, sizeof p.FolderName),
                             Field(p.DocName, sizeof p.DocName)})
        if (!part.empty()) where += (where.empty() ? "" : " / ") + PlainText(part);
    if (!where.empty()) line += "  " + where;
    return line;
}

std::string ProgressBar::BarLine(const VTPROGRESSINFO &p, size_t width) const {
    const size_t barWidth = width >= 60 ? 20 : width >= 30 ? 10 : 0;
    std::string text;
    if (barWidth) {
        int32_t percent = std::clamp(p.Percent, 0, 100);
        size_t filled = static_cast<size_t>(percent) * barWidth / 100;
        text = "[" + std::string(filled, '#') + std::string(barWidth - filled, '.') + "] ";
    }
    // One column stays free so that the cursor never wraps the line.
    return FitToWidth(text + Line(p), width > 1 ? width - 1 : 0);
}

void ProgressBar::Show(const VTPROGRESSINFO &live) {
    // The engine goes on writing the record while it is shown: one copy,
    // read once, so that a line and what is remembered of it agree. Read
    // field by field, a line could show 97% while 100% and "finished" were
    // remembered as shown, and the finished line was then never printed.
    const VTPROGRESSINFO p = live;
    const OutputMode &mode = Output();
    if (mode.json) {
        JsonObject o;
        double left = Remaining(p.Percent);
        o.Add("type", "status")
            .Add("phase", Phase(p))
            .Add("percent", p.Percent)
            .Add("box", Field(p.BoxName, sizeof p.BoxName))
            .Add("folder", Field(p.FolderName, sizeof p.FolderName))
            .Add("document", Field(p.DocName, sizeof p.DocName))
            .Add("documentsDone", p.DocsDone)
            .Add("documentsTotal", p.DocsTotal)
            .Add("bytes", Bytes(p))
            .Add("secondsElapsed", Seconds());
        if (left >= 0)
            o.Add("secondsRemaining", left);
        else
            o.AddNull("secondsRemaining");
        PrintJsonLine(o.str());
        return;
    }
    if (mode.quiet || mode.noProgress) return;
    if (terminal_) {
        std::string text = BarLine(p, TerminalWidth());
        size_t width = DisplayWidth(text);
        std::string pad = lastWidth_ > width ? std::string(lastWidth_ - width, ' ') : "";
        std::fprintf(stderr, "\r%s%s", text.c_str(), pad.c_str());
        std::fflush(stderr);
        lastWidth_ = width;
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

void ProgressBar::Finish(const VTPROGRESSINFO &p, uint32_t rc) {
    Show(p);
    const OutputMode &mode = Output();
    if (mode.json || mode.quiet) return;
    if (terminal_) std::fprintf(stderr, "\n");
    if (rc == 0)
        std::fprintf(stderr, "%s: done in %s, %d documents\n", what_.c_str(), FormatDuration(Seconds()).c_str(),
                     p.DocsDone);
}

}  // namespace vtcli
