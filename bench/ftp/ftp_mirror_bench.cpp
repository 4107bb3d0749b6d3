// Mirrors one tree from an FTP server on loopback twice: with the engine's
// whole-tree download and with `wget -m` (active mode, like the engine), and
// prints wall times, their ratio and files per second.
//
//   bench_ftp_mirror [--server devicesim|vsftpd] [--small N] [--small-kb K]
//                    [--large N] [--large-mb M] [--per-folder N]
//
// Defaults: 2000 files of 50 KB and 50 files of 4 MB, 100 files per folder,
// from the simulated device when it is built in, else from vsftpd.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ftp/ftp_client.hpp"
#include "session/result.hpp"
#include "temp_dir.hpp"
#include "vsftpd_server.hpp"
#include "vtBoxBRD.h"
#ifdef VTBOX_BENCH_DEVICESIM
#include "devicesim/device.hpp"
#endif

namespace fs = std::filesystem;

namespace {

struct Options {
    std::string server;
    unsigned small = 2000, small_kb = 50, large = 50, large_mb = 4, per_folder = 100;
};

struct Tree {
    unsigned files = 0;
    uint64_t bytes = 0;
};

// Folders F0000nnn of per_folder record files each, then the large files in
// folders of their own; every file holds its own pseudo-random bytes.
std::string Numbered(char prefix, unsigned n, const char *extension) {
    char name[32];
    std::snprintf(name, sizeof name, "%c%07u%s", prefix, n, extension);
    return name;
}

Tree MakeTree(const fs::path &root, const Options &o) {
    Tree t;
    std::mt19937_64 random(42);
    auto write = [&](const fs::path &path, size_t size) {
        std::string bytes(size, '\0');
        for (size_t i = 0; i + 8 <= size; i += 8) {
            uint64_t v = random();
            std::memcpy(&bytes[i], &v, 8);
        }
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(size));
        ++t.files;
        t.bytes += size;
    };
    for (unsigned i = 0; i < o.small; ++i) {
        fs::path folder = root / Numbered('F', i / o.per_folder + 1, "");
        fs::create_directories(folder);
        write(folder / Numbered('D', i + 1, ".XML"), o.small_kb * 1024u);
    }
    for (unsigned i = 0; i < o.large; ++i) {
        fs::path folder = root / Numbered('G', i / 10 + 1, "");
        fs::create_directories(folder);
        write(folder / Numbered('P', i + 1, ".JPG"), size_t{o.large_mb} * 1024u * 1024u);
    }
    return t;
}

Tree Measure(const fs::path &root) {
    Tree t;
    if (!fs::exists(root)) return t;
    for (const auto &e : fs::recursive_directory_iterator(root)) {
        if (e.is_regular_file() && e.path().filename() != ".listing") {
            ++t.files;
            t.bytes += e.file_size();
        }
    }
    return t;
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

int RunWget(const std::string &url, const fs::path &into) {
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(into.c_str()) != 0) _exit(126);
        execlp("wget", "wget", "-m", "-q", "-nH", "--no-passive-ftp", "-e", "robots=off", url.c_str(),
               static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Server {
    std::string host = "127.0.0.1";
    uint16_t port = 0;
    std::string user, password;
    std::string remote_root;  // path of the tree on the server
    std::string engine_version;
};

void Report(const char *who, const Tree &got, const Tree &want, double seconds) {
    std::printf("%-22s %8.3f s  %8.1f files/s  %8.1f MB/s  %u/%u files%s\n", who, seconds, got.files / seconds,
                got.bytes / seconds / 1e6, got.files, want.files,
                got.files == want.files && got.bytes == want.bytes ? "" : "  INCOMPLETE");
}

int Bench(const Options &o, const Server &server, const Tree &want) {
    vttest::TempDir work;
    VTMFPSESSION session{};
    std::strcpy(session.Host, server.host.c_str());
    setenv("VTBOX_FTP_PORT", std::to_string(server.port).c_str(), 1);

    // The engine: one connection, folder by folder in queue order.
    auto client = vtbox::MakeFtpClient(server.engine_version);
    auto start = std::chrono::steady_clock::now();
    try {
        client->Connect(&session, server.user.c_str(), server.password.c_str());
        client->DownloadTree(work / "engine", server.remote_root);
    } catch (const vtbox::BoxError &e) {
        std::fprintf(stderr, "engine download failed: %u\n", e.code());
        return 1;
    }
    double engine_s = Seconds(std::chrono::steady_clock::now() - start);
    client.reset();
    fs::current_path(work.path());

    fs::create_directories(work / "wget");
    std::string root = server.remote_root;
    std::string url = "ftp://" + server.user + ":" + server.password + "@" + server.host + ":" +
                      std::to_string(server.port) + "/" + (root[0] == '/' ? "%2F" + root.substr(1) : root) + "/";
    start = std::chrono::steady_clock::now();
    int rc = RunWget(url, work / "wget");
    double wget_s = Seconds(std::chrono::steady_clock::now() - start);
    if (rc != 0) std::fprintf(stderr, "wget exited with %d\n", rc);

    std::printf("tree: %u files, %.1f MB (%s; %u x %u KB, %u x %u MB)\n", want.files, want.bytes / 1e6,
                o.server.c_str(), o.small, o.small_kb, o.large, o.large_mb);
    Report("engine DownloadTree", Measure(work / "engine"), want, engine_s);
    Report("wget -m", Measure(work / "wget"), want, wget_s);
    std::printf("wall time ratio engine/wget: %.2f\n", engine_s / wget_s);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    Options o;
#ifdef VTBOX_BENCH_DEVICESIM
    o.server = "devicesim";
#else
    o.server = "vsftpd";
#endif
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string k = argv[i];
        unsigned v = static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 10));
        if (k == "--server")
            o.server = argv[i + 1];
        else if (k == "--small")
            o.small = v;
        else if (k == "--small-kb")
            o.small_kb = v;
        else if (k == "--large")
            o.large = v;
        else if (k == "--large-mb")
            o.large_mb = v;
        else if (k == "--per-folder" && v > 0)
            o.per_folder = v;
        else {
            std::fprintf(stderr, "unknown option %s\n", k.c_str());
            return 2;
        }
    }

    if (o.server == "vsftpd") {
        vttest::VsftpdServer vsftpd;
        std::string root = vsftpd.root() + "/B0000001";
        Tree want = MakeTree(root, o);
        Server s;
        s.port = vsftpd.port();
        s.user = "anonymous";
        s.password = "guest";
        s.remote_root = root;
        return Bench(o, s, want);
    }
#ifdef VTBOX_BENCH_DEVICESIM
    if (o.server == "devicesim") {
        vttest::TempDir store;
        std::string root = "/SHR/BOX/DATA/B0000001";
        Tree want = MakeTree(store.path() + root, o);
        devicesim::DeviceOptions options;
        options.store = store.path();
        devicesim::Device device(options);
        device.Start();
        VTMFPSESSION web{};
        std::strcpy(web.Host, "127.0.0.1");
        web.Port = device.HttpPort();
        char login[256] = {};
        if (vtBoxOpenConnection(&web) != 0 || vtBoxCreateFTPAccount(&web, "admin", login) != 0) {
            std::fprintf(stderr, "could not open a session on the simulated device\n");
            return 1;
        }
        Server s;
        s.port = device.FtpPort();
        s.user = login;
        s.password = "admin";
        s.remote_root = root;
        s.engine_version = options.engineVersion;
        int rc = Bench(o, s, want);
        vtBoxDeleteFTPAccount(&web, "admin");
        vtBoxCloseConnection(&web);
        return rc;
    }
#endif
    std::fprintf(stderr, "unknown server %s\n", o.server.c_str());
    return 2;
}
