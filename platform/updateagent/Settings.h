#pragma once

#include <QString>

#include <string>

namespace updateagent {

// Bounds of one transfer. The defaults outlast the updater's 10-second watchdog, so
// a server that accepts and then stays silent ends the run the way a silent agent does.
struct TransferLimits {
    long connectTimeoutSeconds = 30;
    long stallTimeoutSeconds = 30;
};

// What a job needs to know, read afresh for every job from "UpdateCfg.ini".
struct AgentSettings {
    QString installDir;
    std::string serverUrl; // [AGENT] SERVER_URL, empty when missing or unusable
    TransferLimits limits;
};

// The installation directory is the one holding the configuration file. Tests
// shorten the limits through UPDATEAGENT_CONNECT_TIMEOUT and UPDATEAGENT_STALL_TIMEOUT
// (whole seconds); anything but a positive number keeps the default.
AgentSettings loadSettings(const QString& configPath);

} // namespace updateagent
