#include "job_figures.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "language.hpp"
#include "text_format.hpp"
#include "text_ids.hpp"

namespace vtutil {

namespace {

// Below a second the pace is noise: no time left, no speed.
constexpr double kShortestPaceSeconds = 1.0;
// The least time between two walks of the work folder.
constexpr std::chrono::milliseconds kShortestWalkInterval{200};
// A walk may take a twentieth of the job's time at most.
constexpr int kWalkShare = 20;
constexpr double kBytesPerKb = 1024.0;
constexpr double kBytesPerMb = 1024.0 * 1024.0;

}  // namespace

QString DurationText(double seconds) {
    const long long s = std::llround(std::max(0.0, seconds));
    if (s >= 3600) return QString::asprintf("%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    return QString::asprintf("%lld:%02lld", s / 60, s % 60);
}

QString SpeedText(double bytesPerSecond) {
    if (bytesPerSecond >= kBytesPerMb) return QString::asprintf("%.1f MB/s", bytesPerSecond / kBytesPerMb);
    return QString::asprintf("%.0f KB/s", std::max(0.0, bytesPerSecond) / kBytesPerKb);
}

double SecondsLeft(const JobFigures &figures) {
    if (figures.percent >= 100) return 0;
    if (figures.percent <= 0 || figures.seconds < kShortestPaceSeconds) return -1;
    return figures.seconds * (100 - figures.percent) / figures.percent;
}

QString FiguresLine(const JobFigures &figures) {
    QString line = FormatValues(Text(ids::kFiguresElapsed), {DurationText(figures.seconds)});
    const double left = SecondsLeft(figures);
    if (left >= 0) line += QStringLiteral("   ") + FormatValues(Text(ids::kFiguresTimeLeft), {DurationText(left)});
    if (figures.bytes >= 0 && figures.seconds >= kShortestPaceSeconds)
        line += QStringLiteral("   ") + FormatValues(Text(ids::kFiguresSpeed),
                                                     {SpeedText(static_cast<double>(figures.bytes) / figures.seconds)});
    return line;
}

void FolderBytes::Reset(std::string folder) { *this = FolderBytes(std::move(folder)); }

int64_t FolderBytes::Read(int32_t phase) {
    const auto now = std::chrono::steady_clock::now();
    if (folder_.empty() || (phase == phase_ && now - last_ < interval_)) return bytes_;
    phase_ = phase;
    uint64_t total = 0;
    std::error_code ec;
    namespace fs = std::filesystem;
    // Never through a link: the tree is the engine's, and a link is not its data.
    for (fs::recursive_directory_iterator it(folder_, fs::directory_options::none, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code e;
        if (!it->is_regular_file(e) || it->is_symlink(e)) continue;
        const uintmax_t size = it->file_size(e);
        // A file removed meanwhile has no size (and file_size's error value is not one).
        if (!e) total += size;
    }
    last_ = std::chrono::steady_clock::now();
    interval_ = std::max<std::chrono::steady_clock::duration>(kShortestWalkInterval, (last_ - now) * kWalkShare);
    bytes_ = std::max<int64_t>(bytes_, static_cast<int64_t>(total));
    return bytes_;
}

}  // namespace vtutil
