// Files the utility finds beside its program or in the installed folders:
// the help, and the discovery program; and the desktop's opener of files.
#pragma once

#include <QString>

namespace vtutil {

// The help file: "backup.html" in the program's folder, else in the
// installed help folder; the program-folder path when neither exists.
QString HelpFilePath();

// The discovery program: "vtbox-discover" in the program's folder, else on
// PATH; empty when there is none. SetDiscoveryProgram overrides the lookup.
QString DiscoveryProgram();
void SetDiscoveryProgram(const QString &path);

// The desktop's opener of files: "xdg-open" on PATH; empty when there is
// none. SetDesktopOpener overrides the lookup.
QString DesktopOpener();
void SetDesktopOpener(const QString &path);

}  // namespace vtutil
