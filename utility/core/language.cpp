#include "language.hpp"

#include <QCoreApplication>
#include <QDir>

namespace vtutil {

namespace {
constexpr int kTextBufferSize = 256;
constexpr const char *kLibraryFile = "libbrlang.so";
}  // namespace

Language &Language::Instance() {
    static Language language;
    return language;
}

QStringList Language::Candidates() {
    QDir program(QCoreApplication::applicationDirPath());
    return {program.filePath(kLibraryFile),
            QDir::cleanPath(program.filePath(QStringLiteral(VTUTIL_LIBDIR_FROM_BINDIR "/") + kLibraryFile))};
}

bool Language::Load() {
    for (const QString &path : Candidates())
        if (LoadFrom(path)) return true;
    return false;
}

bool Language::LoadFrom(const QString &path) {
    Unload();
    library_.setFileName(path);
    if (!library_.load()) return false;
    lookup_ = reinterpret_cast<BRLOADSTRING>(library_.resolve(BRLANG_LOOKUP_SYMBOL));
    if (!lookup_) library_.unload();
    return lookup_ != nullptr;
}

void Language::Unload() {
    lookup_ = nullptr;
    if (library_.isLoaded()) library_.unload();
    missing_.clear();
}

QString Language::Text(uint32_t id) const {
    if (!lookup_) return {};
    char buffer[kTextBufferSize];
    int32_t length = lookup_(id, buffer, kTextBufferSize);
    if (length <= 0) {
        missing_.insert(id);
        return {};
    }
    return QString::fromUtf8(buffer, length);
}

}  // namespace vtutil
