#include "PackageSource.h"

#include <QUrl>

#include <algorithm>

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

bool hasControlCharacter(const QString& text)
{
    return std::any_of(text.begin(), text.end(),
                       [](QChar c) { return c.category() == QChar::Other_Control; });
}

bool isMirrorBase(const QString& base)
{
    if (base.isEmpty() || hasControlCharacter(base))
        return false;
    const QUrl url(base, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == u"http" || scheme == u"https") && !url.host().isEmpty() &&
           !url.hasQuery() && !url.hasFragment();
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

std::vector<PackageOrigin> mirrorSources(const QStringList& bases, const QString& fileName)
{
    std::vector<PackageOrigin> origins;
    for (int position = 0; position < bases.size(); ++position) {
        QString base = bases[position];
        if (!isMirrorBase(base))
            continue;
        while (base.endsWith(u'/'))
            base.chop(1);
        const QString url = base + u'/' + QString::fromLatin1(QUrl::toPercentEncoding(fileName));
        origins.push_back({TransferRequest{transferUrl(url), "http,https", {}, {}}, position + 1});
    }
    return origins;
}

bool OriginTurns::advance()
{
    roundEnded_ = false;
    for (std::size_t step = 1; step <= usable_.size(); ++step) {
        const std::size_t next = (current_ + step) % usable_.size();
        if (usable_[next]) {
            roundEnded_ = next <= current_;
            current_ = next;
            return true;
        }
    }
    return false;
}

} // namespace updateagent
