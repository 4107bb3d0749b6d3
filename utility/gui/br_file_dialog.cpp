#include "br_file_dialog.hpp"

#include <QDir>
#include <QGridLayout>
#include <QLabel>
#include <QStorageInfo>

#include "language.hpp"
#include "message_box.hpp"
#include "size_texts.hpp"
#include "target_path.hpp"
#include "text_ids.hpp"

namespace vtutil {

namespace {
const QString kZipFilter = QStringLiteral("Zip Files (*.zip)");
}  // namespace

CBRFileDialog::CBRFileDialog(const QString &folder, const QString &name, QWidget *parent) : QFileDialog(parent) {
    setObjectName(QStringLiteral("backupFileDialog"));
    setOption(QFileDialog::DontUseNativeDialog);
    // The backup page asks before a file is replaced, once.
    setOption(QFileDialog::DontConfirmOverwrite);
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
    setNameFilter(kZipFilter);
    setDefaultSuffix(QStringLiteral("zip"));
    setDirectory(QDir(folder).exists() && !folder.isEmpty() ? folder : QDir::homePath());
    selectFile(name);

    freeSpace_ = new QLabel(this);
    freeSpace_->setObjectName(QStringLiteral("freeSpace"));
    freeSpace_->setTextFormat(Qt::PlainText);
    if (auto *grid = qobject_cast<QGridLayout *>(layout())) grid->addWidget(freeSpace_, grid->rowCount(), 0, 1, -1);
    connect(this, &QFileDialog::directoryEntered, this, &CBRFileDialog::ShowFreeSpace);
    ShowFreeSpace(directory().absolutePath());
}

void CBRFileDialog::ShowFreeSpace(const QString &folder) {
    QStorageInfo storage(folder);
    if (!storage.isValid() || !storage.isReady()) {
        freeSpace_->clear();
        return;
    }
    freeSpace_->setText(FreeSpaceText(storage.rootPath(), static_cast<uint64_t>(storage.bytesAvailable())));
}

QString CBRFileDialog::ChosenPath() const { return selectedFiles().value(0); }

void CBRFileDialog::accept() {
    const QString chosen = selectedFiles().value(0);
    for (const char *c = kRefusedPathCharacters; *c; ++c) {
        if (!chosen.contains(QLatin1Char(*c))) continue;
        ShowMessage(this, Text(ids::kMsgNameUnusable), Text(ids::kCaptionError), QMessageBox::Critical);
        return;
    }
    QFileDialog::accept();
}

}  // namespace vtutil
