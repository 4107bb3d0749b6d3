// What keeps the server loaded: the objects it has handed out that still
// live, and the locks taken with IClassFactory::LockServer. A host unloads
// the server when DllCanUnloadNow says so; an object that outlived the
// unloading would call into code that is gone.
#pragma once

namespace kx9 {

// Counts its owner from construction to destruction. Every object with a
// reference count of its own holds one: the DSE_Provider objects, the class
// objects, the element objects (their companions are part of them), the
// schema's collections and the iterators.
class LiveObject {
public:
    LiveObject();
    LiveObject(const LiveObject &);
    LiveObject &operator=(const LiveObject &) = default;
    ~LiveObject();
};

// IClassFactory::LockServer.
void LockServer(bool lock);

// True when no object lives and no lock is held.
bool CanUnload();

}  // namespace kx9
