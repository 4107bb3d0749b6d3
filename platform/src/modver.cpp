#include "vtplatform/modver.hpp"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "vtplatform/errors.hpp"

namespace vt {

namespace {

// The record as embedded in a module (see cmake/VersionRecord.cmake).
struct EmbeddedRecord {
    char magic[24];
    uint32_t signature;
    uint32_t fileVersionMs, fileVersionLs;
    uint32_t productVersionMs, productVersionLs;
    uint16_t translationCount, language, codepage, pad;
};

// The block handed to callers.
struct VersionBlock {
    char tag[4];  // "VTVI"
    FixedFileInfo fixed;
    uint16_t translationCount;
    uint16_t translation[2];
};

constexpr DWORD kResourceTypeNotFound = 1813;

// The magic is kept scrambled here so that this library's own image never
// holds it and cannot be mistaken for a module with a record.
std::string Magic() {
    static const unsigned char scrambled[] = {0x0c, 0x0e, 0x18, 0x15, 0x02, 0x05, 0x0c, 0x1f, 0x08, 0x09, 0x13, 0x15,
                                              0x14, 0x05, 0x08, 0x1f, 0x19, 0x15, 0x08, 0x1e, 0x05, 0x0c, 0x6b};
    std::string m;
    for (unsigned char c : scrambled) m += static_cast<char>(c ^ 0x5A);
    m += '\0';
    return m;
}

bool IsFile(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string DirOf(const std::string &path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::vector<std::string> Candidates(std::string_view name) {
    std::vector<std::string> out{std::string(name)};
    auto endsWith = [&](std::string_view suffix) {
        if (name.size() < suffix.size()) return false;
        for (size_t i = 0; i < suffix.size(); ++i) {
            char c = name[name.size() - suffix.size() + i];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            if (c != suffix[i]) return false;
        }
        return true;
    };
    if (endsWith(".exe")) out.emplace_back(name.substr(0, name.size() - 4));
    if (endsWith(".dll")) out.push_back("lib" + std::string(name.substr(0, name.size() - 4)) + ".so");
    // The interactive utility ships under a descriptive program name.
    if (name == "KoVaBKRT.exe") out.emplace_back("VAULTRABackupRestore");
    return out;
}

std::vector<std::string> SearchFolders() {
    std::vector<std::string> dirs;
    auto addList = [&](const char *list) {
        if (!list) return;
        std::string_view rest(list);
        while (!rest.empty()) {
            size_t colon = rest.find(':');
            std::string_view part = rest.substr(0, colon);
            if (!part.empty()) dirs.emplace_back(part);
            if (colon == std::string_view::npos) break;
            rest.remove_prefix(colon + 1);
        }
    };
    addList(std::getenv("VTBOX_MODULE_PATH"));
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
        exe[n] = '\0';
        dirs.push_back(DirOf(exe));
    }
    Dl_info info;
    if (dladdr(reinterpret_cast<void *>(&FindModuleFile), &info) && info.dli_fname)
        dirs.push_back(DirOf(info.dli_fname));
    dirs.emplace_back(".");
    addList(std::getenv("PATH"));
    return dirs;
}

// Finds the embedded record in a file; false when there is none.
bool ReadRecord(const std::string &path, EmbeddedRecord *out) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool found = false;
    if (fstat(fd, &st) == 0 && st.st_size >= static_cast<off_t>(sizeof(EmbeddedRecord))) {
        size_t size = static_cast<size_t>(st.st_size);
        void *map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (map != MAP_FAILED) {
            const std::string magic = Magic();
            const char *base = static_cast<const char *>(map);
            const char *p = base;
            const char *end = base + size;
            while (!found && p < end) {
                auto *hit =
                    static_cast<const char *>(memmem(p, static_cast<size_t>(end - p), magic.data(), magic.size()));
                if (!hit || static_cast<size_t>(end - hit) < sizeof(EmbeddedRecord)) break;
                std::memcpy(out, hit, sizeof *out);
                found = out->signature == 0xFEEF04BDu;
                p = hit + 1;
            }
            munmap(map, size);
        }
    }
    close(fd);
    return found;
}

}  // namespace

std::string FindModuleFile(const char *bareName) {
    if (!bareName || !*bareName || std::strchr(bareName, '/')) return {};
    const auto names = Candidates(bareName);
    for (const std::string &dir : SearchFolders())
        for (const std::string &name : names) {
            std::string path = dir + "/" + name;
            if (IsFile(path)) return path;
        }
    return {};
}

DWORD GetFileVersionInfoSize(const char *bareName, DWORD *handle) {
    if (handle) *handle = 0;
    std::string file = FindModuleFile(bareName);
    if (file.empty()) {
        SetLastError(code(Code::FILE_NOT_FOUND));
        return 0;
    }
    EmbeddedRecord rec;
    if (!ReadRecord(file, &rec)) {
        SetLastError(kResourceTypeNotFound);
        return 0;
    }
    return sizeof(VersionBlock);
}

BOOL GetFileVersionInfo(const char *bareName, DWORD, DWORD len, void *data) {
    if (!data || len < sizeof(VersionBlock)) {
        SetLastError(code(Code::BUFFER_TOO_SMALL));
        return FALSE;
    }
    std::string file = FindModuleFile(bareName);
    EmbeddedRecord rec;
    if (file.empty() || !ReadRecord(file, &rec)) {
        SetLastError(kResourceTypeNotFound);
        return FALSE;
    }
    VersionBlock block{};
    std::memcpy(block.tag, "VTVI", 4);
    block.fixed.dwSignature = rec.signature;
    block.fixed.dwStrucVersion = 0x00010000;
    block.fixed.dwFileVersionMS = rec.fileVersionMs;
    block.fixed.dwFileVersionLS = rec.fileVersionLs;
    block.fixed.dwProductVersionMS = rec.productVersionMs;
    block.fixed.dwProductVersionLS = rec.productVersionLs;
    block.translationCount = rec.translationCount > 0 ? 1 : 0;
    block.translation[0] = rec.language;
    block.translation[1] = rec.codepage;
    std::memcpy(data, &block, sizeof block);
    return TRUE;
}

BOOL VerQueryValue(const void *data, const char *subBlock, void **buffer, uint32_t *len) {
    if (!data || !subBlock || !buffer || !len) return FALSE;
    auto *block = static_cast<const VersionBlock *>(data);
    if (std::memcmp(block->tag, "VTVI", 4) != 0) return FALSE;
    if (std::strcmp(subBlock, "\\") == 0) {
        *buffer = const_cast<FixedFileInfo *>(&block->fixed);
        *len = sizeof(FixedFileInfo);
        return TRUE;
    }
    if (std::strcmp(subBlock, "\\VarFileInfo\\Translation") == 0 && block->translationCount > 0) {
        *buffer = const_cast<uint16_t *>(block->translation);
        *len = 4;
        return TRUE;
    }
    return FALSE;
}

}  // namespace vt
