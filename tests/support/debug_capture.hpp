// Captures everything written to the diagnostics channel while it lives.
#pragma once

#include <mutex>
#include <string>

#include "vtplatform.h"

namespace vttest {

class DebugCapture {
public:
    DebugCapture() { vtSetDebugHook(&DebugCapture::Hook, this); }
    ~DebugCapture() { vtSetDebugHook(nullptr, nullptr); }
    DebugCapture(const DebugCapture &) = delete;
    DebugCapture &operator=(const DebugCapture &) = delete;

    std::string text() {
        std::lock_guard<std::mutex> g(m_);
        return text_;
    }
    void clear() {
        std::lock_guard<std::mutex> g(m_);
        text_.clear();
    }

private:
    static void Hook(const char *text, void *self) {
        auto *c = static_cast<DebugCapture *>(self);
        std::lock_guard<std::mutex> g(c->m_);
        c->text_ += text;
    }
    std::mutex m_;
    std::string text_;
};

}  // namespace vttest
