// vtbox-discover: finds devices by the addresses the user gives, checks each
// on its box web service, and leaves the chosen one (and the table of known
// devices) in the registry, where the backup/restore utility reads it.
//
//   vtbox-discover [ADDRESS...]           the window, with the addresses checked
//   vtbox-discover --choose ADDRESS [--name NAME] [--location TEXT]
//                                         no window: check, record, choose
//
// The port is 8080, or VTBOX_HTTP_PORT. It never scans a network.
#include <QApplication>
#include <QCommandLineParser>
#include <QEventLoop>
#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>

#include "device_probe.hpp"
#include "device_session.hpp"
#include "device_table.hpp"
#include "discover_dlg.hpp"

namespace {

// Exit codes of --choose.
constexpr int kChosen = 0;
constexpr int kNoAnswer = 1;
constexpr int kUsage = 2;
constexpr int kNotRecorded = 3;

int ChooseWithoutWindow(const QString &address, const QString &name, const QString &location, uint16_t port) {
    vtdiscover::ProbeResult result;
    QEventLoop loop;
    vtdiscover::DeviceProbe probe(address, port);
    QObject::connect(&probe, &vtdiscover::DeviceProbe::Finished, &loop, [&](const vtdiscover::ProbeResult &r) {
        result = r;
        loop.quit();
    });
    probe.Start();
    loop.exec();
    if (!result.answered) {
        std::fprintf(stderr, "vtbox-discover: %s does not answer: %s\n", qPrintable(address),
                     qPrintable(result.problem));
        return kNoAnswer;
    }
    std::vector<vtdiscover::KnownDevice> devices = vtdiscover::LoadKnownDevices();
    vtdiscover::KnownDevice chosen{name.isEmpty() ? address : name, address, result.model, location};
    devices.erase(std::remove_if(devices.begin(), devices.end(),
                                 [&](const auto &d) { return d.address.compare(address, Qt::CaseInsensitive) == 0; }),
                  devices.end());
    if (devices.size() >= static_cast<size_t>(vtutil::kDeviceTableRows)) devices.erase(devices.begin());
    devices.push_back(chosen);
    if (!vtdiscover::SaveChoice(devices, chosen)) {
        std::fprintf(stderr, "vtbox-discover: the choice could not be recorded in the registry store\n");
        return kNotRecorded;
    }
    std::printf("%s (%s): %s\n", qPrintable(chosen.name), qPrintable(address), qPrintable(result.model));
    return kChosen;
}

}  // namespace

static int RunProgram(int argc, char *argv[]) {
    // --choose needs no display: decide before a GUI application is made.
    bool withoutWindow = false;
    for (int i = 1; i < argc; ++i)
        if (QByteArray(argv[i]) == "--choose") withoutWindow = true;
    std::unique_ptr<QCoreApplication> app;
    if (withoutWindow)
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vtbox-discover"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Finds a device for the backup/restore utility."));
    parser.addHelpOption();
    QCommandLineOption choose(QStringLiteral("choose"),
                              QStringLiteral("Check ADDRESS and make it the chosen device, without a window."),
                              QStringLiteral("ADDRESS"));
    QCommandLineOption name(QStringLiteral("name"), QStringLiteral("Name of the device chosen with --choose."),
                            QStringLiteral("NAME"));
    QCommandLineOption location(QStringLiteral("location"),
                                QStringLiteral("Location of the device chosen with --choose."), QStringLiteral("TEXT"));
    parser.addOptions({choose, name, location});
    parser.addPositionalArgument(QStringLiteral("address"), QStringLiteral("Addresses to check at once."),
                                 QStringLiteral("[address...]"));
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "vtbox-discover: %s\n", qPrintable(parser.errorText()));
        return kUsage;
    }
    if (parser.isSet(QStringLiteral("help"))) parser.showHelp(0);

    const uint16_t port = static_cast<uint16_t>(vtutil::BoxServicePort());
    if (withoutWindow) {
        if (!parser.positionalArguments().isEmpty()) {
            std::fprintf(stderr, "vtbox-discover: --choose takes one address\n");
            return kUsage;
        }
        return ChooseWithoutWindow(parser.value(choose), parser.value(name), parser.value(location), port);
    }
    vtdiscover::DiscoverDlg dialog(port, parser.positionalArguments());
    dialog.show();
    return dialog.exec() == QDialog::Accepted ? 0 : 1;
}

// Nothing may end the program with an exception: a failure the code did not
// foresee (a broken temp folder, no memory) is said plainly and fails.
int main(int argc, char **argv) {
    try {
        return RunProgram(argc, argv);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "vtbox-discover: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "vtbox-discover: an unexpected failure\n");
    }
    return 1;
}
