#include "fuzz_target.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <thread>

namespace vtfuzz {

namespace fs = std::filesystem;

namespace {

struct ScratchFolder {
    ScratchFolder() {
        std::string pattern = (fs::temp_directory_path() / "vtfuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) Fail("mkdtemp", __FILE__, __LINE__);
        path = pattern;
    }
    ~ScratchFolder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    fs::path path;
};

std::map<std::string, Target> &Targets() {
    static std::map<std::string, Target> targets;
    return targets;
}

}  // namespace

bool Register(const char *name, Target target) { return Targets().emplace(name, target).second; }

Target Find(const std::string &name) {
    auto it = Targets().find(name);
    return it == Targets().end() ? nullptr : it->second;
}

std::set<std::string> RegisteredNames() {
    std::set<std::string> names;
    for (const auto &[name, target] : Targets()) names.insert(name);
    return names;
}

void Fail(const char *condition, const char *file, int line) {
    std::fprintf(stderr, "%s:%d: fuzz invariant broken: %s\n", file, line, condition);
    std::abort();
}

const fs::path &Scratch() {
    static ScratchFolder folder;
    return folder.path;
}

void WriteFile(const fs::path &path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    VT_FUZZ_CHECK(out.flush());
}

std::string ReadFile(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::set<std::string> Names(const fs::path &folder) {
    std::set<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        names.insert(it->path().filename().string());
    return names;
}

std::string Converse(std::string_view input, const std::function<void(int fd)> &serve) {
    int fds[2];
    VT_FUZZ_CHECK(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0);
    std::string reply;
    // The client side writes and reads on its own thread, so that neither a
    // long input nor a long reply can fill a socket buffer and stall.
    std::thread client([&] {
        for (size_t off = 0; off < input.size();) {
            ssize_t n = ::send(fds[1], input.data() + off, input.size() - off, MSG_NOSIGNAL);
            if (n <= 0) break;
            off += static_cast<size_t>(n);
        }
        ::shutdown(fds[1], SHUT_WR);
        char buf[4096];
        for (ssize_t n; (n = ::recv(fds[1], buf, sizeof buf, 0)) > 0;) reply.append(buf, static_cast<size_t>(n));
    });
    serve(fds[0]);
    ::shutdown(fds[0], SHUT_RDWR);
    client.join();
    ::close(fds[0]);
    ::close(fds[1]);
    return reply;
}

}  // namespace vtfuzz
