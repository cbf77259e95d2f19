#pragma once

#include <chrono>
#include <optional>
#include <vector>

#include "frame.h"
#include "lib6246.h"

namespace flash {

// Request and answer over the serial functions the caller handed in.
class Link final {
public:
    Link(const _IDownloadEvent& events, std::chrono::milliseconds ackTimeout, int tries);

    bool open();
    void close();
    // Sends a request until the modem acknowledges it, at most `tries` times;
    // the acknowledgement's payload, or nothing when the modem never did.
    std::optional<std::vector<uint8_t>> request(FrameType type, std::vector<uint8_t> payload);

private:
    enum class Answer { Ack, Nak, Lost, LineDown };

    bool send(const std::vector<uint8_t>& bytes);
    Answer awaitAnswer(uint16_t seq, std::vector<uint8_t>& payload);
    // False when the line has failed; true also when nothing came in time.
    bool receive(std::chrono::milliseconds wait);

    const _IDownloadEvent& events_;
    std::chrono::milliseconds ackTimeout_;
    int tries_;
    int handle_ = -1;
    uint16_t nextSeq_ = 0;
    FrameDecoder decoder_;
};

} // namespace flash
