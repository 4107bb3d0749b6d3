// Compresses the files of an archive ahead of the writer, on as many threads
// as the machine has cores (at most four), so that packing a folder is not
// bound to one core. Results come back in the order the files were given.
// Memory stays bounded: only a few files, of limited size, are held at once;
// larger files and files kept uncompressed are left to the writer to stream.
#pragma once

#include <sys/stat.h>

#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vtbox {

class HeldFiles;

struct DeflatedFile {
    enum class State { Pending, Done, Stream, Unreadable, ReadFailed } state = State::Pending;
    int error = 0;  // errno for Unreadable and ReadFailed
    struct stat st {};
    uint64_t size = 0;  // bytes of the file
    uint32_t crc = 0;   // CRC-32 of the file
    // The raw deflate stream in blocks of its own size, so that a file
    // being compressed never needs room for the worst case nor a copy.
    std::vector<std::vector<unsigned char>> blocks;
    uint64_t compressedSize = 0;
    // The stream in one piece (small files).
    std::vector<unsigned char> Joined() const;
};

class DeflatePool {
public:
    // Files larger than this are streamed by the writer instead.
    static constexpr uint64_t kMaxPooledSize = 32ull << 20;

    // stream[i] true: the writer streams file i itself (e.g. kept uncompressed).
    // A path that held (when given) holds is taken from there, not read.
    DeflatePool(std::vector<std::string> paths, std::vector<bool> stream, HeldFiles *held = nullptr);
    ~DeflatePool();
    DeflatePool(const DeflatePool &) = delete;
    DeflatePool &operator=(const DeflatePool &) = delete;

    // Waits for file index (taken in increasing order) and hands it over.
    DeflatedFile Take(size_t index);

private:
    void Work();
    void Compress(size_t index, DeflatedFile *out);
    void CompressHeld(std::string bytes, time_t when, DeflatedFile *out);

    std::vector<std::string> paths_;
    std::vector<bool> stream_;
    HeldFiles *held_;
    std::vector<DeflatedFile> results_;
    std::mutex m_;
    std::condition_variable ready_, room_;
    size_t next_ = 0;         // next file for a worker
    size_t taken_ = 0;        // files handed to the writer
    uint64_t heldBytes_ = 0;  // compressed bytes waiting for the writer
    bool stop_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace vtbox
