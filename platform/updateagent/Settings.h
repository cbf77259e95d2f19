#pragma once

#include <QString>

#include <chrono>
#include <string>

namespace updateagent {

// Bounds of one transfer. The defaults outlast the updater's 10-second watchdog, so
// a server that accepts and then stays silent ends the run the way a silent agent does.
struct TransferLimits {
    long connectTimeoutSeconds = 30;
    long stallTimeoutSeconds = 30; // [AGENT] STALL_TIME: no byte for so long drops the connection
};

// How often and for how long a package whose transfer failed is tried again.
struct RetryLimits {
    int tries = 8; // [AGENT] RETRY_TRIES: tries in a row that bring no new byte
    std::chrono::milliseconds firstPause{1000};    // [AGENT] RETRY_PAUSE, doubled on every try
    std::chrono::milliseconds longestPause{60000}; // [AGENT] RETRY_PAUSE_MAX, Retry-After too
    std::chrono::milliseconds totalTime{1800000};  // [AGENT] RETRY_TIME, from the first failure
};

// What a job needs to know, read afresh for every job from "UpdateCfg.ini".
struct AgentSettings {
    QString installDir;
    std::string serverUrl; // [AGENT] SERVER_URL, empty when missing or unusable
    TransferLimits limits;
    RetryLimits retry;
};

// The installation directory is the one holding the configuration file. Values
// under [AGENT] that are not numbers in range keep their defaults. Tests shorten
// the limits through UPDATEAGENT_CONNECT_TIMEOUT and UPDATEAGENT_STALL_TIMEOUT
// (whole seconds), which win over the file; anything but a positive number keeps it.
AgentSettings loadSettings(const QString& configPath);

} // namespace updateagent
