// Shared pieces of the FTP client tests.
#pragma once

#include <gtest/gtest.h>
#include "temp_dir.hpp"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "ftp/ftp_client.hpp"
#include "session/result.hpp"
#include "vtBoxBRD.h"

namespace vttest {

inline VTMFPSESSION LoopbackSession() {
    VTMFPSESSION s;
    std::memset(&s, 0, sizeof s);
    std::strcpy(s.Host, "127.0.0.1");
    s.Port = 8080;
    return s;
}

inline std::string ReadAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteAll(const std::string &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Bytes that any line-end rewriting would change: CR LF, lone CR and LF, NUL,
// a CR at the very end, and every byte value.
inline std::string AwkwardBytes(size_t repeat = 1) {
    std::string bytes("a\r\nb\nc\rd\0e\r\r\n\n\r", 15);
    for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
    std::string out;
    for (size_t i = 0; i < repeat; ++i) out += bytes;
    return out + "\r";
}

// The code a call raised, or 0.
template <typename Call>
uint32_t RaisedCode(Call &&call) {
    try {
        call();
    } catch (const vtbox::BoxError &e) {
        return e.code();
    }
    return 0;
}

}  // namespace vttest
