#include "utility_log.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "error_text.hpp"
#include "language.hpp"
#include "schedule.hpp"
#include "text_ids.hpp"

namespace vtutil {

namespace {

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;
constexpr int kTargetShown = 228;
constexpr double kKbPerMb = 1024;

// Makes every missing level of folder, private to the user.
void MakeFolderLevels(const QByteArray &folder) {
    for (qsizetype end = 1; end <= folder.size(); ++end) {
        if (end < folder.size() && folder.at(end) != '/') continue;
        if (folder.at(end - 1) == '/') continue;
        ::mkdir(folder.left(end).constData(), kFolderMode);
    }
}

// The log's folder, opened without following a link in its place, when it
// is this user's; it is made private when it was not.
int OpenLogFolder(const QByteArray &folder) {
    MakeFolderLevels(folder);
    const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) return -1;
    struct stat st {};
    if (::fstat(dir, &st) != 0 || st.st_uid != ::geteuid() ||
        ((st.st_mode & 077) != 0 && ::fchmod(dir, kFolderMode) != 0)) {
        ::close(dir);
        return -1;
    }
    return dir;
}

// The log file in its folder: a regular file of this user, 0600, never
// reached through a link.
int OpenLogFile(const QString &path, int mode) {
    const QFileInfo info(path);
    const int dir = OpenLogFolder(QFile::encodeName(info.absolutePath()));
    if (dir < 0) return -1;
    const QByteArray name = QFile::encodeName(info.fileName());
    // Not blocking: a pipe planted under the name must not hold the program.
    const int fd =
        ::openat(dir, name.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | mode, kFileMode);
    ::close(dir);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
        ((st.st_mode & 07777) != kFileMode && ::fchmod(fd, kFileMode) != 0)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

QString Pair(uint32_t id, const QString &value) { return Text(id) + QLatin1Char(' ') + value; }

QString BoxLine(uint32_t number, const char *name, size_t size) {
    return QString::asprintf("\t%.3u ", number) + QString::fromUtf8(name, static_cast<qsizetype>(strnlen(name, size)));
}

QString ColumnHeadings() {
    return QLatin1Char('\t') + Text(ids::kLogBoxColumn) + QLatin1Char(' ') + Text(ids::kLogNameColumn);
}

QString RepeatText(uint32_t intervalCode) {
    if (intervalCode < kRunOnce || intervalCode > kRunMonthly) return {};
    return Text(ids::kRepeatOnce + (intervalCode - kRunOnce));
}

QString TrailerText(int kind) {
    switch (kind) {
    case kTrailerFinished: return Text(ids::kLogFinished);
    case kTrailerFinishedBoxesDeleted:
        return Text(ids::kLogFinished) + QLatin1Char('\n') + ShortText(Text(ids::kBoxesDeletedStopped));
    case kTrailerFailed: return Text(ids::kLogFailed);
    case kTrailerStopped: return Text(ids::kLogStopped);
    case kTrailerBoxesDeleted:
        return Text(ids::kLogFailed) + QLatin1Char('\n') + ShortText(Text(ids::kBoxesDeletedStopped));
    default: return {};
    }
}

}  // namespace

UtilityLog::UtilityLog(QString path) : path_(std::move(path)) {}

UtilityLog::~UtilityLog() { Close(); }

bool UtilityLog::Empty() {
    Close();
    const int fd = OpenLogFile(path_, O_TRUNC);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool UtilityLog::OpenForAppend() {
    Close();
    fd_ = OpenLogFile(path_, O_APPEND);
    return fd_ >= 0;
}

void UtilityLog::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void UtilityLog::WriteLine(const QString &text) {
    if (fd_ < 0) return;
    const QByteArray line = text.toUtf8() + '\n';
    const char *data = line.constData();
    qsizetype left = line.size();
    while (left > 0) {
        const ssize_t n = ::write(fd_, data, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        data += n;
        left -= n;
    }
}

void UtilityLog::WriteAutoHeader(const ScheduleFacts &facts, const LoggedBoxes &boxes) {
    if (!Language::Instance().Loaded()) return;
    WriteLine(kLogStarLine);
    WriteLine(Text(ids::kLogTitle));
    WriteLine(kLogStarLine);
    WriteLine(Text(ids::kLogSchedule));
    WriteLine(Pair(ids::kLogDeviceName, facts.deviceName));
    WriteLine(Pair(ids::kLogDeviceAddress, facts.deviceAddress));
    WriteLine(Pair(ids::kBackupFileGroup, facts.target.left(kTargetShown)));
    WriteLine(Pair(ids::kRepeatGroup, RepeatText(facts.intervalCode)));
    WriteLine(Pair(ids::kStartTimeGroup, ScheduleTimeText(facts.start)));
    WriteLine(
        Pair(ids::kLogDeletedPolicy, Text(facts.continuePolicy == 1 ? ids::kGoOnWithOthers : ids::kStopTheSchedule)));
    WriteLine(Text(ids::kLogBoxes));
    WriteBoxTable(boxes);
    WriteLine(kLogStarLine);
}

void UtilityLog::WriteBoxTable(const LoggedBoxes &boxes) {
    if (!Language::Instance().Loaded()) return;
    WriteLine(ColumnHeadings());
    WriteLine(kLogTableRule);
    for (uint32_t i = 0; boxes.boxes && i < boxes.count; ++i) {
        const VTBOX &box = boxes.boxes[i];
        if (std::find(boxes.chosen.begin(), boxes.chosen.end(), box.BoxNo) == boxes.chosen.end()) continue;
        WriteLine(BoxLine(box.BoxNo, box.BoxName, sizeof box.BoxName));
    }
}

void UtilityLog::WriteRunHeading(uint32_t scheduleCounter) {
    if (scheduleCounter > 0) WriteLine(kLogRunSeparator);
    WriteLine(Text(ids::kLogRun) + QLatin1Char(' ') + QString::number(scheduleCounter + 1));
}

void UtilityLog::WriteRunEntry(const LoggedBoxes &boxes, const std::vector<VTBOX> &deleted, const QString &archive,
                               int64_t started) {
    if (!Language::Instance().Loaded()) return;
    WriteLine(Pair(ids::kLogStarted, ScheduleTimeText(started)));
    WriteLine(Text(ids::kLogBoxes));
    WriteBoxTable(boxes);
    if (!deleted.empty()) {
        WriteLine(QString());
        WriteLine(Text(ids::kLogDeletedBoxes));
        WriteLine(ColumnHeadings());
        WriteLine(kLogTableRule);
        for (const VTBOX &box : deleted) WriteLine(BoxLine(box.BoxNo, box.BoxName, sizeof box.BoxName));
    }
    WriteLine(Pair(ids::kBackupFileGroup, archive));
}

void UtilityLog::WriteSizeLine(double kb) {
    if (kb > kKbPerMb)
        WriteLine(Pair(ids::kLogSize, QString::number(static_cast<int64_t>(kb / kKbPerMb)) + " MB"));
    else
        WriteLine(Pair(ids::kLogSize, QString::number(static_cast<int64_t>(kb)) + " KB"));
}

void UtilityLog::WriteAutoTrailer(int kind, bool *written, int64_t now, double totalKb) {
    if (*written) return;
    *written = true;
    if (!Language::Instance().Loaded()) return;
    WriteLine(kLogStarLine);
    WriteLine(Text(ids::kLogScheduleEnded) + QLatin1Char(' ') + TrailerText(kind) + QLatin1Char(' '));
    WriteLine(Pair(ids::kLogEndedAt, ScheduleTimeText(now)));
    const int64_t wholeKb = static_cast<int64_t>(totalKb);
    if (wholeKb > 1024)
        WriteLine(Pair(ids::kLogTotalSize, QString::number(wholeKb / 1024) + " MB(s)"));
    else
        WriteLine(Pair(ids::kLogTotalSize, QString::number(wholeKb) + " KB(s)"));
    WriteLine(kLogStarLine);
}

}  // namespace vtutil
