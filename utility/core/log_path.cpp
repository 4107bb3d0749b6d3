#include "log_path.hpp"

#include <QDir>

namespace vtutil {

QString UtilityLogPath() {
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    // XDG takes only an absolute path there; anything
    // else is ignored.
    if (state.isEmpty() || !QDir::isAbsolutePath(state)) state = QDir::homePath() + QStringLiteral("/.local/state");
    return QDir(state).filePath(QStringLiteral("vtbox/BKRT_Log.txt"));
}

}  // namespace vtutil
