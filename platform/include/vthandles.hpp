// vthandles.hpp: owners for the platform's handles, for C++ callers.
//
// Each owner frees what it holds when it dies, with the one call that frees
// that kind of handle, so that no path of a caller forgets it:
//   vt::GlobalBlock    a global memory block (GlobalFree), such as the list
//                      an engine export returns;
//   vt::OwnedHandle    an event or a thread handle (CloseHandle);
//   vt::RegistryKey    an open registry key (RegCloseKey).
// get() lends the handle, release() gives it up, and a null handle is fine.
#pragma once

#include <memory>
#include <type_traits>

#include "vtplatform.h"
#include "vtregistry.h"

namespace vt {

struct GlobalBlockFree {
    void operator()(void *block) const {
        if (block) GlobalFree(block);
    }
};
using GlobalBlock = std::unique_ptr<void, GlobalBlockFree>;

struct HandleClose {
    void operator()(void *handle) const {
        if (handle) CloseHandle(handle);
    }
};
using OwnedHandle = std::unique_ptr<void, HandleClose>;

struct RegistryKeyClose {
    void operator()(HKEY key) const {
        if (key) RegCloseKey(key);
    }
};
using RegistryKey = std::unique_ptr<std::remove_pointer_t<HKEY>, RegistryKeyClose>;

// A new event (manual reset or auto reset, not signalled), owned.
inline OwnedHandle NewEvent(bool manual_reset) {
    return OwnedHandle(CreateEventA(nullptr, manual_reset ? TRUE : FALSE, FALSE, nullptr));
}

}  // namespace vt
