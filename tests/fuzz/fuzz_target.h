// A fuzz target is written once and built two ways: with VTBOX_FUZZ (clang)
// as a libFuzzer program fuzz_<name>, and in the ordinary test build as a
// part of the fuzz_corpus test, which replays every file of the target's
// corpus (tests/fuzz/corpus/<name>/) through it. A target returns 0; a broken
// invariant aborts, which both report as a failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <string_view>

namespace vtfuzz {

using Target = int (*)(const uint8_t *data, size_t size);

// Replay build only: the targets by name.
bool Register(const char *name, Target target);
Target Find(const std::string &name);
std::set<std::string> RegisteredNames();

[[noreturn]] void Fail(const char *condition, const char *file, int line);

// A folder of this process's own under the temp folder, made on first use
// and removed when the process exits.
const std::filesystem::path &Scratch();

void WriteFile(const std::filesystem::path &path, std::string_view bytes);
std::string ReadFile(const std::filesystem::path &path);
// The names directly inside a folder.
std::set<std::string> Names(const std::filesystem::path &folder);

// Puts the current folder back: the engine's folder walks change it.
struct KeepCwd {
    std::filesystem::path saved = std::filesystem::current_path();
    ~KeepCwd() { std::filesystem::current_path(saved); }
};

// Writes `input` into one end of a socket pair, closes that end for writing,
// runs serve() on the other end and returns what it wrote back.
std::string Converse(std::string_view input, const std::function<void(int fd)> &serve);

}  // namespace vtfuzz

#define VT_FUZZ_CHECK(condition) \
    do { \
        if (!(condition)) vtfuzz::Fail(#condition, __FILE__, __LINE__); \
    } while (0)

#ifdef VTBOX_FUZZ_REPLAY
#define VT_FUZZ_TARGET(name) \
    static int name##_TestOneInput(const uint8_t *data, size_t size); \
    [[maybe_unused]] static const bool name##_registered = vtfuzz::Register(#name, name##_TestOneInput); \
    static int name##_TestOneInput(const uint8_t *data, size_t size)
#else
#define VT_FUZZ_TARGET(name) extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
#endif
