#include "link.h"

#include <array>

namespace flash {
namespace {

using Clock = std::chrono::steady_clock;

// Long enough for a whole frame to leave even a slow line.
constexpr std::chrono::milliseconds kSendTimeout{2000};

} // namespace

Link::Link(const _IDownloadEvent& events, std::chrono::milliseconds ackTimeout, int tries)
    : events_(events), ackTimeout_(ackTimeout), tries_(tries)
{
}

bool Link::open()
{
    if (!events_.open || !events_.close || !events_.readData || !events_.sendData)
        return false;
    handle_ = events_.open();
    return handle_ >= 0;
}

void Link::close()
{
    if (handle_ >= 0)
        events_.close(handle_);
    handle_ = -1;
}

std::optional<std::vector<uint8_t>> Link::request(FrameType type, std::vector<uint8_t> payload)
{
    const uint16_t seq = nextSeq_;
    const auto bytes = encodeFrame(Frame{type, seq, std::move(payload)});
    std::vector<uint8_t> answer;
    for (int attempt = 0; attempt < tries_; ++attempt) {
        if (!send(bytes))
            return std::nullopt;
        switch (awaitAnswer(seq, answer)) {
        case Answer::Ack:
            ++nextSeq_;
            return answer;
        case Answer::LineDown:
            return std::nullopt;
        case Answer::Nak:
        case Answer::Lost:
            break;
        }
    }
    return std::nullopt;
}

bool Link::send(const std::vector<uint8_t>& bytes)
{
    _SEND_DATA_INFO info{bytes.data(), static_cast<int>(bytes.size()),
                         static_cast<int>(kSendTimeout.count()), 0};
    return events_.sendData(&info) == static_cast<int>(bytes.size());
}

Link::Answer Link::awaitAnswer(uint16_t seq, std::vector<uint8_t>& payload)
{
    const auto deadline = Clock::now() + ackTimeout_;
    Frame frame;
    for (;;) {
        switch (decoder_.next(frame)) {
        case FrameDecoder::Result::Corrupt:
            return Answer::Lost;
        case FrameDecoder::Result::Frame:
            // Answers to earlier tries of a request may still arrive; only this one counts.
            if (frame.seq != seq || (frame.type != FrameType::Ack && frame.type != FrameType::Nak))
                continue;
            payload = std::move(frame.payload);
            return frame.type == FrameType::Ack ? Answer::Ack : Answer::Nak;
        case FrameDecoder::Result::NeedMore:
            break;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return Answer::Lost;
        if (!receive(left))
            return Answer::LineDown;
    }
}

bool Link::receive(std::chrono::milliseconds wait)
{
    std::array<uint8_t, 512> chunk{};
    _READ_DATA_INFO info{chunk.data(), static_cast<int>(chunk.size()),
                         static_cast<int>(wait.count()), 0};
    const int got = events_.readData(&info);
    if (got < 0)
        return false;
    decoder_.feed(std::span<const uint8_t>(chunk.data(), static_cast<std::size_t>(got)));
    return true;
}

} // namespace flash
