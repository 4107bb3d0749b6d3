#include "devicesim/device.hpp"

#include <mutex>
#include <stdexcept>

#include "box_pages.hpp"
#include "control_page.hpp"
#include "device_state.hpp"
#include "ftp_server.hpp"
#include "http_server.hpp"
#include "lan.hpp"
#include "store.hpp"

namespace devicesim {

struct Device::Impl {
    explicit Impl(DeviceOptions o)
        : options(std::move(o)), store(options.store), state(options.maxSessions, options.sessionIdleSeconds),
          lan(options.lan), pages(store, state, recorder, faults, options), control(faults, recorder, lan) {}

    DeviceOptions options;
    Store store;
    DeviceState state;
    Recorder recorder;
    Faults faults;
    LanState lan;
    BoxPages pages;
    ControlPage control;
    std::unique_ptr<HttpServer> http;
    std::unique_ptr<FtpServer> ftp;
    std::mutex lifecycle;
    bool started = false;
    bool stopped = false;
};

Device::Device(DeviceOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Device::~Device() { Stop(); }

void Device::Start() {
    std::lock_guard lock(impl_->lifecycle);
    if (impl_->started) throw std::runtime_error("a device starts once");
    impl_->started = true;
    if (impl_->options.store.empty()) throw std::runtime_error("no store folder given");
    try {
        impl_->store.EnsureLayout();
    } catch (const std::exception &e) {
        throw std::runtime_error(std::string("cannot make the store: ") + e.what());
    }
    Impl &d = *impl_;
    d.http = std::make_unique<HttpServer>(
        d.options.address, d.options.httpPort, d.options.engineVersion, d.faults, d.recorder, d.lan,
        [&d](const HttpRequest &r) { return d.pages.Handle(r); }, kControlPrefix,
        [&d](const HttpRequest &r) { return d.control.Handle(r); });
    d.ftp = std::make_unique<FtpServer>(d.options, d.store, d.state, d.faults, d.recorder, d.lan);
    try {
        d.http->Start();
        d.ftp->Start();
    } catch (...) {
        d.faults.Shutdown();
        d.http->Stop();
        d.ftp->Stop();
        throw;
    }
}

void Device::Stop() {
    std::lock_guard lock(impl_->lifecycle);
    if (!impl_->started || impl_->stopped) return;
    impl_->stopped = true;
    impl_->faults.Shutdown();  // wakes delayed and silenced requests
    if (impl_->http) impl_->http->Stop();
    if (impl_->ftp) impl_->ftp->Stop();
}

uint16_t Device::HttpPort() const { return impl_->http ? impl_->http->Port() : 0; }
uint16_t Device::FtpPort() const { return impl_->ftp ? impl_->ftp->Port() : 0; }
const DeviceOptions &Device::Options() const { return impl_->options; }
bool Device::ShellDialect() const { return impl_->options.engineVersion == kShellDialectVersion; }
Faults &Device::GetFaults() { return impl_->faults; }
void Device::SetLan(const LanModel &lan) { impl_->lan.Set(lan); }
LanModel Device::Lan() const { return impl_->lan.Get(); }
DeviceRecords Device::Records() const { return impl_->recorder.Snapshot(); }
void Device::ClearRecords() { impl_->recorder.Clear(); }

}  // namespace devicesim
