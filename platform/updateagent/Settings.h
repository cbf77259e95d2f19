#pragma once

#include "ProxyRules.h"

#include <QString>

#include <chrono>
#include <string>

namespace updateagent {

// How every transfer goes: its bounds and its road. The defaults outlast the
// updater's 10-second watchdog, so a server that accepts and then stays silent
// ends the run the way a silent agent does.
struct TransferLimits {
    long connectTimeoutSeconds = 30;
    // [AGENT] STALL_TIME, STALL_BYTES: fewer bytes than these over so long drops the connection
    long stallTimeoutSeconds = 30;
    long stallBytes = 1024;
    long maxRateKiB = 0;  // [AGENT] MAX_RATE in kB/s (1024 bytes); 0 for no cap
    ProxySetting proxy{}; // [AGENT] PROXY
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
// A PROXY that is no http(s) URL nor "none" counts as unset.
AgentSettings loadSettings(const QString& configPath);

} // namespace updateagent
