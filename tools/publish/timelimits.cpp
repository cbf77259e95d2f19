#include "timelimits.h"

#include "packages/descriptionfields.h"
#include "trust/utctime.h"

#include <QDateTime>
#include <QDomDocument>

#include <optional>

QString timesRefusal(qint64 issued, qint64 expires)
{
    if (issued > QDateTime::currentSecsSinceEpoch() + issuedAheadAllowance)
        return QStringLiteral("Issued %1 is more than a day ahead of the clock")
            .arg(formatUtcTime(issued));
    if (expires - issued > longestValidity)
        return QStringLiteral("Expires %1 is more than 90 days after Issued")
            .arg(formatUtcTime(expires));
    return {};
}

QString signingRefusal(const QByteArray& description)
{
    QDomDocument doc;
    if (!doc.setContent(description, false) || !offersNewVersion(doc))
        return {};
    const std::optional<qint64> issued = parseUtcTime(issuedElement(doc).text());
    const std::optional<qint64> expires = parseUtcTime(expiresElement(doc).text());
    if (!issued || !expires)
        return QStringLiteral("the description has no valid Issued and Expires");
    if (*expires <= QDateTime::currentSecsSinceEpoch())
        return QStringLiteral("the description expired at %1").arg(formatUtcTime(*expires));
    if (headerChild(doc, 4, QStringLiteral("ClientGroup")).text().isEmpty())
        return QStringLiteral("the description names no ClientGroup: an installation with a key "
                              "refuses it");
    return timesRefusal(*issued, *expires);
}
