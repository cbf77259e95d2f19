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
    enum class Answer { Ack, Nak, Lost, LineDown };

    struct Reply {
        Answer answer = Answer::Lost;
        std::vector<uint8_t> payload; // the Ack's
        bool acked() const { return answer == Answer::Ack; }
    };

    // ackTimeout is the longest wait for one answer.
    Link(const _IDownloadEvent& events, std::chrono::milliseconds ackTimeout);

    bool open();
    void close();
    // Sends a request until the modem acknowledges it: again after each lost
    // answer while the waits last, and after a refusal up to three times in all.
    Reply request(FrameType type, std::vector<uint8_t> payload);

private:
    bool send(const std::vector<uint8_t>& bytes);
    std::vector<std::chrono::milliseconds> resendWaits(std::size_t frameSize) const;
    Answer awaitAnswer(uint16_t seq, std::chrono::milliseconds wait, std::vector<uint8_t>& payload);
    // False when the line has failed; true also when nothing came in time.
    bool receive(std::chrono::milliseconds wait);

    const _IDownloadEvent& events_;
    std::chrono::milliseconds ackTimeout_;
    int handle_ = -1;
    uint16_t nextSeq_ = 0;
    FrameDecoder decoder_;
};

} // namespace flash
