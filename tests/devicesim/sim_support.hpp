// Shared helpers of the devicesim tests: a temp folder, subprocesses (curl,
// python3), and a fixture that runs the device in-process on free loopback ports.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "devicesim/device.hpp"
#include "devicesim/seeding.hpp"

namespace simtest {

namespace fs = std::filesystem;

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "devicesim-test-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const fs::path &Path() const { return path_; }

private:
    fs::path path_;
};

struct RunResult {
    int exitCode = -1;
    std::string out;
};

// Runs a shell command and captures its standard output.
inline RunResult Shell(const std::string &command) {
    RunResult r;
    FILE *pipe = ::popen(command.c_str(), "r");
    if (!pipe) return r;
    std::array<char, 4096> buf;
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) r.out.append(buf.data(), n);
    int status = ::pclose(pipe);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

inline std::string Quote(const std::string &text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

inline std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

inline bool Contains(const std::vector<std::string> &lines, const std::string &text) {
    for (const auto &l : lines)
        if (l.find(text) != std::string::npos) return true;
    return false;
}

inline std::string ScriptPath(const char *name) { return std::string(DEVICESIM_TEST_DIR) + "/" + name; }

inline void WriteFile(const fs::path &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

inline std::string ReadFile(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Values of a reply read by Python's XML parser (xmlq.py); {"PARSE-ERROR ..."}
// when the body is not well-formed.
inline std::vector<std::string> QueryXml(const std::string &url, const std::vector<std::string> &paths) {
    std::string cmd = "curl -s -0 --max-time 20 " + Quote(url) + " | python3 " + Quote(ScriptPath("xmlq.py"));
    for (const auto &p : paths) cmd += " " + Quote(p);
    auto lines = Lines(Shell(cmd).out);
    if (!lines.empty() && lines[0] == "root=BoxNwLib") lines.erase(lines.begin());
    return lines;
}

class DeviceTest : public ::testing::Test {
protected:
    static devicesim::SeedOptions SmallSeed() {
        devicesim::SeedOptions s;
        s.boxes = 3;
        s.folders = 2;
        s.docs = 3;
        s.pages = 2;
        s.pageKb = 8;
        return s;
    }

    void StartDevice(devicesim::DeviceOptions options = {}, bool seed = true) {
        options.store = dir.Path() / "store";
        options.address = "127.0.0.1";
        options.httpPort = 0;
        options.ftpPort = 0;
        if (seed) {
            std::string error;
            ASSERT_TRUE(devicesim::SeedStore(options.store, SmallSeed(), error)) << error;
        }
        device = std::make_unique<devicesim::Device>(options);
        device->Start();
    }

    void TearDown() override {
        if (device) device->Stop();
    }

    fs::path Store() const { return dir.Path() / "store"; }
    std::string Url(const std::string &target) const {
        return "http://127.0.0.1:" + std::to_string(device->HttpPort()) + target;
    }
    std::string Admin(const std::string &page, const std::string &query) const {
        return Url("/VaultraBox/Admin/" + page + "?" + query);
    }
    std::vector<std::string> Page(const std::string &url, const std::vector<std::string> &paths) {
        return QueryXml(url, paths);
    }
    // HTTP status of a GET, made as HTTP/1.0.
    int Status(const std::string &url) {
        auto r = Shell("curl -s -0 --max-time 20 -o /dev/null -w '%{http_code}' " + Quote(url));
        return std::atoi(r.out.c_str());
    }
    std::string Connect() {
        auto v = Page(Url("/VaultraBox/boxnwConnect"), {"Message/Result", "Message/SessionInfo/WebSessionID"});
        EXPECT_EQ(v.size(), 2u);
        return v.size() == 2 ? v[1] : "";
    }
    std::string CreateAccount(const std::string &sid) {
        auto v =
            Page(Admin("boxnwCreateFTPAccount", "SID=" + sid + "&PWD=admin"), {"Message/Result", "Message/LoginName"});
        EXPECT_EQ(v.at(0), "0");
        return v.at(1);
    }
    // Runs ftpl.py with the given operations; one output line per result.
    std::vector<std::string> Ftp(const std::vector<std::string> &ops) {
        std::string cmd = "python3 " + Quote(ScriptPath("ftpl.py")) + " " + std::to_string(device->FtpPort());
        for (const auto &op : ops) cmd += " " + Quote(op);
        return Lines(Shell(cmd + " 2>&1").out);
    }
    std::string FtpUrl(const std::string &path) const {
        return "ftp://127.0.0.1:" + std::to_string(device->FtpPort()) + path;
    }

    TempDir dir;
    std::unique_ptr<devicesim::Device> device;
};

}  // namespace simtest
