#include "session/report.hpp"

#include <cstdio>
#include <memory>
#include <string>

#include "vtplatform.h"
#include "vtplatform/modver.hpp"
#include "vtplatform/text.hpp"

namespace vtbox {

namespace {
constexpr size_t kLineBuffer = 512;

void WriteCut(const std::string &line) {
    // The line is built in a 512-character buffer: anything longer is cut,
    // never in the middle of a UTF-8 sequence.
    char buf[kLineBuffer];
    vt::CopyUtf8(buf, sizeof buf, line);
    OutputDebugStringA(buf);
}

std::string Printf(const char *format, const char *a, int code, const char *text) {
    int n = std::snprintf(nullptr, 0, format, a, code, text);
    if (n < 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    std::snprintf(out.data(), out.size() + 1, format, a, code, text);
    return out;
}
}  // namespace

void ReportFailure(const char *operation, uint32_t code) {
    const char *name = operation ? operation : "";
    char text[kLineBuffer];
    if (vtGetMessageText(code, text, sizeof text) > 0) {
        WriteCut(Printf("\n==> %s Failed With ERROR - %d : %s \n ", name, static_cast<int>(code), text));
    } else {
        WriteCut(std::string("\n==> ") + name + " Failed With some ERROR n ");
    }
}

void LogModuleVersion(const char *moduleName) {
    DWORD handle = 0;
    DWORD size = vt::GetFileVersionInfoSize(moduleName, &handle);
    if (size == 0) return;
    std::unique_ptr<unsigned char[]> block(new (std::nothrow) unsigned char[size]);
    if (!block) return;
    if (!vt::GetFileVersionInfo(moduleName, handle, size, block.get())) return;
    void *fixedPtr = nullptr, *translation = nullptr;
    uint32_t fixedLen = 0, translationLen = 0;
    if (!vt::VerQueryValue(block.get(), "\\", &fixedPtr, &fixedLen) ||
        !vt::VerQueryValue(block.get(), "\\VarFileInfo\\Translation", &translation, &translationLen))
        return;
    const auto *fixed = static_cast<const vt::FixedFileInfo *>(fixedPtr);
    char line[kLineBuffer];
    std::snprintf(line, sizeof line, " %12s ==> %2d.%2d.%2d.%2d ", moduleName,
                  static_cast<int>(fixed->dwFileVersionMS >> 16), static_cast<int>(fixed->dwFileVersionMS & 0xFFFF),
                  static_cast<int>(fixed->dwFileVersionLS >> 16), static_cast<int>(fixed->dwFileVersionLS & 0xFFFF));
    OutputDebugStringA(line);
}

}  // namespace vtbox
