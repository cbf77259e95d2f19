#include "Md5Pipe.h"

#include <openssl/evp.h>

#include <algorithm>

namespace updateagent {

namespace {

// Large blocks keep the hand-overs rare; a few of them bound the memory in flight.
constexpr std::size_t BlockSize = std::size_t{1} << 20;
constexpr std::size_t BlockCount = 4;

} // namespace

Md5Pipe::Md5Pipe() : context_(EVP_MD_CTX_new())
{
    EVP_DigestInit_ex(context_, EVP_md5(), nullptr);
    filling_.reserve(BlockSize);
    spare_.resize(BlockCount - 1);
    for (Block& block : spare_)
        block.reserve(BlockSize);
    hasher_ = std::thread(&Md5Pipe::hashBlocks, this);
}

Md5Pipe::~Md5Pipe()
{
    close();
    EVP_MD_CTX_free(context_);
}

void Md5Pipe::feed(const char* data, std::size_t size)
{
    while (size > 0) {
        const std::size_t room = BlockSize - filling_.size();
        const std::size_t taken = std::min(room, size);
        filling_.insert(filling_.end(), data, data + taken);
        data += taken;
        size -= taken;
        if (filling_.size() == BlockSize)
            handOver();
    }
}

QByteArray Md5Pipe::finish()
{
    if (!filling_.empty())
        handOver();
    close();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context_, digest, &length);
    return QByteArray(reinterpret_cast<const char*>(digest), static_cast<int>(length)).toHex();
}

void Md5Pipe::handOver()
{
    std::unique_lock lock(mutex_);
    filled_.push_back(std::move(filling_));
    changed_.notify_all();
    changed_.wait(lock, [this] { return !spare_.empty(); });
    filling_ = std::move(spare_.back());
    spare_.pop_back();
}

void Md5Pipe::hashBlocks()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return closed_ || !filled_.empty(); });
        if (filled_.empty())
            return;
        Block block = std::move(filled_.front());
        filled_.pop_front();
        lock.unlock();
        EVP_DigestUpdate(context_, block.data(), block.size());
        block.clear();
        lock.lock();
        spare_.push_back(std::move(block));
        changed_.notify_all();
    }
}

void Md5Pipe::close()
{
    if (!hasher_.joinable())
        return;
    {
        const std::lock_guard lock(mutex_);
        closed_ = true;
    }
    changed_.notify_all();
    hasher_.join();
}

} // namespace updateagent
