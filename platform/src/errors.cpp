// Last error, the errno map and the message texts.
#include "vtplatform/errors.hpp"

#include <cerrno>
#include <cstring>

#include "vtplatform/text.hpp"

namespace vt {

namespace {
thread_local DWORD t_lastError = 0;

// Our own short texts, from the one table: a code cannot be there without one.
const char *TextFor(Code c) {
#define VTBOX_RESULT_TEXT(name, number, text) \
    case Code::name: return text;
    switch (c) { VTBOX_RESULT_TABLE(VTBOX_RESULT_TEXT) }
#undef VTBOX_RESULT_TEXT
    return nullptr;
}

bool IsKnownCode(uint32_t value) { return TextFor(static_cast<Code>(value)) != nullptr; }
}  // namespace

std::string MessageText(uint32_t value) {
    if (!IsKnownCode(value)) return {};
    return TextFor(static_cast<Code>(value));
}

uint32_t Win32FromErrno(int err) {
    switch (err) {
    case 0: return 0;
    case ENOENT: return code(Code::FILE_NOT_FOUND);
    case ENOTDIR: return code(Code::PATH_NOT_FOUND);
    case EACCES:
    case EPERM:
    case EROFS: return code(Code::ACCESS_DENIED);
    case EBADF: return code(Code::INVALID_HANDLE);
    case ENOMEM: return code(Code::NOT_ENOUGH_MEMORY);
    case EEXIST: return code(Code::ALREADY_EXISTS);
    case ENOSPC:
    case EDQUOT: return code(Code::DISK_FULL);
    case EMFILE:
    case ENFILE: return code(Code::TOO_MANY_OPEN_FILES);
    case EXDEV: return code(Code::NOT_SAME_DISK);
    case EBUSY:
    case ETXTBSY: return code(Code::FILE_IN_USE);
    case ENOTEMPTY: return code(Code::FOLDER_NOT_EMPTY);
    case EISDIR: return code(Code::IS_A_FOLDER);
    case ENAMETOOLONG: return code(Code::PATH_TOO_LONG);
    case EINVAL: return code(Code::INVALID_PARAMETER);
    case EPIPE: return code(Code::BROKEN_PIPE);
    case ETIMEDOUT: return code(Code::NET_TIMEOUT);
    case ECONNREFUSED: return code(Code::CANNOT_CONNECT);
    case ECONNRESET: return code(Code::CONNECTION_RESET);
    case ECONNABORTED: return code(Code::CONNECTION_ABORTED);
    case ENETUNREACH:
    case EHOSTUNREACH: return code(Code::CANNOT_CONNECT);
    case EILSEQ: return code(Code::NO_UNICODE_TRANSLATION);
    case EIO: return code(Code::INTERNAL_ERROR);
    case ECANCELED: return code(Code::CANCELLED);
    case EAGAIN: return code(Code::STORE_BUSY);
    case EFBIG: return code(Code::DISK_FULL);
    case ELOOP: return code(Code::INVALID_NAME);
    default: return code(Code::INTERNAL_ERROR);
    }
}

uint32_t SetLastErrorFromErrno(int err) {
    uint32_t c = Win32FromErrno(err);
    SetLastError(c);
    return c;
}

}  // namespace vt

extern "C" {

DWORD GetLastError(void) { return vt::t_lastError; }

void SetLastError(DWORD value) { vt::t_lastError = value; }

size_t vtGetMessageText(DWORD value, char *buf, size_t size) {
    std::string text = vt::MessageText(value);
    if (text.empty()) {
        if (buf && size) buf[0] = '\0';
        return 0;
    }
    if (buf && size) vt::CopyUtf8(buf, size, text);
    return text.size();
}

}  // extern "C"
