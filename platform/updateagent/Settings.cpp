#include "Settings.h"

#include "Diagnostics.h"

#include <profile.h>

#include <QFile>
#include <QFileInfo>

#include <cstdlib>
#include <vector>

namespace updateagent {

namespace {

constexpr int ServerUrlRoom = 2048;

std::string readServerUrl(const QString& configPath)
{
    std::vector<char> buffer(ServerUrlRoom, '\0');
    const QByteArray file = QFile::encodeName(configPath);
    const int length = read_profile_string("AGENT", "SERVER_URL", buffer.data(), ServerUrlRoom, "",
                                           file.constData());
    // A value that filled the buffer may have been cut; fetching a cut address
    // would ask some other server.
    if (length >= ServerUrlRoom - 1) {
        warn(QStringLiteral("SERVER_URL is too long"));
        return {};
    }
    return std::string(buffer.data(), static_cast<std::size_t>(length));
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

TransferLimits transferLimitsFromEnvironment()
{
    const TransferLimits defaults;
    return {secondsFromEnvironment("UPDATEAGENT_CONNECT_TIMEOUT", defaults.connectTimeoutSeconds),
            secondsFromEnvironment("UPDATEAGENT_STALL_TIMEOUT", defaults.stallTimeoutSeconds)};
}

} // namespace

AgentSettings loadSettings(const QString& configPath)
{
    AgentSettings settings;
    settings.installDir = QFileInfo(configPath).absolutePath();
    settings.serverUrl = readServerUrl(configPath);
    settings.limits = transferLimitsFromEnvironment();
    return settings;
}

} // namespace updateagent
