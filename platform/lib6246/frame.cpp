#include "frame.h"

#include <algorithm>
#include <array>

#include <openssl/evp.h>

namespace flash {
namespace {

constexpr std::array<uint8_t, 2> kMagic = {0xA5, 0x5A};
constexpr std::size_t kTypeOffset = kMagic.size();
constexpr std::size_t kSeqOffset = kTypeOffset + 1;
constexpr std::size_t kLengthOffset = kSeqOffset + 2;
constexpr std::size_t kHeaderSize = kLengthOffset + 2;
constexpr std::size_t kCheckSize = 4;
constexpr std::size_t kSizeField = 8;

void appendLe(std::vector<uint8_t>& out, uint64_t value, std::size_t bytes)
{
    for (std::size_t i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint64_t readLe(const uint8_t* in, std::size_t bytes)
{
    uint64_t value = 0;
    for (std::size_t i = 0; i < bytes; ++i)
        value |= static_cast<uint64_t>(in[i]) << (8 * i);
    return value;
}

std::array<uint8_t, kCheckSize> checkOf(const uint8_t* data, std::size_t size)
{
    std::array<uint8_t, EVP_MAX_MD_SIZE> digest{};
    unsigned int digestSize = 0;
    EVP_Digest(data, size, digest.data(), &digestSize, EVP_sha256(), nullptr);
    std::array<uint8_t, kCheckSize> check{};
    std::copy_n(digest.begin(), kCheckSize, check.begin());
    return check;
}

// Whether the complete frame at the start of buffer matches its check.
bool intact(const std::vector<uint8_t>& buffer, std::size_t length)
{
    const auto check = checkOf(buffer.data() + kTypeOffset, kHeaderSize - kTypeOffset + length);
    return std::equal(check.begin(), check.end(), buffer.begin() + kHeaderSize + length);
}

} // namespace

std::vector<uint8_t> encodeFrame(const Frame& frame)
{
    std::vector<uint8_t> out(kMagic.begin(), kMagic.end());
    out.push_back(static_cast<uint8_t>(frame.type));
    appendLe(out, frame.seq, 2);
    appendLe(out, frame.payload.size(), 2);
    out.insert(out.end(), frame.payload.begin(), frame.payload.end());
    const auto check = checkOf(out.data() + kTypeOffset, out.size() - kTypeOffset);
    out.insert(out.end(), check.begin(), check.end());
    return out;
}

std::vector<uint8_t> encodeFileHeader(const FileHeader& header)
{
    std::vector<uint8_t> out;
    appendLe(out, header.size, kSizeField);
    out.insert(out.end(), header.name.begin(), header.name.end());
    return out;
}

std::optional<FileHeader> decodeFileHeader(std::span<const uint8_t> payload)
{
    if (payload.size() < kSizeField)
        return std::nullopt;
    FileHeader header;
    header.size = readLe(payload.data(), kSizeField);
    header.name.assign(payload.begin() + kSizeField, payload.end());
    return header;
}

ImageDigest::ImageDigest() : context_(EVP_MD_CTX_new())
{
    EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr);
}

void ImageDigest::Free::operator()(EVP_MD_CTX* context) const
{
    EVP_MD_CTX_free(context);
}

void ImageDigest::addFile(const FileHeader& header)
{
    // The name's length first, so that no name can pass for another's tail.
    std::vector<uint8_t> length;
    appendLe(length, header.name.size(), 4);
    addData(length);
    addData({reinterpret_cast<const uint8_t*>(header.name.data()), header.name.size()});
    std::vector<uint8_t> size;
    appendLe(size, header.size, kSizeField);
    addData(size);
}

void ImageDigest::addData(std::span<const uint8_t> bytes)
{
    EVP_DigestUpdate(context_.get(), bytes.data(), bytes.size());
}

std::vector<uint8_t> ImageDigest::value() const
{
    const std::unique_ptr<EVP_MD_CTX, Free> copy(EVP_MD_CTX_new());
    std::vector<uint8_t> digest(EVP_MAX_MD_SIZE);
    unsigned int size = 0;
    EVP_MD_CTX_copy_ex(copy.get(), context_.get());
    EVP_DigestFinal_ex(copy.get(), digest.data(), &size);
    digest.resize(size);
    return digest;
}

void FrameDecoder::feed(std::span<const uint8_t> bytes)
{
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

void FrameDecoder::skipToFrameStart()
{
    auto start = std::search(buffer_.begin(), buffer_.end(), kMagic.begin(), kMagic.end());
    // A lone first magic byte at the end may begin the next frame.
    if (start == buffer_.end() && !buffer_.empty() && buffer_.back() == kMagic.front())
        start = buffer_.end() - 1;
    buffer_.erase(buffer_.begin(), start);
}

FrameDecoder::Result FrameDecoder::next(Frame& frame)
{
    skipToFrameStart();
    if (buffer_.size() < kHeaderSize)
        return Result::NeedMore;
    const std::size_t length = readLe(buffer_.data() + kLengthOffset, 2);
    const std::size_t total = kHeaderSize + length + kCheckSize;
    const bool oversized = length > kMaxPayload;
    if (!oversized && buffer_.size() < total)
        return Result::NeedMore;
    if (oversized || !intact(buffer_, length)) {
        // Resynchronise after the damaged frame's start.
        buffer_.erase(buffer_.begin());
        return Result::Corrupt;
    }
    frame.type = static_cast<FrameType>(buffer_[kTypeOffset]);
    frame.seq = static_cast<uint16_t>(readLe(buffer_.data() + kSeqOffset, 2));
    frame.payload.assign(buffer_.begin() + kHeaderSize, buffer_.begin() + kHeaderSize + length);
    buffer_.erase(buffer_.begin(), buffer_.begin() + total);
    return Result::Frame;
}

} // namespace flash
