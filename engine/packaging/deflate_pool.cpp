#include "packaging/deflate_pool.hpp"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "localfiles/held_files.hpp"

namespace vtbox {

namespace {
constexpr size_t kWindow = 16;                   // files ahead of the writer
constexpr uint64_t kMaxHeldBytes = 96ull << 20;  // compressed bytes ahead of the writer
constexpr int kDefaultMemLevel = 8;
constexpr size_t kBlock = 256 * 1024;  // read and output blocks

struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};
}  // namespace

std::vector<unsigned char> DeflatedFile::Joined() const {
    std::vector<unsigned char> out;
    out.reserve(static_cast<size_t>(compressedSize));
    for (const auto &b : blocks) out.insert(out.end(), b.begin(), b.end());
    return out;
}

DeflatePool::DeflatePool(std::vector<std::string> paths, std::vector<bool> stream, HeldFiles *held)
    : paths_(std::move(paths)), stream_(std::move(stream)), held_(held), results_(paths_.size()) {
    unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    unsigned threads = std::min({cores, 4u, static_cast<unsigned>(paths_.size())});
    for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
}

DeflatePool::~DeflatePool() {
    {
        std::lock_guard<std::mutex> g(m_);
        stop_ = true;
    }
    room_.notify_all();
    for (auto &t : workers_) t.join();
}

DeflatedFile DeflatePool::Take(size_t index) {
    std::unique_lock<std::mutex> lk(m_);
    ready_.wait(lk, [&] { return results_[index].state != DeflatedFile::State::Pending; });
    DeflatedFile out = std::move(results_[index]);
    heldBytes_ -= std::min<uint64_t>(heldBytes_, out.compressedSize);
    taken_ = index + 1;
    lk.unlock();
    room_.notify_all();
    return out;
}

void DeflatePool::Work() {
    for (;;) {
        size_t index;
        {
            std::unique_lock<std::mutex> lk(m_);
            room_.wait(lk, [&] {
                return stop_ || next_ >= paths_.size() || (next_ < taken_ + kWindow && heldBytes_ < kMaxHeldBytes);
            });
            if (stop_ || next_ >= paths_.size()) return;
            index = next_++;
        }
        DeflatedFile result;
        if (stream_[index])
            result.state = DeflatedFile::State::Stream;
        else
            Compress(index, &result);
        {
            std::lock_guard<std::mutex> g(m_);
            heldBytes_ += result.compressedSize;
            results_[index] = std::move(result);
        }
        ready_.notify_all();
    }
}

namespace {

// Deflates expected bytes that read gives (a count, 0 at the end, -1 with
// errno on failure) into out's blocks, with their size and CRC.
template <typename Read>
void Deflate(uint64_t expected, Read read, DeflatedFile *out) {
    // The same raw deflate stream the zip layer would write itself, made a
    // block at a time: a thread holds one block of the file and the
    // compressed bytes so far, not the file and its worst-case output.
    z_stream zs{};
    if (deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, kDefaultMemLevel, Z_DEFAULT_STRATEGY) !=
        Z_OK) {
        out->state = DeflatedFile::State::ReadFailed;
        out->error = ENOMEM;
        return;
    }
    std::vector<unsigned char> input(static_cast<size_t>(std::min<uint64_t>(std::max<uint64_t>(expected, 1), kBlock)));
    uLong crc = crc32(0L, Z_NULL, 0);
    uint64_t got = 0;
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        size_t n = 0;
        if (got < expected) {
            ssize_t r = read(input.data(), static_cast<size_t>(std::min<uint64_t>(input.size(), expected - got)));
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) {
                out->state = DeflatedFile::State::ReadFailed;
                out->error = errno;
                deflateEnd(&zs);
                out->blocks.clear();
                return;
            }
            n = static_cast<size_t>(r);
        }
        // A file that shrank meanwhile: what is there is taken.
        const int flush = (n == 0 || got + n >= expected) ? Z_FINISH : Z_NO_FLUSH;
        got += n;
        crc = crc32(crc, input.data(), static_cast<uInt>(n));
        zs.next_in = input.data();
        zs.avail_in = static_cast<uInt>(n);
        do {
            if (out->blocks.empty() || zs.avail_out == 0) {
                // The first block fits a small file's whole stream.
                size_t size = out->blocks.empty()
                                  ? std::min<size_t>(kBlock, deflateBound(&zs, static_cast<uLong>(expected)))
                                  : kBlock;
                out->blocks.emplace_back(size);
                zs.next_out = out->blocks.back().data();
                zs.avail_out = static_cast<uInt>(size);
            }
            rc = deflate(&zs, flush);
            if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) break;
        } while (zs.avail_out == 0 && rc != Z_STREAM_END);
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) break;
        if (flush != Z_FINISH && zs.avail_in != 0) break;  // deflate left input behind: never expected
    }
    out->size = got;
    out->crc = static_cast<uint32_t>(crc);
    out->compressedSize = zs.total_out;
    deflateEnd(&zs);
    if (rc != Z_STREAM_END) {
        out->state = DeflatedFile::State::ReadFailed;
        out->error = ENOMEM;
        out->blocks.clear();
        return;
    }
    // What the window holds is what it counts: the last block keeps only
    // the bytes it took.
    auto &last = out->blocks.back();
    last.resize(last.size() - zs.avail_out);
    last.shrink_to_fit();
    out->state = DeflatedFile::State::Done;
}

}  // namespace

void DeflatePool::Compress(size_t index, DeflatedFile *out) {
    if (held_) {
        std::string bytes;
        time_t when = 0;
        if (held_->Take(paths_[index], &bytes, &when)) {
            const size_t size = bytes.size();
            CompressHeld(std::move(bytes), when, out);
            held_->Release(size);
            return;
        }
    }
    // Not blocking: a FIFO is handed to the writer, which leaves it out.
    Fd fd{::open(paths_[index].c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    if (fd.fd < 0 || fstat(fd.fd, &out->st) != 0) {
        out->state = DeflatedFile::State::Unreadable;
        out->error = errno;
        return;
    }
    if (!S_ISREG(out->st.st_mode) || static_cast<uint64_t>(out->st.st_size) > kMaxPooledSize) {
        // Not for the pool: the writer looks at it itself.
        out->state = DeflatedFile::State::Stream;
        return;
    }
    Deflate(
        static_cast<uint64_t>(out->st.st_size),
        [&](unsigned char *buffer, size_t size) { return ::read(fd.fd, buffer, size); }, out);
}

// A held file is packed as the file it stands for would be: a plain file
// that this process made (mode 0644, as a download is), last written when it
// came in.
void DeflatePool::CompressHeld(std::string bytes, time_t when, DeflatedFile *out) {
    out->st = {};
    out->st.st_mode = S_IFREG | 0644;
    out->st.st_size = static_cast<off_t>(bytes.size());
    out->st.st_mtime = when;
    size_t at = 0;
    Deflate(
        bytes.size(),
        [&](unsigned char *buffer, size_t size) {
            const size_t n = std::min(size, bytes.size() - at);
            std::memcpy(buffer, bytes.data() + at, n);
            at += n;
            return static_cast<ssize_t>(n);
        },
        out);
}

}  // namespace vtbox
