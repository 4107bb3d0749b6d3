// The simulated device's box web service: a request as bytes on a connection,
// read, answered and recorded as the device does it, against a small store.
#include "box_pages.hpp"
#include "control_page.hpp"
#include "devicesim/seeding.hpp"
#include "fuzz_target.h"
#include "http_server.hpp"

namespace fs = std::filesystem;

namespace {

using namespace devicesim;

// A store of one box; seeded again whenever a request deleted part of it.
const fs::path &SmallStore() {
    static const fs::path store = vtfuzz::Scratch() / "http-store";
    const fs::path document = store / "SHR/BOX/DATA/B0000001/P0000001/F0000001/D0000001.XML";
    if (!fs::exists(document) || !fs::exists(store / "SHR/BOX/DATABASE/B0000001.XML")) {
        fs::remove_all(store);
        SeedOptions o;
        o.boxes = 1;
        o.folders = 1;
        o.docs = 1;
        o.pages = 1;
        o.pageKb = 1;
        std::string error;
        VT_FUZZ_CHECK(SeedStore(store, o, error));
    }
    return store;
}

}  // namespace

VT_FUZZ_TARGET(sim_http) {
    DeviceOptions options;
    options.store = SmallStore();
    options.password = "p&w+d %";
    Store store(options.store);
    DeviceState state(4, 0);
    VT_FUZZ_CHECK(state.OpenSession() == 10000001);  // the session the corpus uses
    Recorder recorder;
    Faults faults;  // set by the control page for this request only
    BoxPages pages(store, state, recorder, faults, options);
    LanState lan(options.lan);
    ControlPage control(faults, recorder, lan);
    HttpServer server(
        options.address, 0, options.engineVersion, faults, recorder, lan,
        [&](const HttpRequest &r) { return pages.Handle(r); }, kControlPrefix,
        [&](const HttpRequest &r) { return control.Handle(r); });

    const std::string reply = vtfuzz::Converse(std::string_view(reinterpret_cast<const char *>(data), size),
                                               [&](int fd) { server.Serve(fd, true); });
    VT_FUZZ_CHECK(reply.empty() || reply.rfind("HTTP/1.", 0) == 0);
    // Whatever the escaping, no record keeps a password.
    for (const std::string &target : recorder.Snapshot().httpRequests) {
        HttpRequest parsed;
        if (!ParseRequestLine("GET " + target + " HTTP/1.0", parsed)) continue;
        for (const auto &[key, value] : parsed.params) VT_FUZZ_CHECK(key != "PWD" || value == "****" || value.empty());
    }
    faults.Shutdown();
    return 0;
}
