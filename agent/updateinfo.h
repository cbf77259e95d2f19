#pragma once

#include "UpdateAgent.h"

#include <cstdint>

struct Installation;

// The client record sent with the version check.
struct UpdateInfoRecord {
    int32_t kind = 0;
    _UpdateMode mode = static_cast<_UpdateMode>(0);
    _CLIENT_INFO client;
    bool deviceReady = false;
};

// The record for this installation's settings, each value cut to its field.
UpdateInfoRecord clientRecord(const Installation& installation);
