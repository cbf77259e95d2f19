#pragma once

#include <chrono>
#include <csignal>
#include <optional>

#include "faults.h"
#include "frame.h"
#include "modem.h"

enum class Outcome {
    Complete, // the flash ran through
    HungUp,   // the flasher closed the line before the end
    Idle,     // no traffic for the idle time-out
    Stopped,  // a signal asked to end
    Severed,  // the planned hang-up
    Failed,   // the terminal failed
};

struct SessionConfig {
    std::chrono::milliseconds idleTimeout{60000};
    // After the last request, how long the flasher may keep the line open.
    std::chrono::milliseconds grace{2000};
    bool verbose = false;
};

// Serves one flash over the master side of the modem's terminal.
class Session final {
public:
    Session(int master, Modem& modem, FaultInjector& faults, SessionConfig config);

    // Runs until an outcome; stop is polled, and signals are taken only while
    // waiting, with waitMask in force.
    Outcome run(const volatile std::sig_atomic_t& stop, const sigset_t& waitMask);

private:
    enum class Wait { Input, Timeout, Hangup, Interrupted, Error };

    Wait waitForInput(std::chrono::milliseconds limit, const sigset_t& waitMask);
    // False when the line is gone.
    bool readInput();
    // An outcome when a request ended the session.
    std::optional<Outcome> serveFrames();
    std::optional<Outcome> serve(const flash::Frame& request);
    bool send(const flash::Frame& answer, bool corrupt);
    void log(const char* direction, const flash::Frame& frame) const;
    Outcome lineClosed() const;

    int master_;
    Modem& modem_;
    FaultInjector& faults_;
    SessionConfig config_;
    flash::FrameDecoder decoder_;
};
