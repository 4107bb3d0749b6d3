// The simulated device's FTP server: command lines as bytes on a control
// connection, run against a small store with a way out planted in it (a
// symbolic link to a folder beside the store). Nothing outside the store may
// change.
#include <strings.h>
#include <unistd.h>

#include "device_state.hpp"
#include "ftp_server.hpp"
#include "fuzz_target.h"
#include "store.hpp"

namespace fs = std::filesystem;

namespace {

using namespace devicesim;

void MakeStore(const fs::path &root) {
    const fs::path store = root / "store";
    fs::remove_all(store);
    const fs::path level = store / "SHR/BOX/DATA/B0000001/P0000001";
    fs::create_directories(level / "D0000001");
    fs::create_directories(store / "SHR/BOX/DATABASE");
    vtfuzz::WriteFile(level / "D0000001.XML", std::string(512, 'D'));
    vtfuzz::WriteFile(level / "D0000001/PAGE0001.DAT", "page");
    VT_FUZZ_CHECK(::symlink("../../../outside", (store / "SHR/BOX/link").c_str()) == 0);
}

}  // namespace

VT_FUZZ_TARGET(sim_ftp) {
    static const fs::path root = [] {
        const fs::path r = vtfuzz::Scratch() / "ftp";
        fs::create_directories(r / "outside" / "inner");
        vtfuzz::WriteFile(r / "outside" / "keep", "keep");
        return r;
    }();
    MakeStore(root);

    DeviceOptions options;
    options.store = root / "store";
    Store store(options.store);
    DeviceState state(4, 0);
    VT_FUZZ_CHECK(state.CreateFtpAccount(state.OpenSession()) == "vtbkup0001");  // the login the corpus uses
    Recorder recorder;
    Faults faults;
    LanState lan(options.lan);
    FtpServer server(options, store, state, faults, recorder, lan);
    // No PORT can name the peer of a socket pair, so no data connection is made.
    const sockaddr_storage peer{};
    const std::string reply = vtfuzz::Converse(std::string_view(reinterpret_cast<const char *>(data), size),
                                               [&](int fd) { server.ServeConnection(fd, peer); });
    VT_FUZZ_CHECK(reply.rfind("220 ", 0) == 0);
    // A PASS command is recorded without its argument.
    for (const std::string &line : recorder.Snapshot().ftpCommands) {
        const size_t word = line.find_first_not_of(" \t");
        if (word != std::string::npos && ::strncasecmp(line.c_str() + word, "PASS", 4) == 0 &&
            (line.size() == word + 4 || line[word + 4] == ' ' || line[word + 4] == '\t'))
            VT_FUZZ_CHECK(line == "PASS ****");
    }

    VT_FUZZ_CHECK((vtfuzz::Names(root) == std::set<std::string>{"outside", "store"}));
    VT_FUZZ_CHECK((vtfuzz::Names(root / "outside") == std::set<std::string>{"inner", "keep"}));
    VT_FUZZ_CHECK(vtfuzz::Names(root / "outside" / "inner").empty());
    VT_FUZZ_CHECK(vtfuzz::ReadFile(root / "outside" / "keep") == "keep");
    faults.Shutdown();
    return 0;
}
