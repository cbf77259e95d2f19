#pragma once

#include "Settings.h"

#include <chrono>
#include <optional>

namespace updateagent {

// When a package whose transfer failed is tried again. Pauses start at the first
// pause and double up to the longest; a try that brought new bytes starts them
// afresh. A file is given up after too many tries in a row without a new byte, or
// when the next try would start later than the total time after its first failure.
class RetrySchedule final {
public:
    using Clock = std::chrono::steady_clock;

    explicit RetrySchedule(const RetryLimits& limits);

    // The pause before the next try after a failed one, or nullopt to give up. A
    // server's Retry-After lengthens the pause, up to the longest pause.
    std::optional<std::chrono::milliseconds>
    next(bool progressed, std::optional<std::chrono::seconds> retryAfter, Clock::time_point now);

private:
    RetryLimits limits_;
    std::optional<Clock::time_point> firstFailure_;
    int triesWithoutProgress_ = 0;
    std::chrono::milliseconds pause_;
};

} // namespace updateagent
