#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <utility>

namespace updateagent {

// Tells a link that still trickles from one that moves: a transfer is stalled
// once fewer than the least bytes came over the last window. The window slides,
// so a link that stops is noticed one window after its last byte, wherever in
// a window that fell.
class StallWatch final {
public:
    using Clock = std::chrono::steady_clock;

    StallWatch(std::chrono::seconds window, std::int64_t leastBytes, Clock::time_point start);

    void arrived(std::int64_t bytes) { total_ += bytes; }
    // Called at least once a second.
    bool stalled(Clock::time_point now);
    std::chrono::seconds window() const { return window_; }
    std::int64_t leastBytes() const { return leastBytes_; }

private:
    static constexpr int SamplesPerWindow = 30;

    std::chrono::seconds window_;
    std::int64_t leastBytes_;
    std::int64_t total_ = 0;
    // The running total as it stood at earlier calls, oldest first; the first
    // lies at or before the window's start once a window has passed.
    std::deque<std::pair<Clock::time_point, std::int64_t>> samples_;
};

} // namespace updateagent
