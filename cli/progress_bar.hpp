// Progress of a long operation: a bar redrawn on standard error when that is
// a terminal (fitted to its width, never wrapping), plain lines otherwise,
// JSON status lines on standard output with --json, nothing with --quiet.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "vtBoxBRD.h"

namespace vtcli {

const char *PhaseName(int32_t phase);

// Columns that UTF-8 text takes on a terminal: East Asian wide and fullwidth
// characters count two, combining marks none.
size_t DisplayWidth(const std::string &text);

// The longest start of text that fits in columns, never cutting a character.
std::string FitToWidth(const std::string &text, size_t columns);

// "1.5 MB/s", "2:05" and the like.
std::string FormatRate(double bytesPerSecond);
std::string FormatDuration(double seconds);

class ProgressBar {
public:
    using ByteCount = std::function<uint64_t(const VTPROGRESSINFO &)>;
    // bytes tells how many bytes have moved so far (may be empty).
    explicit ProgressBar(const char *what, ByteCount bytes = {});
    // Conversions report their box work under the unpacking phase's number.
    void NamePhase2Converting() { converting_ = true; }
    void Show(const VTPROGRESSINFO &p);
    void Finish(const VTPROGRESSINFO &p, uint32_t rc);

    double Seconds() const;
    uint64_t Bytes(const VTPROGRESSINFO &p) const { return bytes_ ? bytes_(p) : 0; }
    // Seconds left by the rate so far; negative when unknown.
    double Remaining(int32_t percent) const;

    // The bar's line for a width (columns) at a moment: what Show draws.
    std::string BarLine(const VTPROGRESSINFO &p, size_t width) const;

private:
    std::string Line(const VTPROGRESSINFO &p) const;
    const char *Phase(const VTPROGRESSINFO &p) const;
    std::string what_;
    ByteCount bytes_;
    bool converting_ = false;
    bool terminal_;
    std::chrono::steady_clock::time_point start_;
    int32_t lastPercentShown_ = -1, lastPhase_ = -1;
    std::string lastBox_;
    size_t lastWidth_ = 0;
};

}  // namespace vtcli
