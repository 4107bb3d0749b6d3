#include "icons.hpp"

#include <QApplication>
#include <QStyle>

// The resources live in a static library: registered by hand, once, before
// the first icon is made.
static void RegisterResources() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(utility);
        return true;
    }();
    (void)registered;
}

namespace vtutil::icons {

namespace {
QIcon Own(const char *name) {
    RegisterResources();
    return QIcon(QStringLiteral(":/icons/") + QLatin1String(name) + QStringLiteral(".svg"));
}

QIcon Themed(const char *themeName, const char *ownName) {
    return QIcon::fromTheme(QLatin1String(themeName), Own(ownName));
}
}  // namespace

QIcon Application() { return Own("app"); }
QIcon Connected() { return Themed("network-wired", "connected"); }
QIcon Disconnected() { return Themed("network-offline", "disconnected"); }

QIcon Box(bool isProtected) {
    // Both from the theme or both our own, so that the two kinds of box
    // look alike apart from the lock.
    if (QIcon::hasThemeIcon(QStringLiteral("folder")) && QIcon::hasThemeIcon(QStringLiteral("folder-locked")))
        return QIcon::fromTheme(isProtected ? QStringLiteral("folder-locked") : QStringLiteral("folder"));
    return Own(isProtected ? "box_locked" : "box");
}

QIcon Device() { return Themed("printer", "device"); }

// The desktop theme's, else the widget style's own.
QIcon Folder() {
    return QIcon::fromTheme(QStringLiteral("folder"), QApplication::style()->standardIcon(QStyle::SP_DirIcon));
}
QIcon Document() {
    return QIcon::fromTheme(QStringLiteral("text-x-generic"), QApplication::style()->standardIcon(QStyle::SP_FileIcon));
}

QString AboutPicturePath() {
    RegisterResources();
    return QStringLiteral(":/icons/about.svg");
}

}  // namespace vtutil::icons
