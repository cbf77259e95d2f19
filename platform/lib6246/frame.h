#pragma once

// The flashing protocol between lib6246 and the modem. Every frame is
//   A5 5A | type | sequence (16 bit) | length (16 bit) | payload | check (32 bit)
// with numbers little-endian and the check being the first four bytes of the
// SHA-256 of type, sequence, length and payload. The flasher sends one request at a
// time and repeats it, under the same sequence number, until the modem answers
// with Ack or Nak carrying that number.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

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
    AutorunOn = 0x0A, // the last request of a flash
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
