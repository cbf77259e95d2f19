#include "ProgressReporter.h"

#include <algorithm>
#include <utility>

namespace updateagent {

namespace {

// 100 means done, so a transfer that has all its bytes but is not yet checked stays below.
constexpr int LastPercentBeforeDone = 99;

} // namespace

ProgressReporter::ProgressReporter(Report report) : report_(std::move(report)) {}

void ProgressReporter::start()
{
    reportIfNew(0);
}

void ProgressReporter::update(qint64 received, qint64 total)
{
    if (total <= 0 || last_ < 0)
        return;
    const double fraction = static_cast<double>(received) / static_cast<double>(total);
    reportIfNew(std::min(LastPercentBeforeDone, static_cast<int>(fraction * 100.0)));
}

void ProgressReporter::finish()
{
    start();
    reportIfNew(100);
}

void ProgressReporter::reportIfNew(int percent)
{
    if (percent <= last_)
        return;
    last_ = percent;
    report_(percent);
}

} // namespace updateagent
