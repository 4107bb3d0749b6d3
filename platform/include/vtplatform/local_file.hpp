// How our programs read their own local files (the registry store, vtbox's
// configuration and password files, the job record, the schedule's units): a name may
// hold anything another user or a mistake put there, so the file is opened
// without blocking (a FIFO or a terminal at the name must not hold a job
// that nobody watches), must be a regular file, and is read only up to a
// bound the caller names, its size checked before a byte is read.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <string>

namespace vt {

// Whether a symbolic link at the name itself is followed. Folders above it
// are followed either way.
enum class LinkRule { Follow, Refuse };

// Opens path for reading as above. Returns the descriptor, which the caller
// owns and closes (close-on-exec, O_NONBLOCK left set: a regular file reads
// as usual), with its status in *st; or -1 with *error saying why, in words
// that may follow the path and a colon ("not a regular file", "a symbolic
// link", the system's words). errno then says the same to a program: ENOENT for a
// missing file, ELOOP for a refused link, EINVAL for anything but a
// regular file, EFBIG for one over the bound.
int OpenLocalFile(const std::string &path, LinkRule links, struct stat *st, std::string *error);

// Reads the whole of path into *text when it holds at most maxBytes; a
// larger file is refused before it is read ("larger than N bytes"), and
// so is one that grows past the bound while it is read. *st (optional)
// receives the file's status. False with *error as for OpenLocalFile.
bool ReadLocalFile(const std::string &path, size_t maxBytes, LinkRule links, std::string *text, std::string *error,
                   struct stat *st = nullptr);

}  // namespace vt
