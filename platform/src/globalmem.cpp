// Fixed global memory blocks. The handle is the block's address; a small
// header in front of it records the size, so GlobalSize answers exactly what
// was asked for.
#include <cstdlib>
#include <cstring>
#include <new>

#include "vtplatform.h"
#include "vtplatform/errors.hpp"

namespace {
constexpr uint64_t kMagic = 0x564D454D424C4B31ull;  // "VMEMBLK1"

struct alignas(16) Header {
    uint64_t magic;
    size_t size;
};
static_assert(sizeof(Header) == 16);

Header *HeaderOf(HGLOBAL block) {
    if (!block) return nullptr;
    auto *h = reinterpret_cast<Header *>(static_cast<char *>(block) - sizeof(Header));
    return h->magic == kMagic ? h : nullptr;
}

void *DataOf(Header *h) { return reinterpret_cast<char *>(h) + sizeof(Header); }
}  // namespace

extern "C" {

HGLOBAL GlobalAlloc(DWORD flags, size_t bytes) {
    if (bytes > SIZE_MAX - sizeof(Header)) {
        SetLastError(vt::code(vt::Code::NOT_ENOUGH_MEMORY));
        return nullptr;
    }
    void *raw = (flags & GMEM_ZEROINIT) ? std::calloc(1, sizeof(Header) + bytes) : std::malloc(sizeof(Header) + bytes);
    if (!raw) {
        SetLastError(vt::code(vt::Code::NOT_ENOUGH_MEMORY));
        return nullptr;
    }
    auto *h = static_cast<Header *>(raw);
    h->magic = kMagic;
    h->size = bytes;
    return DataOf(h);
}

HGLOBAL GlobalReAlloc(HGLOBAL block, size_t bytes, DWORD flags) {
    Header *h = HeaderOf(block);
    if (!h) {
        SetLastError(vt::code(vt::Code::INVALID_HANDLE));
        return nullptr;
    }
    if (bytes > SIZE_MAX - sizeof(Header)) {
        SetLastError(vt::code(vt::Code::NOT_ENOUGH_MEMORY));
        return nullptr;
    }
    size_t old = h->size;
    void *raw = std::realloc(h, sizeof(Header) + bytes);
    if (!raw) {
        SetLastError(vt::code(vt::Code::NOT_ENOUGH_MEMORY));
        return nullptr;
    }
    h = static_cast<Header *>(raw);
    h->size = bytes;
    if ((flags & GMEM_ZEROINIT) && bytes > old) std::memset(static_cast<char *>(DataOf(h)) + old, 0, bytes - old);
    return DataOf(h);
}

size_t GlobalSize(HGLOBAL block) {
    Header *h = HeaderOf(block);
    if (!h) {
        if (block) SetLastError(vt::code(vt::Code::INVALID_HANDLE));
        return 0;
    }
    return h->size;
}

void *GlobalLock(HGLOBAL block) {
    if (!HeaderOf(block)) {
        SetLastError(vt::code(vt::Code::INVALID_HANDLE));
        return nullptr;
    }
    return block;
}

BOOL GlobalUnlock(HGLOBAL block) {
    // Fixed blocks carry no lock count: unlocking reports "no longer locked".
    if (!HeaderOf(block))
        SetLastError(vt::code(vt::Code::INVALID_HANDLE));
    else
        SetLastError(0);
    return FALSE;
}

HGLOBAL GlobalFree(HGLOBAL block) {
    if (!block) return nullptr;
    Header *h = HeaderOf(block);
    if (!h) {
        SetLastError(vt::code(vt::Code::INVALID_HANDLE));
        return block;
    }
    h->magic = 0;
    std::free(h);
    return nullptr;
}

}  // extern "C"
