#pragma once

#include "agent/updateinfo.h"

#include <QByteArray>

class QApplication;

#include <chrono>
#include <cstdint>

// The application, once start-up has made it.
extern QApplication* app;

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

// The whole updater, from the lock to the end of the event loop.
int runUpdater(int argc, char** argv);
