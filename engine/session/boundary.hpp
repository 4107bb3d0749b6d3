// The frame around every export: argument check, one failure handler, one
// report line, result code and last error.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>

#include "session/error_detail.hpp"
#include "session/report.hpp"
#include "session/result.hpp"
#include "vtBoxBRD.h"
#include "vthandles.hpp"
#include "vtplatform.h"

namespace vtbox {

// A session counts as open when it has a connection and a web session number.
inline bool SessionIsOpen(const VTMFPSESSION *session) {
    return session != nullptr && session->ConnectHandle != nullptr && session->SessionId != 0;
}

namespace detail {
// What an export does after its report line when it fails (a long
// operation's failure path); by default nothing.
struct NoFailurePath {
    void operator()(uint32_t) const noexcept {}
};

template <typename Body, typename FailurePath = NoFailurePath>
uint32_t RunGuarded(const char *name, Body &&body, FailurePath &&onFailure = {}) {
    uint32_t rc = 0;
    ClearFailureDetail();
    try {
        std::forward<Body>(body)();
    } catch (...) {
        rc = CodeInFlight();
    }
    // Whatever the body held has been released by now (RAII); report once,
    // then let the export tidy up what outlives the body.
    if (rc != 0) {
        ReportFailure(name, rc);
        onFailure(rc);
    }
    SettleFailureDetail(rc);
    return rc;
}
}  // namespace detail

// Frames an export whose result is a code. When argumentsValid is false the
// export answers 87 at once, without a report line. The body raises codes
// with Raise(); it returns normally on success. onFailure, when given, runs
// after the report line with the code (it must not throw).
template <typename Body, typename FailurePath = detail::NoFailurePath>
uint32_t RunExport(const char *name, bool argumentsValid, Body &&body, FailurePath &&onFailure = {}) {
    constexpr uint32_t kInvalidParameter = vt::code(vt::Code::INVALID_PARAMETER);
    if (!argumentsValid) {
        ClearFailureDetail();
        SetLastError(kInvalidParameter);
        return kInvalidParameter;
    }
    uint32_t rc = detail::RunGuarded(name, std::forward<Body>(body), std::forward<FailurePath>(onFailure));
    SetLastError(rc);
    return rc;
}

// Owns a global memory block until it is handed out.
using vt::GlobalBlock;

// Frames an export whose result is a memory handle. The body returns the
// block it filled; on failure the handle is null and the code is the last error.
template <typename Body>
HGLOBAL RunListExport(const char *name, bool argumentsValid, Body &&body) {
    constexpr uint32_t kInvalidParameter = vt::code(vt::Code::INVALID_PARAMETER);
    SetLastError(0);
    if (!argumentsValid) {
        ClearFailureDetail();
        SetLastError(kInvalidParameter);
        return nullptr;
    }
    GlobalBlock result;
    uint32_t rc = detail::RunGuarded(name, [&] { result = std::forward<Body>(body)(); });
    if (rc == 0 && !result) {
        rc = vt::code(vt::Code::INTERNAL_ERROR);
        ReportFailure(name, rc);
        SettleFailureDetail(rc);
    }
    SetLastError(rc);
    return rc == 0 ? result.release() : nullptr;
}

}  // namespace vtbox
