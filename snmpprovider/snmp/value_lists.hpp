// The five value lists of a scalar object, and a VARIANT that frees itself.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "vtcom.h"

namespace kx9 {

// A VARIANT owned by C++ code: copies are deep, destruction frees. Copying
// throws std::bad_alloc when a BSTR cannot be allocated.
class Variant {
public:
    Variant() { VariantInit(&v_); }
    ~Variant() { VariantClear(&v_); }
    Variant(const Variant &other);
    Variant(Variant &&other) noexcept : v_(other.v_) { VariantInit(&other.v_); }
    Variant &operator=(Variant other) noexcept {
        std::swap(v_, other.v_);
        return *this;
    }

    static Variant Int(int32_t value);
    static Variant Text(std::string_view utf8);
    // A copy of a host's VARIANT; E_INVALIDARG for a type outside the subset.
    static HRESULT From(const VARIANT &value, Variant *out);

    const VARIANT &get() const { return v_; }
    // The text of a VT_BSTR as UTF-8.
    std::string Utf8() const;

private:
    VARIANT v_;
};

struct StoredValue {
    Variant value;
    bool changed = false;  // stored by the host and not yet written
    uint64_t stamp = 0;    // which store of the host this is
    bool hasInstance = false;
    std::string instance;  // where a table read found the value ("3", "1.4"); a store keeps it
};

constexpr int kValueLists = 5;
using ValueSet = std::array<std::vector<StoredValue>, kValueLists>;

// Guarded by its own lock: the host reads and stores values while a queued
// operation may replace them from the worker thread.
class ValueLists {
public:
    // A read's result replaces everything.
    void Replace(ValueSet values);
    void Clear() { Replace(ValueSet{}); }

    // -1 for a list number outside 0..4.
    int Count(int list) const;
    // DISP_E_BADINDEX outside the lists; out receives a copy.
    HRESULT Get(int list, int index, VARIANT *out) const;
    // Stores a value at index (index == count appends) and marks it changed.
    HRESULT Put(int list, int index, const VARIANT &value);
    HRESULT Instance(int list, int index, std::string *instance, bool *has) const;

    struct Change {
        int list;
        int index;
        Variant value;
        uint64_t stamp;
        bool hasInstance;      // the slot holds a value a table read found
        std::string instance;  // where it found it
    };
    // The values marked changed, list by list.
    std::vector<Change> Changed() const;
    // Clears a value's mark once written, unless the host stored it again since.
    void MarkWritten(const Change &change);

private:
    mutable std::mutex m_;
    ValueSet lists_;
    uint64_t nextStamp_ = 1;
};

}  // namespace kx9
