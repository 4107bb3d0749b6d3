#include "discovery.hpp"

#include <QEventLoop>
#include <QProcess>

#include "program_files.hpp"

namespace vtutil {

bool RunDiscovery() {
    const QString program = DiscoveryProgram();
    if (program.isEmpty()) return false;
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    QEventLoop loop;
    bool started = true;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            started = false;
            loop.quit();
        }
    });
    process.start(program, {});
    // The caller's windows stay painted while the user works in the other
    // program; input to them is held back until it ends.
    if (started && process.state() != QProcess::NotRunning)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    else if (process.error() == QProcess::FailedToStart)
        started = false;
    return started;
}

}  // namespace vtutil
