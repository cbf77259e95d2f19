#include "base/installation.h"

#include "base/proxyurl.h"
#include "base/secondssetting.h"
#include "profile.h"

#include <algorithm>
#include <vector>

namespace {

QByteArray readSetting(const QByteArray& file, const char* section, const char* key, int size,
                       const char* fallback)
{
    std::vector<char> buffer(static_cast<size_t>(size), '\0');
    read_profile_string(section, key, buffer.data(), size, fallback, file.constData());
    return QByteArray(buffer.data());
}

Settings readSettings(const QString& path)
{
    const QByteArray file = path.toLocal8Bit();
    Settings s;
    s.cmName = readSetting(file, "UPDATE", "CM_NAME", 80, "Kestrel");
    s.appPath = readSetting(file, "Service", "APP_PATH", 256, "/opt/Kestrel");
    s.device = readSetting(file, "UPDATE", "DEVICE", 80, "RX481");
    s.softwareVersion = readSetting(file, "UPDATE", "SOFTWARE_VERSION", 80, "");
    s.firmwareVersion = readSetting(file, "UPDATE", "FIRMWARE_VERSION", 16, "");
    s.imei = readSetting(file, "UPDATE", "IMEI_ID", 16, "");
    s.clientGroup = readSetting(file, "UPDATE", "CLINT_GROUP", 80, "");
    s.language = readSetting(file, "UPDATE", "LANGUAGE_TYPE", 15, "en_US");
    s.deviceReady = readSetting(file, "UPDATE", "DeviceReady", 10, "1");
    s.wvdial = readSetting(file, "UPDATE", "WVDIAL", 20, "0");
    s.healthTime = readSetting(file, "UPDATE", "HEALTH_TIME", 16, "30");
    s.hookTime = readSetting(file, "UPDATE", "HOOK_TIME", 16, "300");
    s.reports = readSetting(file, "UPDATE", "REPORTS", 4, "0");
    s.serverUrl = readSetting(file, "AGENT", "SERVER_URL", 2048, "");
    s.maxRate = readSetting(file, "AGENT", "MAX_RATE", 16, "");
    s.proxy = readSetting(file, "AGENT", "PROXY", 256, "");
    return s;
}

// As the agent reads it: a number from 1 to 1048576, its whole part; anything
// else is no cap (the agent warns).
int maxRateSetting(const QByteArray& text)
{
    bool ok = false;
    const double rate = text.trimmed().toDouble(&ok);
    return ok && rate >= 1 && rate <= 1 << 20 ? static_cast<int>(rate) : 0;
}

} // namespace

Installation Installation::load(const QString& basePath)
{
    Installation installation = at(basePath);
    Settings& s = installation.settings;
    s = readSettings(installation.settingsPath());
    // The name is killed, made set-user-id and started as root.
    if (!isPlainExecutableName(QString::fromLocal8Bit(s.cmName))) {
        qWarning("CM_NAME refused: not a plain program name");
        s.cmName.clear();
    }
    installation.CM_NAME = QString::fromLocal8Bit(s.cmName);
    installation.CM_PATH = QString::fromLocal8Bit(s.appPath);
    installation.DEVICE = QString::fromLocal8Bit(s.device);
    installation.WVDIAL = QString::fromLocal8Bit(s.wvdial);
    installation.SOFTWARE_VERSION = QString::fromLocal8Bit(s.softwareVersion);
    installation.FIRMWARE_VERSION = QString::fromLocal8Bit(s.firmwareVersion);
    installation.IMEI_ID = QString::fromLocal8Bit(s.imei);
    installation.CLINT_GROUP = QString::fromLocal8Bit(s.clientGroup);
    installation.LANGUAGE_TYPE = QString::fromLocal8Bit(s.language);
    installation.DeviceReady = s.deviceReady == "1";
    installation.HEALTH_TIME = healthTimeSetting(s.healthTime);
    installation.HOOK_TIME = hookTimeSetting(s.hookTime);
    installation.REPORTS = s.reports == "1";
    installation.SERVER_URL = QString::fromLocal8Bit(s.serverUrl);
    installation.MAX_RATE = maxRateSetting(s.maxRate);
    const QByteArray proxy = s.proxy.trimmed();
    if (proxy.compare("none", Qt::CaseInsensitive) == 0 || isProxyUrl(proxy.toStdString()))
        installation.PROXY = proxy;
    return installation;
}

Installation Installation::at(const QString& basePath)
{
    Installation installation;
    installation.BASE_PATH = basePath;
    installation.CM_NAME = QStringLiteral("Kestrel");
    installation.DEVICE = QStringLiteral("RX481");
    installation.WVDIAL = QStringLiteral("0");
    return installation;
}

bool Installation::identityComplete() const
{
    return !(SOFTWARE_VERSION.isEmpty() && FIRMWARE_VERSION.isEmpty()) && !IMEI_ID.isEmpty() &&
           !CLINT_GROUP.isEmpty();
}

std::chrono::seconds healthTimeSetting(const QByteArray& text)
{
    return secondsSetting("HEALTH_TIME", text, 0, 600, 30);
}

std::chrono::seconds hookTimeSetting(const QByteArray& text)
{
    return secondsSetting("HOOK_TIME", text, 1, 600, int(defaultHookTime.count()));
}

bool isPlainExecutableName(const QString& name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    return std::all_of(name.begin(), name.end(), [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
               c == u'.' || c == u'_' || c == u'-';
    });
}
