#include "RetryPolicy.h"

#include <algorithm>

namespace updateagent {

RetrySchedule::RetrySchedule(const RetryLimits& limits) : limits_(limits), pause_(limits.firstPause)
{
}

std::optional<std::chrono::milliseconds>
RetrySchedule::next(bool progressed, std::optional<std::chrono::seconds> retryAfter,
                    Clock::time_point now)
{
    if (!firstFailure_)
        firstFailure_ = now;
    if (progressed) {
        triesWithoutProgress_ = 0;
        pause_ = limits_.firstPause;
    }
    if (++triesWithoutProgress_ > limits_.tries)
        return std::nullopt;
    std::chrono::milliseconds pause = std::min(pause_, limits_.longestPause);
    if (retryAfter)
        pause =
            std::max(pause, std::min<std::chrono::milliseconds>(*retryAfter, limits_.longestPause));
    if (now + pause - *firstFailure_ > limits_.totalTime)
        return std::nullopt;
    pause_ = std::min(pause_ * 2, limits_.longestPause);
    return pause;
}

} // namespace updateagent
