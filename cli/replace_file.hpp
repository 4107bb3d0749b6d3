// A file replaced whole in one step, for files that another program reads
// at any moment (the fleet's state, the metrics for the node exporter): the
// new text goes to a temporary file beside the target, made new (never a
// file or a link that was already there), and takes the target's name by a
// rename, so that a reader sees the old file or the new one, never half.
#pragma once

#include <sys/types.h>

#include <string>

namespace vtcli {

// Replaces path with text, the new file with exactly `mode` (whatever the
// umask), synced to disk with its folder. A link at path is replaced, never
// written through. False with *error ("PATH: what failed: why"); the
// temporary file is then removed and the old file, if any, left as it was.
bool ReplaceFile(const std::string &path, const std::string &text, mode_t mode, std::string *error);

}  // namespace vtcli
