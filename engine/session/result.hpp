// How a failure travels inside an export: every failing step raises its
// result code; the export's boundary turns it into the return value.
#pragma once

#include <cstdint>

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
[[noreturn]] inline void Raise(uint32_t code) {
    throw BoxError(code != 0 ? code : vt::code(vt::Code::InternalError));
}
[[noreturn]] inline void Raise(vt::Code code) { Raise(vt::code(code)); }

// Raises the thread's last error (as a failed system call leaves it).
[[noreturn]] inline void RaiseLastError() { Raise(GetLastError()); }

// Raises the code that a step returned, unless it is 0 (for steps that
// return their code rather than raise it: other exports, packaging).
inline void Check(uint32_t rc) {
    if (rc != 0) Raise(rc);
}

}  // namespace vtbox
