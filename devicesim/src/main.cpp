// vtbox-devicesim: serves a simulated device until SIGINT or SIGTERM.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <optional>
#include <string>

#include "devicesim/device.hpp"
#include "devicesim/seeding.hpp"

namespace {

void Usage(std::FILE *out) {
    std::fputs(
        "usage: vtbox-devicesim --store DIR [options]\n"
        "  --store DIR            store folder (SHR/BOX/... is made inside it)\n"
        "  --seed                 fill an empty store with boxes, folders and documents\n"
        "  --boxes N --folders N --docs N --pages N --page-kb N\n"
        "                         size of the seeded store (defaults 3, 2, 3, 2, 16)\n"
        "  --colour-docs SEL --wide-docs SEL --mix-docs SEL\n"
        "                         seeded documents with the colour, wide-paper and copy-mix\n"
        "                         flags: \"none\", \"all\" or BOX.FOLDER.DOC items (number,\n"
        "                         A-B or *; folder 0 = top level), each optionally =VALUE,\n"
        "                         separated by commas (default: some documents)\n"
        "  --address A            listen address of both servers (default 127.0.0.1)\n"
        "  --http-port P          box web service port (default 8080; 0 = any free port)\n"
        "  --ftp-port P           FTP port (default $VTBOX_FTP_PORT, else 21; 0 = any free port)\n"
        "  --password TEXT        administrator password (default admin)\n"
        "  --engine-version TEXT  engine version text (default \"Korvo-B V1.3.0.0\";\n"
        "                         \"Korvo-D V1.0.0.0\" selects the shell FTP dialect)\n"
        "  --mac TEXT             MAC address text\n"
        "  --capacity-kb N        disk capacity reported by the disk space page\n"
        "  --listing-crlf         end FTP listing lines with CR LF instead of LF\n"
        "  --busy-503             refuse other sessions during exclusive mode with HTTP 503\n"
        "  --session-idle S       end web sessions idle for S seconds (default 900; 0 = never)\n"
        "A device on a LAN (default: none of it, loopback speed; also set on the control page,\n"
        "/devicesim/lan?latency-ms=N&rate-kbps=N&max-data-connections=N, counts on /devicesim/counts):\n"
        "  --latency-ms N         wait N ms before each FTP reply and box service reply (0-10000)\n"
        "  --rate-kbps N          bandwidth of each FTP data connection, kilobits a second\n"
        "                         (0 = unlimited, at most 10000000)\n"
        "  --max-data-connections N\n"
        "                         FTP data connections open at once; beyond them a data command\n"
        "                         gets 425 at once (0 = unlimited, at most 64)\n",
        out);
}

std::optional<unsigned long> Number(const char *text, unsigned long max) {
    if (!text || !*text) return std::nullopt;
    char *end = nullptr;
    errno = 0;
    unsigned long v = std::strtoul(text, &end, 10);
    if (errno != 0 || *end != '\0' || text[0] == '-' || v > max) return std::nullopt;
    return v;
}

// The options that say which seeded documents carry a flag.
struct FlagOption {
    const char *name;
    std::optional<devicesim::DocumentSelection> devicesim::SeedOptions::*field;
    uint32_t value;  // the flag value of an item without one
    uint32_t max;    // the largest value the record field holds
};
constexpr FlagOption kFlagOptions[] = {
    {"--colour-docs", &devicesim::SeedOptions::colourDocs, devicesim::kColourFlag, 0xFFFF},
    {"--wide-docs", &devicesim::SeedOptions::wideDocs, devicesim::kWidePaperFlag, 0xFFFFFFFF},
    {"--mix-docs", &devicesim::SeedOptions::mixDocs, devicesim::kCopyMixFlag, 0xFF},
};

const FlagOption *FindFlagOption(const std::string &arg) {
    for (const FlagOption &f : kFlagOptions)
        if (arg == f.name) return &f;
    return nullptr;
}

}  // namespace

static int RunProgram(int argc, char **argv) {
    devicesim::DeviceOptions options;
    devicesim::SeedOptions seed;
    bool doSeed = false;
    options.httpPort = 8080;
    options.ftpPort = 21;
    if (const char *env = std::getenv("VTBOX_FTP_PORT")) {
        if (auto p = Number(env, 65535)) options.ftpPort = static_cast<uint16_t>(*p);
    }
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char * {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "vtbox-devicesim: %s needs a value\n", arg.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        auto number = [&](unsigned long max) -> unsigned long {
            const char *text = value();
            auto n = Number(text, max);
            if (!n) {
                std::fprintf(stderr, "vtbox-devicesim: bad value for %s: %s\n", arg.c_str(), text);
                std::exit(2);
            }
            return *n;
        };
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        } else if (arg == "--store") {
            options.store = value();
        } else if (arg == "--seed") {
            doSeed = true;
        } else if (arg == "--boxes") {
            seed.boxes = static_cast<unsigned>(number(999));
        } else if (arg == "--folders") {
            seed.folders = static_cast<unsigned>(number(100));
        } else if (arg == "--docs") {
            seed.docs = static_cast<unsigned>(number(400));
        } else if (arg == "--pages") {
            seed.pages = static_cast<unsigned>(number(9999));
        } else if (arg == "--page-kb") {
            seed.pageKb = static_cast<unsigned>(number(1024 * 1024));
        } else if (const FlagOption *flag = FindFlagOption(arg)) {
            std::string error;
            seed.*(flag->field) = devicesim::DocumentSelection::Parse(value(), flag->value, flag->max, error);
            if (!(seed.*(flag->field))) {
                std::fprintf(stderr, "vtbox-devicesim: %s: %s\n", arg.c_str(), error.c_str());
                std::exit(2);
            }
        } else if (arg == "--address") {
            options.address = value();
        } else if (arg == "--http-port") {
            options.httpPort = static_cast<uint16_t>(number(65535));
        } else if (arg == "--ftp-port") {
            options.ftpPort = static_cast<uint16_t>(number(65535));
        } else if (arg == "--password") {
            options.password = value();
        } else if (arg == "--engine-version") {
            options.engineVersion = value();
        } else if (arg == "--mac") {
            options.mac = value();
        } else if (arg == "--capacity-kb") {
            options.capacityKb = static_cast<uint32_t>(number(0xFFFFFFFFul));
        } else if (arg == "--listing-crlf") {
            options.listingCrLf = true;
        } else if (arg == "--session-idle") {
            options.sessionIdleSeconds = static_cast<unsigned>(number(86400 * 365));
        } else if (arg == "--latency-ms") {
            options.lan.latencyMs = static_cast<unsigned>(number(devicesim::kMaxLatencyMs));
        } else if (arg == "--rate-kbps") {
            options.lan.rateKbps = static_cast<unsigned>(number(devicesim::kMaxRateKbps));
        } else if (arg == "--max-data-connections") {
            options.lan.maxDataConnections = static_cast<unsigned>(number(devicesim::kMaxDataConnectionsLimit));
        } else if (arg == "--busy-503") {
            options.busyAsHttp503 = true;
        } else {
            std::fprintf(stderr, "vtbox-devicesim: unknown option %s\n", arg.c_str());
            Usage(stderr);
            return 2;
        }
    }
    if (options.store.empty()) {
        std::fprintf(stderr, "vtbox-devicesim: --store is required\n");
        Usage(stderr);
        return 2;
    }
    if (doSeed) {
        std::string error;
        if (!devicesim::SeedStore(options.store, seed, error))
            std::fprintf(stderr, "vtbox-devicesim: store not seeded: %s\n", error.c_str());
    }

    // Block the stop signals before any thread starts, so that every thread
    // inherits the mask and only sigwait below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    devicesim::Device device(options);
    try {
        device.Start();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "vtbox-devicesim: %s\n", e.what());
        return 1;
    }
    std::printf("vtbox-devicesim: store %s\nhttp port %u\nftp port %u\nftp dialect %s\n", options.store.c_str(),
                device.HttpPort(), device.FtpPort(), device.ShellDialect() ? "shell" : "list");
    std::fflush(stdout);
    int sig = 0;
    sigwait(&stopSignals, &sig);
    std::printf("vtbox-devicesim: stopping on signal %d\n", sig);
    device.Stop();
    return 0;
}

// Nothing may end the program with an exception: a failure the code did not
// foresee (a broken temp folder, no memory) is said plainly and fails.
int main(int argc, char **argv) {
    try {
        return RunProgram(argc, argv);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "vtbox-devicesim: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "vtbox-devicesim: an unexpected failure\n");
    }
    return 1;
}
