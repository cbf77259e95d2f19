#pragma once

#include "UpdateAgent.h"

#include <QByteArray>

#include <chrono>
#include <cstdint>

// The client record sent with the version check.
struct UpdateInfoRecord {
    int32_t kind = 0;
    _UpdateMode mode = static_cast<_UpdateMode>(0);
    _CLIENT_INFO client;
    bool deviceReady = false;
};

extern UpdateInfoRecord updateInfo;

// The ten values of BASE_PATH + "/UpdateCfg.ini", each cut to its reader's buffer.
struct Settings {
    QByteArray cmName;
    QByteArray appPath;
    QByteArray device;
    QByteArray softwareVersion;
    QByteArray firmwareVersion;
    QByteArray imei;
    QByteArray clientGroup;
    QByteArray language;
    QByteArray deviceReady;
    QByteArray wvdial;
};

Settings readSettings();
// The HOOK_TIME setting of "[UPDATE]".
std::chrono::seconds readHookTime();
// A version, the IMEI and the client group: what the check cannot go without.
bool identityComplete(const Settings& s);
void fillUpdateInfo(const Settings& s);

// 0 when this process now holds the single-instance lock, 1 when another one
// does. Ends the process with status 1 when the lock file cannot be used.
int already_running();

// Installs the translation BASE_PATH + "/translations/cmupdater_" + language
// when there is one; the built-in English texts stay otherwise.
bool installTranslation(const QByteArray& language);

// Flushes the standard streams and ends the process at once, without running
// destructors: the agent's thread may still be inside a callback.
[[noreturn]] void terminateProcess(int status);

// The whole updater, from the lock to the end of the event loop.
int runUpdater(int argc, char** argv);
