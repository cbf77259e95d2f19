#pragma once

// The flashing protocol between lib6246 and the modem. Every frame is
//   A5 5A | type | sequence (16 bit) | length (16 bit) | payload | check (32 bit)
// with numbers little-endian and the check being the first four bytes of the
// SHA-256 of type, sequence, length and payload. The flasher sends one request at a
// time and repeats it, under the same sequence number, until the modem answers
// with Ack or Nak carrying that number.
//
// The modem keeps the files of a flash aside and takes them as its new image
// only on Commit, when the digest of everything it received matches the digest
// the flasher sends; until then, and whenever a flash breaks, it keeps its old
// image whole.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct evp_md_ctx_st; // OpenSSL's EVP_MD_CTX

namespace flash {

enum class FrameType : uint8_t {
    Hello = 0x01,
    AutorunOff = 0x02,
    NvBackup = 0x03, // the Ack carries the modem's NV items
    SwitchDownload = 0x04,
    FileBegin = 0x05, // payload: size (64 bit), then the relative file name
    FileData = 0x06,
    FileEnd = 0x07,
    NvRestore = 0x08, // payload: the NV items of NvBackup
    CloseDownload = 0x09,
    Commit = 0x0A,     // payload: the image digest; the last request of a flash
    ImageQuery = 0x0B, // the Ack carries the digest of the image the modem holds
    Ack = 0x80,
    Nak = 0x81, // payload: the reason, as text
};

inline constexpr std::size_t kMaxPayload = 8192;
inline constexpr std::size_t kDataChunk = 4096;
inline constexpr std::size_t kMaxNameLength = kMaxPayload - sizeof(uint64_t);

struct Frame {
    FrameType type = FrameType::Nak;
    uint16_t seq = 0;
    std::vector<uint8_t> payload;
};

std::vector<uint8_t> encodeFrame(const Frame& frame);

struct FileHeader {
    uint64_t size = 0;
    std::string name;
};

std::vector<uint8_t> encodeFileHeader(const FileHeader& header);
std::optional<FileHeader> decodeFileHeader(std::span<const uint8_t> payload);

// The SHA-256 of a whole image as the flash carries it: every file's name and
// size, then its bytes, in the order sent. Both ends compute it.
class ImageDigest final {
public:
    ImageDigest();

    void addFile(const FileHeader& header);
    void addData(std::span<const uint8_t> bytes);
    // The digest of what was added so far; more may be added afterwards.
    std::vector<uint8_t> value() const;

private:
    struct Free {
        void operator()(::evp_md_ctx_st* context) const;
    };
    std::unique_ptr<::evp_md_ctx_st, Free> context_;
};

// Cuts the bytes of a line into frames, skipping noise before a frame start.
class FrameDecoder final {
public:
    enum class Result { NeedMore, Frame, Corrupt };

    void feed(std::span<const uint8_t> bytes);
    // Corrupt: a frame start whose frame is damaged; it is dropped.
    Result next(Frame& frame);
    void clear() { buffer_.clear(); }

private:
    void skipToFrameStart();

    std::vector<uint8_t> buffer_;
};

} // namespace flash
