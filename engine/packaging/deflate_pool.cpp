#include "packaging/deflate_pool.hpp"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>

namespace vtbox {

namespace {
constexpr size_t kWindow = 16;                   // files ahead of the writer
constexpr uint64_t kMaxHeldBytes = 96ull << 20;  // compressed bytes ahead of the writer
constexpr int kDefaultMemLevel = 8;

struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};
}  // namespace

DeflatePool::DeflatePool(std::vector<std::string> paths, std::vector<bool> stream)
    : paths_(std::move(paths)), stream_(std::move(stream)), results_(paths_.size()) {
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
    heldBytes_ -= std::min<uint64_t>(heldBytes_, out.data.size());
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
                return stop_ || next_ >= paths_.size() ||
                       (next_ < taken_ + kWindow && heldBytes_ < kMaxHeldBytes);
            });
            if (stop_ || next_ >= paths_.size()) return;
            index = next_++;
        }
        DeflatedFile result;
        if (stream_[index]) result.state = DeflatedFile::State::Stream;
        else Compress(index, &result);
        {
            std::lock_guard<std::mutex> g(m_);
            heldBytes_ += result.data.size();
            results_[index] = std::move(result);
        }
        ready_.notify_all();
    }
}

void DeflatePool::Compress(size_t index, DeflatedFile *out) {
    Fd fd{::open(paths_[index].c_str(), O_RDONLY | O_CLOEXEC)};
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
    std::vector<unsigned char> input(static_cast<size_t>(out->st.st_size));
    size_t got = 0;
    while (got < input.size()) {
        ssize_t n = ::read(fd.fd, input.data() + got, input.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            out->state = DeflatedFile::State::ReadFailed;
            out->error = errno;
            return;
        }
        if (n == 0) break;  // the file shrank meanwhile: take what is there
        got += static_cast<size_t>(n);
    }
    input.resize(got);
    out->size = got;
    out->crc = static_cast<uint32_t>(crc32(0L, input.data(), static_cast<uInt>(got)));

    // The same raw deflate stream the zip layer would write itself.
    z_stream zs{};
    if (deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, kDefaultMemLevel, Z_DEFAULT_STRATEGY) != Z_OK) {
        out->state = DeflatedFile::State::ReadFailed;
        out->error = ENOMEM;
        return;
    }
    out->data.resize(deflateBound(&zs, static_cast<uLong>(got)));
    zs.next_in = input.data();
    zs.avail_in = static_cast<uInt>(got);
    zs.next_out = out->data.data();
    zs.avail_out = static_cast<uInt>(out->data.size());
    int rc = deflate(&zs, Z_FINISH);
    out->data.resize(zs.total_out);
    // What the window holds is what it counts: a page that compresses well
    // must not keep the whole worst-case buffer while it waits for the writer.
    out->data.shrink_to_fit();
    deflateEnd(&zs);
    if (rc != Z_STREAM_END) {
        out->state = DeflatedFile::State::ReadFailed;
        out->error = ENOMEM;
        out->data.clear();
        return;
    }
    out->state = DeflatedFile::State::Done;
}

}  // namespace vtbox
