#include "RateCap.h"

#include <algorithm>
#include <thread>

namespace updateagent {

namespace {

constexpr std::chrono::milliseconds LongestCredit{250};
// A stop is noticed within this.
constexpr std::chrono::milliseconds LongestStep{50};

} // namespace

RateCap::RateCap(long bytesPerSecond) : bytesPerSecond_(bytesPerSecond), due_(Clock::now()) {}

void RateCap::pace(std::size_t bytes, const std::function<bool()>& stop)
{
    if (bytesPerSecond_ <= 0)
        return;
    const Clock::time_point now = Clock::now();
    const auto duration = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(bytes) / bytesPerSecond_));
    due_ = std::max(due_, now - LongestCredit) + duration;
    while (!stop()) {
        const Clock::duration left = due_ - Clock::now();
        if (left <= Clock::duration::zero())
            return;
        std::this_thread::sleep_for(std::min<Clock::duration>(left, LongestStep));
    }
}

} // namespace updateagent
