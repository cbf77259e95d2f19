#pragma once

#include <QByteArray>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

struct evp_md_ctx_st;

namespace updateagent {

// MD5 of a stream, computed as the bytes arrive on a thread of its own, so that
// hashing runs beside the transfer instead of after it or in its way.
class Md5Pipe final {
public:
    Md5Pipe();
    ~Md5Pipe();
    Md5Pipe(const Md5Pipe&) = delete;
    Md5Pipe& operator=(const Md5Pipe&) = delete;

    void feed(const char* data, std::size_t size);
    // Lower-case hex digest of everything fed; the pipe takes no more bytes after it.
    QByteArray finish();

private:
    using Block = std::vector<char>;

    void handOver();
    void hashBlocks();
    void close();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Block> filled_;
    std::vector<Block> spare_;
    Block filling_;
    bool closed_ = false;
    evp_md_ctx_st* context_;
    std::thread hasher_;
};

} // namespace updateagent
