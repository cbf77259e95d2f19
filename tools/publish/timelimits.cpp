#include "timelimits.h"

#include "trust/descriptionfields.h"
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

QString descriptionTimesRefusal(const QByteArray& description)
{
    QDomDocument doc;
    if (!doc.setContent(description, false) || !offersNewVersion(doc))
        return {};
    const std::optional<qint64> issued = parseUtcTime(issuedElement(doc).text());
    const std::optional<qint64> expires = parseUtcTime(expiresElement(doc).text());
    if (!issued || !expires)
        return QStringLiteral("the description has no valid Issued and Expires");
    return timesRefusal(*issued, *expires);
}
