#include "StallWatch.h"

namespace updateagent {

StallWatch::StallWatch(std::chrono::seconds window, std::int64_t leastBytes,
                       Clock::time_point start)
    : window_(window), leastBytes_(leastBytes), samples_{{start, 0}}
{
}

bool StallWatch::stalled(Clock::time_point now)
{
    const Clock::time_point windowStart = now - window_;
    while (samples_.size() > 1 && samples_[1].first <= windowStart)
        samples_.pop_front();
    // Thirty samples a window are precise enough and keep them few.
    if ((now - samples_.back().first) * SamplesPerWindow >= window_)
        samples_.emplace_back(now, total_);
    const auto& [since, totalThen] = samples_.front();
    return since <= windowStart && total_ - totalThen < leastBytes_;
}

} // namespace updateagent
