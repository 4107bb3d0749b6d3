// A failure as vtbox reports it: the engine's code, its text and detail,
// then what to do next, and the exit code of its class.
#pragma once

#include <cstdint>
#include <string>

#include "config.hpp"
#include "exit_codes.hpp"

namespace vtcli {

// Prints "vtbox: <what> failed: error <code>: <text> (<detail>)" and a line
// that says what to do next; returns the exit code. settings (may be NULL)
// lets an unreachable device be told apart: no name, refused, no route,
// no answer.
int ReportFailure(const std::string &what, uint32_t code, const std::string &detail, FailureSite site,
                  const Settings *settings = nullptr);

// A failure of vtbox's own (not the engine's): "vtbox: <text>"; returns code.
int ReportProblem(const std::string &text, int exitCode);

}  // namespace vtcli
