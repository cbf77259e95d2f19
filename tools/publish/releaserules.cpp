#include "releaserules.h"

#include "trust/descriptionbinding.h"

#include <QRegularExpression>
#include <QUrl>

#include <algorithm>

QString versionRefusal(const QString& option, const QString& version, const QStringList& previous)
{
    if (!compareVersions(version, version))
        return QStringLiteral("%1 %2 cannot be ordered: give dotted decimal numbers after an "
                              "optional prefix, like 2.1 or V2.1")
            .arg(option, version);
    for (const QString& earlier : previous) {
        const std::optional<int> order = compareVersions(version, earlier);
        if (!order)
            return QStringLiteral("%1 %2 cannot be ordered after --previous %3")
                .arg(option, version, earlier);
        if (*order <= 0)
            return QStringLiteral("%1 %2 is not later than --previous %3: installations of %3 "
                                  "would not take it")
                .arg(option, version, earlier);
    }
    return {};
}

QString priorityRefusal(const QString& priority)
{
    static const QRegularExpression form(QStringLiteral("^[0-9]{1,3}$"));
    if (form.match(priority).hasMatch())
        return {};
    return QStringLiteral("--priority %1 must be a number from 0 to 999").arg(priority);
}

QString urlBaseRefusal(const QString& base)
{
    const QUrl url(base);
    const QStringList schemes = {QStringLiteral("http"), QStringLiteral("https"),
                                 QStringLiteral("ftp"), QStringLiteral("file")};
    const bool located = url.scheme() == u"file" ? !url.path().isEmpty() : !url.host().isEmpty();
    if (url.isValid() && schemes.contains(url.scheme()) && located && !url.hasQuery() &&
        !url.hasFragment())
        return {};
    return QStringLiteral("--url-base %1 must be an absolute http, https, ftp or file URL "
                          "without query or fragment")
        .arg(base);
}

QString mirrorRefusal(const QString& base)
{
    const bool control = std::any_of(base.begin(), base.end(),
                                     [](QChar c) { return c.category() == QChar::Other_Control; });
    const QUrl url(base, QUrl::StrictMode);
    if (!control && url.isValid() && (url.scheme() == u"http" || url.scheme() == u"https") &&
        !url.host().isEmpty() && !url.hasQuery() && !url.hasFragment())
        return {};
    return QStringLiteral("%1 must be an absolute http or https URL without query, fragment "
                          "or control character")
        .arg(base);
}
