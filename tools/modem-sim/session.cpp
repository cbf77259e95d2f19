#include "session.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <string>

#include <poll.h>
#include <unistd.h>

#include "requests.h"

using flash::Frame;
using flash::FrameType;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How often to look again for a flasher while none has the line open.
constexpr milliseconds kHangupPause{50};
constexpr milliseconds kSendTimeout{2000};

timespec toTimespec(milliseconds duration)
{
    const auto count = std::max<milliseconds::rep>(duration.count(), 0);
    return timespec{static_cast<time_t>(count / 1000), static_cast<long>(count % 1000) * 1000000};
}

Frame withBitFlipped(Frame request)
{
    if (!request.payload.empty())
        request.payload[request.payload.size() / 2] ^= 0x10;
    return request;
}

Frame injectedNak(uint16_t seq)
{
    const std::string reason = "injected fault";
    return Frame{FrameType::Nak, seq, std::vector<uint8_t>(reason.begin(), reason.end())};
}

} // namespace

Session::Session(int master, Modem& modem, FaultInjector& faults, SessionConfig config)
    : master_(master), modem_(modem), faults_(faults), config_(config)
{
}

Outcome Session::run(const volatile std::sig_atomic_t& stop, const sigset_t& waitMask)
{
    auto lastTraffic = Clock::now();
    bool flasherSeen = false;
    while (!stop) {
        const auto limit = modem_.finished() ? config_.grace : config_.idleTimeout;
        const auto left = std::chrono::ceil<milliseconds>(lastTraffic + limit - Clock::now());
        if (left.count() <= 0)
            return modem_.finished() ? Outcome::Complete : Outcome::Idle;
        switch (waitForInput(left, waitMask)) {
        case Wait::Input:
            flasherSeen = true;
            if (!readInput())
                return lineClosed();
            lastTraffic = Clock::now();
            if (const auto outcome = serveFrames())
                return *outcome;
            break;
        case Wait::Timeout:
            // A terminal whose slave nobody holds reports a hang-up at once.
            flasherSeen = true;
            break;
        case Wait::Hangup:
            if (flasherSeen)
                return lineClosed();
            break;
        case Wait::Interrupted:
            break;
        case Wait::Error:
            return Outcome::Failed;
        }
    }
    return Outcome::Stopped;
}

Session::Wait Session::waitForInput(milliseconds limit, const sigset_t& waitMask)
{
    pollfd watched{master_, POLLIN, 0};
    const timespec wait = toTimespec(limit);
    const int ready = ppoll(&watched, 1, &wait, &waitMask);
    if (ready < 0)
        return errno == EINTR ? Wait::Interrupted : Wait::Error;
    if (ready == 0)
        return Wait::Timeout;
    if (watched.revents & POLLIN)
        return Wait::Input;
    if (!(watched.revents & POLLHUP))
        return Wait::Error;
    const timespec pause = toTimespec(std::min(kHangupPause, limit));
    ppoll(nullptr, 0, &pause, &waitMask);
    return Wait::Hangup;
}

bool Session::readInput()
{
    std::array<uint8_t, 4096> chunk{};
    const ssize_t got = read(master_, chunk.data(), chunk.size());
    if (got > 0)
        decoder_.feed(std::span<const uint8_t>(chunk.data(), static_cast<std::size_t>(got)));
    return got > 0 || (got < 0 && (errno == EAGAIN || errno == EINTR));
}

std::optional<Outcome> Session::serveFrames()
{
    Frame request;
    for (;;) {
        switch (decoder_.next(request)) {
        case flash::FrameDecoder::Result::NeedMore:
            return std::nullopt;
        case flash::FrameDecoder::Result::Corrupt:
            // Its sequence number cannot be trusted; the flasher's retry will come.
            std::fprintf(stderr, "modem-sim: damaged frame dropped\n");
            break;
        case flash::FrameDecoder::Result::Frame:
            if (const auto outcome = serve(request))
                return outcome;
            break;
        }
    }
}

std::optional<Outcome> Session::serve(const Frame& request)
{
    log("<-", request);
    const Fault fault = faults_.onRequest(request);
    if (fault == Fault::Hangup)
        return Outcome::Severed;
    if (fault == Fault::Silent)
        return std::nullopt;
    const Frame answer = fault == Fault::Nak    ? injectedNak(request.seq)
                         : fault == Fault::Flip ? modem_.answer(withBitFlipped(request))
                                                : modem_.answer(request);
    log("->", answer);
    if (!send(answer, fault == Fault::Corrupt))
        return lineClosed();
    return std::nullopt;
}

bool Session::send(const Frame& answer, bool corrupt)
{
    auto bytes = flash::encodeFrame(answer);
    if (corrupt)
        bytes.back() ^= 0xFF;
    const auto deadline = Clock::now() + kSendTimeout;
    for (std::span<const uint8_t> left(bytes); !left.empty();) {
        const ssize_t put = write(master_, left.data(), left.size());
        if (put > 0) {
            left = left.subspan(static_cast<std::size_t>(put));
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd watched{master_, POLLOUT, 0};
        const auto wait = std::chrono::ceil<milliseconds>(deadline - Clock::now());
        if (wait.count() <= 0 || poll(&watched, 1, static_cast<int>(wait.count())) < 0)
            return false;
    }
    return true;
}

void Session::log(const char* direction, const Frame& frame) const
{
    const bool refusal = frame.type == FrameType::Nak;
    if (!config_.verbose && !refusal)
        return;
    const std::string detail = refusal ? std::string(frame.payload.begin(), frame.payload.end())
                                       : std::to_string(frame.payload.size()) + " bytes";
    std::fprintf(stderr, "modem-sim: %s %.*s #%u: %s\n", direction,
                 static_cast<int>(frameTypeName(frame.type).size()),
                 frameTypeName(frame.type).data(), static_cast<unsigned>(frame.seq),
                 detail.c_str());
}

Outcome Session::lineClosed() const
{
    return modem_.finished() ? Outcome::Complete : Outcome::HungUp;
}
