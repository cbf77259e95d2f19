#pragma once

#include <chrono>
#include <cstddef>
#include <functional>

namespace updateagent {

// Paces the reads of a transfer to a rate. While a read waits, the socket's
// small receive buffer fills and the sender must wait too, so the cap holds on
// the link. curl's own cap (7.88) lets a fast link through unpaced.
class RateCap final {
public:
    using Clock = std::chrono::steady_clock;

    // bytesPerSecond 0: no cap.
    explicit RateCap(long bytesPerSecond);

    // After bytes came: waits until they are due, in short steps that end early
    // once stop() is true. A link that was slow earns a quarter second's credit
    // at most.
    void pace(std::size_t bytes, const std::function<bool()>& stop);

private:
    long bytesPerSecond_;
    Clock::time_point due_;
};

} // namespace updateagent
