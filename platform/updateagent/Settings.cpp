#include "Settings.h"

#include "Diagnostics.h"

#include <profile.h>

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace updateagent {

namespace {

constexpr int ServerUrlRoom = 2048;
// read_profile_string reads lines of at most this many bytes and cuts a longer
// one without a word.
constexpr qsizetype ProfileLineLimit = 199;

// True when the value read stands on a SERVER_URL line that reached the reader's
// line limit: it may be the front of a longer address.
bool onLineAtLimit(const QString& configPath, const QByteArray& value)
{
    QFile file(configPath);
    if (value.isEmpty() || !file.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> lines = file.readAll().split('\n');
    return std::any_of(lines.begin(), lines.end(), [&value](const QByteArray& line) {
        return line.size() >= ProfileLineLimit && line.trimmed().startsWith("SERVER_URL") &&
               line.contains(value);
    });
}

std::string readServerUrl(const QString& configPath)
{
    std::vector<char> buffer(ServerUrlRoom, '\0');
    const QByteArray file = QFile::encodeName(configPath);
    const int length = read_profile_string("AGENT", "SERVER_URL", buffer.data(), ServerUrlRoom, "",
                                           file.constData());
    const QByteArray value(buffer.data(), length);
    // A value that may have been cut is refused: fetching a cut address would
    // ask some other server.
    if (length >= ServerUrlRoom - 1) {
        warn(QStringLiteral("SERVER_URL is too long"));
        return {};
    }
    if (onLineAtLimit(configPath, value)) {
        warn(QStringLiteral("SERVER_URL refused: its line in UpdateCfg.ini reaches the %1-byte "
                            "line limit, so the address may have been cut")
                 .arg(ProfileLineLimit));
        return {};
    }
    return value.toStdString();
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
