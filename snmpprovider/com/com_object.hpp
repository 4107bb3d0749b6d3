// How the provider's C++ objects present C interface tables.
//
// An object keeps one Tearoff per interface it hands out: the interface
// struct (whose lpVtbl points at a static table) followed by the object's
// address. The table's slots are Thunk<...>::Call functions that turn the
// interface pointer back into the object and call the member function of
// the same name; no exception ever crosses back into the host.
#pragma once

#include <atomic>
#include <new>
#include <type_traits>
#include <utility>

#include "SNMPProvider.h"

namespace kx9 {

template <class Iface, class Obj>
struct Tearoff {
    Iface com;  // first, so that &com and the Tearoff share an address
    Obj *self;

    void Bind(const decltype(Iface::lpVtbl) table, Obj *object) {
        com.lpVtbl = table;
        self = object;
    }
};

template <class Obj, class Iface>
Obj *SelfOf(Iface *com) {
    return reinterpret_cast<Tearoff<Iface, Obj> *>(com)->self;
}

template <class Iface, auto Method>
struct Thunk;

template <class Iface, class Obj, class R, class... Args, R (Obj::*Method)(Args...)>
struct Thunk<Iface, Method> {
    static R Call(Iface *com, Args... args) {
        if constexpr (std::is_same_v<R, HRESULT>) {
            try {
                return (SelfOf<Obj>(com)->*Method)(args...);
            } catch (const std::bad_alloc &) {
                return E_OUTOFMEMORY;
            } catch (...) {
                return E_FAIL;
            }
        } else {
            return (SelfOf<Obj>(com)->*Method)(args...);  // AddRef and Release do not throw
        }
    }
};

// The slots every element-like interface begins with, for object type Obj
// whose members carry the slot names.
#define KX9_ELEMENT_SLOTS(Iface, Obj) \
    &Thunk<Iface, &Obj::QueryInterface>::Call, &Thunk<Iface, &Obj::AddRef>::Call, &Thunk<Iface, &Obj::Release>::Call, \
        &Thunk<Iface, &Obj::SetParent>::Call, &Thunk<Iface, &Obj::GetValue>::Call, \
        &Thunk<Iface, &Obj::SetValue>::Call, &Thunk<Iface, &Obj::Abort>::Call, \
        &Thunk<Iface, &Obj::get_ElementParent>::Call, &Thunk<Iface, &Obj::get_ElementType>::Call, \
        &Thunk<Iface, &Obj::get_ElementId>::Call, &Thunk<Iface, &Obj::put_ElementId>::Call, \
        &Thunk<Iface, &Obj::get_RefreshTime>::Call, &Thunk<Iface, &Obj::get_ElementTimeout>::Call, \
        &Thunk<Iface, &Obj::put_ElementTimeout>::Call, &Thunk<Iface, &Obj::get_ElementState>::Call, \
        &Thunk<Iface, &Obj::get_ElementCollectionID>::Call

// A reference held on any interface pointer (or on one of our objects that
// has AddRef and Release members), given back when the holder dies.
template <class T>
class ComRef {
public:
    ComRef() = default;
    explicit ComRef(T *p, bool addRef = true) : p_(p) {
        if (p_ && addRef) Add(p_);
    }
    ComRef(const ComRef &o) : ComRef(o.p_) {}
    ComRef(ComRef &&o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ComRef &operator=(ComRef o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    ~ComRef() {
        if (p_) Drop(p_);
    }
    T *get() const { return p_; }
    T *operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T **put() {
        *this = ComRef();
        return &p_;
    }
    T *detach() { return std::exchange(p_, nullptr); }

private:
    static void Add(T *p) {
        if constexpr (requires { p->lpVtbl; })
            p->lpVtbl->AddRef(p);
        else
            p->AddRef();
    }
    static void Drop(T *p) {
        if constexpr (requires { p->lpVtbl; })
            p->lpVtbl->Release(p);
        else
            p->Release();
    }
    T *p_ = nullptr;
};

// Reference counts of the objects that own their count.
class RefCount {
public:
    ULONG Add() { return ++n_; }
    ULONG Drop() { return --n_; }
    ULONG value() const { return n_; }

private:
    std::atomic<ULONG> n_{0};
};

}  // namespace kx9
