#include "faults.h"

Fault FaultInjector::onRequest(const flash::Frame& request)
{
    if (lastSeq_ != request.seq) {
        ++requests_;
        lastSeq_ = request.seq;
    }
    armed_ = armed_ || triggers(request);
    const bool spared = plan_.onlyAtType && request.type != plan_.atType;
    if (!armed_ || spared || (plan_.times != 0 && faulted_ >= plan_.times))
        return Fault::None;
    ++faulted_;
    return plan_.kind;
}

bool FaultInjector::triggers(const flash::Frame& request) const
{
    if (plan_.kind == Fault::None)
        return false;
    return plan_.atType ? request.type == *plan_.atType : requests_ >= plan_.atFrame;
}
