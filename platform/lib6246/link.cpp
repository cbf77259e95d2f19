#include "link.h"

#include <algorithm>
#include <array>

namespace flash {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Long enough for a whole frame to leave even a slow line.
constexpr milliseconds kSendTimeout{2000};
// The modem's line: 115200 baud, ten bits to a byte.
constexpr std::size_t kLineBytesPerSecond = 11520;
// How long the modem takes to look at a request and start its answer.
constexpr milliseconds kTurnaround{50};
// A request is given up once its waits add up to this many longest waits.
constexpr int kPatience = 3;
constexpr int kMostRefusals = 3;

milliseconds timeOnLine(std::size_t bytes)
{
    return milliseconds(bytes * 1000 / kLineBytesPerSecond);
}

} // namespace

Link::Link(const _IDownloadEvent& events, milliseconds ackTimeout)
    : events_(events), ackTimeout_(ackTimeout)
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

Link::Reply Link::request(FrameType type, std::vector<uint8_t> payload)
{
    // A new number also after a request that went unanswered: the modem may
    // have applied it and would take the next one for a repeat.
    const uint16_t seq = nextSeq_++;
    const auto bytes = encodeFrame(Frame{type, seq, std::move(payload)});
    Reply reply;
    int refusals = 0;
    for (const milliseconds wait : resendWaits(bytes.size())) {
        if (!send(bytes))
            return Reply{Answer::LineDown, {}};
        reply.answer = awaitAnswer(seq, wait, reply.payload);
        const bool refusedForGood = reply.answer == Answer::Nak && ++refusals == kMostRefusals;
        if (reply.acked() || reply.answer == Answer::LineDown || refusedForGood)
            break;
    }
    return reply;
}

// A damaged frame is answered by nothing, so the first wait is short: the
// frame's time on the line and the modem's turnaround. It doubles with every
// try, up to the longest wait, so a slow modem still gets its time in all.
std::vector<milliseconds> Link::resendWaits(std::size_t frameSize) const
{
    const milliseconds first = kTurnaround + timeOnLine(frameSize);
    const milliseconds longest = std::max(ackTimeout_, first);
    std::vector<milliseconds> waits;
    for (milliseconds wait = first, left = kPatience * longest; left.count() > 0; wait *= 2) {
        waits.push_back(std::min({wait, longest, left}));
        left -= waits.back();
    }
    return waits;
}

bool Link::send(const std::vector<uint8_t>& bytes)
{
    _SEND_DATA_INFO info{bytes.data(), static_cast<int>(bytes.size()),
                         static_cast<int>(kSendTimeout.count()), 0};
    return events_.sendData(&info) == static_cast<int>(bytes.size());
}

Link::Answer Link::awaitAnswer(uint16_t seq, milliseconds wait, std::vector<uint8_t>& payload)
{
    const auto deadline = Clock::now() + wait;
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
        const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return Answer::Lost;
        if (!receive(left))
            return Answer::LineDown;
    }
}

bool Link::receive(milliseconds wait)
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
