// Diagnostics channel. Off by default; VTBOX_DEBUG=stderr or VTBOX_DEBUG=/path
// sends every text there, and tests capture texts through the hook.
#include "vtplatform/diag.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace vt {

namespace {
struct Channel {
    std::mutex lock;
    VTDEBUGHOOK hook = nullptr;
    void *context = nullptr;
    FILE *sink = nullptr;
    bool ownsSink = false;

    Channel() {
        const char *target = std::getenv("VTBOX_DEBUG");
        if (!target || !*target) return;
        if (std::strcmp(target, "stderr") == 0) {
            sink = stderr;
        } else {
            sink = std::fopen(target, "a");
            ownsSink = sink != nullptr;
        }
    }
    ~Channel() {
        if (ownsSink) std::fclose(sink);
    }
};

Channel &TheChannel() {
    static Channel channel;
    return channel;
}

std::string VFormat(const char *format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    std::vsnprintf(out.data(), out.size() + 1, format, args);
    return out;
}
}  // namespace

void DebugPrint(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = VFormat(format, args);
    va_end(args);
    OutputDebugStringA(text.c_str());
}

std::string Format(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = VFormat(format, args);
    va_end(args);
    return text;
}

}  // namespace vt

extern "C" {

void OutputDebugStringA(const char *text) {
    if (!text) return;
    vt::Channel &ch = vt::TheChannel();
    std::lock_guard<std::mutex> guard(ch.lock);
    if (ch.hook) ch.hook(text, ch.context);
    if (ch.sink) {
        std::fputs(text, ch.sink);
        std::fflush(ch.sink);
    }
}

void vtSetDebugHook(VTDEBUGHOOK hook, void *context) {
    vt::Channel &ch = vt::TheChannel();
    std::lock_guard<std::mutex> guard(ch.lock);
    ch.hook = hook;
    ch.context = context;
}

}  // extern "C"
