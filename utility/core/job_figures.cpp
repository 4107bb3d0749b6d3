#include "job_figures.hpp"

#include <algorithm>
#include <cmath>

#include "language.hpp"
#include "text_format.hpp"
#include "text_ids.hpp"

namespace vtutil {

namespace {

// Below a second the pace is noise: no time left, no speed.
constexpr double kShortestPaceSeconds = 1.0;
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

}  // namespace vtutil
