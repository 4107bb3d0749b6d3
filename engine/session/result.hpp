// How a failure travels inside an export: every failing step raises its
// result code; the export's boundary turns it into the return value.
#pragma once

#include <cstdint>
#include <new>
#include <string>
#include <utility>

#include "session/error_detail.hpp"
#include "vtplatform.h"
#include "vtplatform/errors.hpp"

namespace vtbox {

// The one exception type inside the engine: a result code.
class BoxError {
public:
    explicit BoxError(uint32_t code) : code_(code) {}
    uint32_t code() const { return code_; }

private:
    uint32_t code_;
};

// Raises a result code. A step that failed without saying why (a system call
// that left last error at 0) still fails: 0 is raised as 1359.
[[noreturn]] inline void Raise(uint32_t code) { throw BoxError(code != 0 ? code : vt::code(vt::Code::INTERNAL_ERROR)); }
[[noreturn]] inline void Raise(vt::Code code) { Raise(vt::code(code)); }

// Raises a code and notes the failure's detail for the caller.
[[noreturn]] inline void Raise(uint32_t code, std::string detail) {
    if (code == 0) code = vt::code(vt::Code::INTERNAL_ERROR);
    NoteFailure(code, std::move(detail));
    throw BoxError(code);
}
[[noreturn]] inline void Raise(vt::Code code, std::string detail) { Raise(vt::code(code), std::move(detail)); }

// The code of the exception being handled (call inside a catch block): a
// BoxError's own code, 8 when memory could not be had (so that an
// administrator reads "not enough memory" rather than an internal error), and
// 1359 for anything else.
inline uint32_t CodeInFlight() noexcept {
    try {
        throw;
    } catch (const BoxError &e) {
        return e.code();
    } catch (const std::bad_alloc &) {
        return vt::code(vt::Code::NOT_ENOUGH_MEMORY);
    } catch (...) {
        return vt::code(vt::Code::INTERNAL_ERROR);
    }
}

// Raises the thread's last error (as a failed system call leaves it).
[[noreturn]] inline void RaiseLastError() { Raise(GetLastError()); }

// Raises the code that a step returned, unless it is 0 (for steps that
// return their code rather than raise it: other exports, packaging).
inline void Check(uint32_t rc) {
    if (rc != 0) Raise(rc);
}

// The same, with what the step was doing in front of its detail
// ("packing X into Y: ...").
inline void Check(uint32_t rc, const std::string &context) {
    if (rc == 0) return;
    AddFailureContext(rc, context);
    Raise(rc);
}

}  // namespace vtbox
