#pragma once

#include "UpdateAgent.h"

#include <cstdint>

// The client record sent with the version check.
struct UpdateInfoRecord {
    int32_t kind = 0;
    _UpdateMode mode = static_cast<_UpdateMode>(0);
    _CLIENT_INFO client;
    bool deviceReady = false;
};

// Filled from the settings at start-up, before the check is asked for.
extern UpdateInfoRecord updateInfo;
