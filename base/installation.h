#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>

// The values of UpdateCfg.ini, each cut to its reader's buffer, as the file
// holds them: the connection manager reads back seven of them byte for byte.
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
    QByteArray healthTime;
    QByteArray hookTime;
    QByteArray reports;
    QByteArray serverUrl;
    QByteArray maxRate;
    QByteArray proxy;
};

// How long the package's post-install hook may run before it is stopped.
inline constexpr std::chrono::seconds defaultHookTime{300};

// One installation, read once at start and handed down to everything that
// works on it: nothing below looks a setting up on its own.
struct Installation {
    QString BASE_PATH; // installation directory, no trailing slash
    QString CM_NAME;   // the connection manager's executable; empty when refused
    QString CM_PATH;
    QString DEVICE; // the configured device model
    QString WVDIAL; // the dialer's process id, as configured
    // The installed versions, as configured.
    QString SOFTWARE_VERSION;
    QString FIRMWARE_VERSION;
    QString IMEI_ID;
    QString CLINT_GROUP;
    QString LANGUAGE_TYPE;
    bool DeviceReady = true;
    // How long a newly installed connection manager must keep running.
    std::chrono::seconds HEALTH_TIME{30};
    // How long the package's post-install hook may run.
    std::chrono::seconds HOOK_TIME{defaultHookTime};
    // Outcome reports to the update server: off unless set to 1.
    bool REPORTS = false;
    // Where the agent finds the description; the reports go below it.
    QString SERVER_URL;
    // The agent's cap on the download in kB/s; 0 when it has none.
    int MAX_RATE = 0;
    // [AGENT] PROXY as the agent takes it: a proxy's URL, "none" for a direct
    // link, empty to leave it to the caller's variables (also when malformed).
    QByteArray PROXY;
    Settings settings;

    // Reads basePath + "/UpdateCfg.ini"; a missing file gives the defaults.
    static Installation load(const QString& basePath);
    // An installation with the defaults and no settings file, for tests and tools.
    static Installation at(const QString& basePath);

    // basePath + name, name beginning with "/".
    QString path(const char* name) const { return BASE_PATH + QLatin1String(name); }
    QString settingsPath() const { return path("/UpdateCfg.ini"); }
    // A version, the IMEI and the client group: what the check cannot go without.
    bool identityComplete() const;
};

// The HEALTH_TIME setting: whole seconds from 0 (no watch) to 600; anything
// else gets a warning and the default of 30.
std::chrono::seconds healthTimeSetting(const QByteArray& text);

// The HOOK_TIME setting: whole seconds from 1 to 600; anything else gets a
// warning and the default.
std::chrono::seconds hookTimeSetting(const QByteArray& text);

// The connection manager's program name: a plain name of letters, digits, ".",
// "_" and "-" only, which it is safe to hand to pidof, chmod and a restart.
bool isPlainExecutableName(const QString& name);
