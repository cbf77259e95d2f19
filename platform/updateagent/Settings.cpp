#include "Settings.h"

#include "Diagnostics.h"

#include <profile.h>

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace updateagent {

namespace {

constexpr int AddressRoom = 2048;
// An address from [AGENT]. A value that may have been cut is refused: a cut
// address would ask some other server.
std::string readAddress(const QString& configPath, const char* key)
{
    std::vector<char> buffer(AddressRoom, '\0');
    const QByteArray file = QFile::encodeName(configPath);
    const int length =
        read_profile_string("AGENT", key, buffer.data(), AddressRoom, "", file.constData());
    if (length >= AddressRoom - 1) {
        warn(QStringLiteral("%1 is too long").arg(QLatin1String(key)));
        return {};
    }
    return std::string(buffer.data(), static_cast<size_t>(length));
}

// A number from [AGENT], or fallback when the key is missing or its value is not
// a number from lowest to highest.
double agentNumber(const QString& configPath, const char* key, double fallback, double lowest,
                   double highest)
{
    char buffer[64] = {};
    const QByteArray file = QFile::encodeName(configPath);
    read_profile_string("AGENT", key, buffer, sizeof buffer, "", file.constData());
    const QString text = QString::fromLatin1(buffer).trimmed();
    if (text.isEmpty())
        return fallback;
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (ok && value >= lowest && value <= highest)
        return value;
    warn(QStringLiteral("[AGENT] %1 is not a number from %2 to %3; using %4")
             .arg(QLatin1String(key))
             .arg(lowest)
             .arg(highest)
             .arg(fallback));
    return fallback;
}

std::chrono::milliseconds agentSeconds(const QString& configPath, const char* key,
                                       std::chrono::milliseconds fallback, double highest)
{
    const double seconds = agentNumber(configPath, key, fallback.count() / 1000.0, 0, highest);
    return std::chrono::milliseconds(std::llround(seconds * 1000));
}

RetryLimits retryLimits(const QString& configPath)
{
    constexpr double Day = 86400;
    const RetryLimits defaults;
    RetryLimits limits;
    limits.tries =
        static_cast<int>(agentNumber(configPath, "RETRY_TRIES", defaults.tries, 0, 1000));
    limits.firstPause = agentSeconds(configPath, "RETRY_PAUSE", defaults.firstPause, Day);
    limits.longestPause = agentSeconds(configPath, "RETRY_PAUSE_MAX", defaults.longestPause, Day);
    limits.totalTime = agentSeconds(configPath, "RETRY_TIME", defaults.totalTime, 7 * Day);
    return limits;
}

long secondsFromEnvironment(const char* name, long fallback)
{
    const char* text = std::getenv(name);
    if (text == nullptr)
        return fallback;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return (end != text && *end == '\0' && value > 0) ? value : fallback;
}

TransferLimits transferLimits(const QString& configPath)
{
    const TransferLimits defaults;
    const auto stall = static_cast<long>(
        agentNumber(configPath, "STALL_TIME", defaults.stallTimeoutSeconds, 1, 3600));
    TransferLimits limits;
    limits.connectTimeoutSeconds =
        secondsFromEnvironment("UPDATEAGENT_CONNECT_TIMEOUT", defaults.connectTimeoutSeconds);
    limits.stallTimeoutSeconds = secondsFromEnvironment("UPDATEAGENT_STALL_TIMEOUT", stall);
    limits.stallBytes =
        static_cast<long>(agentNumber(configPath, "STALL_BYTES", defaults.stallBytes, 1, 1 << 20));
    limits.maxRateKiB =
        static_cast<long>(agentNumber(configPath, "MAX_RATE", defaults.maxRateKiB, 0, 1 << 20));
    limits.proxy = proxySetting(readAddress(configPath, "PROXY"));
    return limits;
}

} // namespace

AgentSettings loadSettings(const QString& configPath)
{
    AgentSettings settings;
    settings.installDir = QFileInfo(configPath).absolutePath();
    settings.serverUrl = readAddress(configPath, "SERVER_URL");
    settings.limits = transferLimits(configPath);
    settings.retry = retryLimits(configPath);
    return settings;
}

} // namespace updateagent
