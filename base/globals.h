#pragma once

#include <QString>

#include <chrono>

// Process-wide settings, set once at start-up before any other thread runs.
extern QString BASE_PATH; // installation directory, no trailing slash
extern QString CM_NAME;   // the connection manager's executable name
extern QString CM_PATH;
extern QString DEVICE; // the configured device model
extern QString WVDIAL; // the dialer's process id, as configured
// The installed versions, as configured.
extern QString SOFTWARE_VERSION;
extern QString FIRMWARE_VERSION;
// How long a newly installed connection manager must keep running.
extern std::chrono::seconds HEALTH_TIME;
// How long the package's post-install hook may run.
extern std::chrono::seconds HOOK_TIME;
