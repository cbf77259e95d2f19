#include "PackageSource.h"

#include <QUrl>

namespace updateagent {

namespace {

constexpr int HighestPort = 65535;

bool hasScheme(const QString& url)
{
    return !QUrl(url).scheme().isEmpty();
}

bool setPort(QUrl& url, const QString& text)
{
    const QString port = text.trimmed();
    if (port.isEmpty())
        return true; // the scheme's own port
    bool ok = false;
    const int number = port.toInt(&ok);
    if (!ok || number < 1 || number > HighestPort)
        return false;
    url.setPort(number);
    return true;
}

std::optional<QUrl> ftpAddress(const UpdateFileEntry& entry, const FtpServer& server)
{
    QUrl url;
    url.setScheme(QStringLiteral("ftp"));
    url.setHost(server.ip.trimmed());
    if (url.host().isEmpty() || !setPort(url, server.port))
        return std::nullopt;
    QString path = entry.url.isEmpty() ? entry.fileName : entry.url;
    while (path.startsWith(u'/'))
        path.remove(0, 1);
    // Tolerant mode keeps escapes the description already made and escapes the rest.
    url.setPath(QLatin1Char('/') + path, QUrl::TolerantMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

} // namespace

std::optional<TransferRequest> packageSource(const UpdateFileEntry& entry, const FtpServer& server)
{
    if (hasScheme(entry.url))
        return TransferRequest{transferUrl(entry.url), {}, {}, {}};
    const std::optional<QUrl> address = ftpAddress(entry, server);
    if (!address)
        return std::nullopt;
    return TransferRequest{address->toEncoded().toStdString(),
                           {},
                           server.userName.toStdString(),
                           server.password.toStdString()};
}

} // namespace updateagent
