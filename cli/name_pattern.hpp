// Name patterns for vtbox find: a glob ("*" any run of characters, "?" one
// character, "[...]" one of a set, with ranges, "!" or "^" for none of it
// and a "]" first standing for itself, "\" taking the next character as it
// is) matched against a whole name, blind to case in every script (the
// C.UTF-8 locale's case tables), character by character rather than byte by
// byte.
#pragma once

#include <string>

namespace vtcli {

// True when the UTF-8 name matches the UTF-8 pattern. Bytes that are not
// UTF-8 stand for themselves. Patterns and names are bounded by what
// vtbox takes (a name has at most 256 bytes), and the match takes time in
// proportion to their lengths' product at most.
bool MatchesName(const std::string &pattern, const std::string &name);

}  // namespace vtcli
