#include "box_listing.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>

#include "vthandles.hpp"

namespace vtutil {

namespace {

// The engine steps into the folders it reads (it works in the process's
// current folder): the current folder is taken back before the scratch
// folder goes, so that the program is never left in a folder that is gone.
class KeepCurrentFolder {
public:
    KeepCurrentFolder() : fd_(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
    ~KeepCurrentFolder() {
        if (fd_ < 0 || ::fchdir(fd_) != 0) static_cast<void>(::chdir("/"));
        if (fd_ >= 0) ::close(fd_);
    }
    KeepCurrentFolder(const KeepCurrentFolder &) = delete;
    KeepCurrentFolder &operator=(const KeepCurrentFolder &) = delete;

private:
    const int fd_;
};

}  // namespace

BoxListing ReadBoxListing(const QString &backupFile, uint32_t box) {
    BoxListing listing;
    const QTemporaryDir scratch(QDir(QDir::tempPath()).filePath(QStringLiteral("vtbox-list-XXXXXX")));
    if (!scratch.isValid()) {
        listing.result = VTBOX_E_ACCESS_DENIED;
        listing.detail = scratch.errorString();
        return listing;
    }
    const KeepCurrentFolder keep;
    const QByteArray file = backupFile.toUtf8();
    const QByteArray folder = scratch.path().toUtf8();
    uint32_t count = 0;
    VTBACKUPENTRY *items = nullptr;
    const vt::GlobalBlock block(vtBoxListBackup(file.constData(), folder.constData(), 1, &box, &count, &items));
    if (!block) {
        listing.result = GetLastError();
        listing.detail = QString::fromUtf8(vtBoxGetLastErrorText());
        return listing;
    }
    // The engine never lists more than VTBOX_MAX_LISTED_ENTRIES; a count
    // above it is not believed.
    if (items && count <= VTBOX_MAX_LISTED_ENTRIES) listing.entries.assign(items, items + count);
    return listing;
}

}  // namespace vtutil
