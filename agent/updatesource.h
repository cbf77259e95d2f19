#pragma once

#include "UpdateAgent.h"

// Where a run's version check and packages come from: the update-agent
// library or a folder. Each call returns at once; what it brings arrives
// through the session's AgentListener, on the source's own thread, and lies
// in the installation directory as the library would leave it.
class UpdateSource {
public:
    virtual ~UpdateSource() = default;
    virtual bool Update(_UpdateMode mode, _CLIENT_INFO client) = 0;
    virtual bool Download() = 0;
    virtual bool StopDownload() = 0;
    // The run is over: what the source kept for it goes.
    virtual void RunEnded() {}
};
