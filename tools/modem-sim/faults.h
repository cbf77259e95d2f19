#pragma once

#include <cstdint>
#include <optional>

#include "frame.h"

enum class Fault {
    None,
    Silent,  // no answer
    Nak,     // refuse the request
    Corrupt, // apply the request, answer with a broken check
    Hangup,  // close the line
    Flip,    // apply the request with one payload bit flipped, as a line that
             // damaged it under a recomputed frame check
};

struct FaultPlan {
    Fault kind = Fault::None;
    unsigned atFrame = 1;                   // the first request faulted, counting from 1
    std::optional<flash::FrameType> atType; // or: the first request of this type
    unsigned times = 0;                     // receptions faulted, 0 for no limit
    bool onlyAtType = false;                // fault requests of atType only
};

// Decides, reception by reception, which requests meet the planned fault.
// Repeats of a request (same sequence number) are one request but several
// receptions, so a limited fault lets the flasher's retry go through.
class FaultInjector final {
public:
    explicit FaultInjector(FaultPlan plan) : plan_(plan) {}

    Fault onRequest(const flash::Frame& request);

private:
    bool triggers(const flash::Frame& request) const;

    FaultPlan plan_;
    unsigned requests_ = 0;
    std::optional<uint16_t> lastSeq_;
    bool armed_ = false;
    unsigned faulted_ = 0;
};
