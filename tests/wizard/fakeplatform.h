#pragma once

#include "lib6246.h"
#include "UpdateAgent.h"

#include <QString>
#include <QStringList>

#include <vector>

// A recording stand-in for the update agent and the firmware-download library,
// linked into the dialog tests in place of the real ones.
struct FakePlatform {
    QStringList calls; // agent calls in order
    CMUpdaterInterface* callbacks = nullptr;
    QString configPath;
    _CLIENT_INFO client;
    int downloads = 0;

    QString imageDir;              // what setIde was given
    QStringList imageFiles;        // what that directory held during the flash
    std::vector<_PDLData> reports; // what setIde reports, in order
    bool flashSucceeds = true;     // what setIde returns
    int flashes = 0;

    static FakePlatform& instance();
    void reset();
};
