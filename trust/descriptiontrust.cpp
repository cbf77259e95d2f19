#include "trust/updatetrust.h"

#include "packages/xmlparser.h"
#include "trust/acceptedissued.h"
#include "trust/descriptionfields.h"
#include "trust/ed25519.h"
#include "trust/utctime.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <optional>

namespace {

// Far more than any description; a larger file is refused, not read whole.
constexpr qint64 maxDescriptionBytes = 16 * 1024 * 1024;

std::optional<QByteArray> readWhole(const QString& path, qint64 maxBytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray content = file.read(maxBytes + 1);
    if (content.size() > maxBytes || !file.atEnd())
        return std::nullopt;
    return content;
}

QString signatureRefusal(const QString& basePath)
{
    const EvpKey key = readEd25519PublicKey(updateKeyPath(basePath));
    if (!key)
        return QStringLiteral("unreadable key %1").arg(updateKeyPath(basePath));
    const QString descriptionPath = basePath + QStringLiteral("/Description.xml");
    const std::optional<QByteArray> description = readWhole(descriptionPath, maxDescriptionBytes);
    if (!description)
        return QStringLiteral("no description");
    if (!QFileInfo::exists(descriptionPath + QStringLiteral(".sig")))
        return QStringLiteral("no signature");
    const std::optional<QByteArray> signature =
        readWhole(descriptionPath + QStringLiteral(".sig"), ed25519SignatureSize);
    if (!signature || !ed25519Verify(key.get(), *description, *signature))
        return QStringLiteral("bad signature");
    return {};
}

QString freshnessRefusal(const QString& basePath, const QDomDocument& doc)
{
    const std::optional<qint64> issued = parseUtcTime(issuedElement(doc).text());
    if (!issued)
        return QStringLiteral("malformed time: no valid Issued");
    const std::optional<qint64> expires = parseUtcTime(expiresElement(doc).text());
    if (!expires)
        return QStringLiteral("malformed time: no valid Expires");
    if (*issued > *expires)
        return QStringLiteral("malformed time: Issued after Expires");
    if (*expires <= QDateTime::currentSecsSinceEpoch())
        return QStringLiteral("expired at %1").arg(formatUtcTime(*expires));
    AcceptedIssued accepted(basePath);
    if (accepted.state() == AcceptedIssued::State::Unreadable)
        return QStringLiteral("malformed time in %1").arg(accepted.path());
    if (accepted.state() == AcceptedIssued::State::Known && *issued < accepted.seconds())
        return QStringLiteral("replayed: issued %1, older than %2 accepted before")
            .arg(formatUtcTime(*issued), formatUtcTime(accepted.seconds()));
    // Remembering is a safeguard for later runs; this description has passed.
    if (accepted.state() == AcceptedIssued::State::None || *issued > accepted.seconds()) {
        if (!accepted.record(*issued))
            qWarning("cannot record the accepted issue time in %s", qPrintable(accepted.path()));
    }
    return {};
}

} // namespace

QString updateKeyPath(const QString& basePath)
{
    return basePath + QStringLiteral("/update-key.pem");
}

void warnWhenUnverified(const QString& basePath)
{
    if (!QFileInfo::exists(updateKeyPath(basePath)))
        qWarning("updates are not verified: no %s", qPrintable(updateKeyPath(basePath)));
}

bool acceptDescription(const QString& basePath, const XmlParser& parser)
{
    if (!QFileInfo::exists(updateKeyPath(basePath)))
        return true;
    QString refusal = signatureRefusal(basePath);
    if (refusal.isEmpty() && offersNewVersion(parser.doc))
        refusal = freshnessRefusal(basePath, parser.doc);
    if (refusal.isEmpty())
        return true;
    qWarning("description refused: %s", qPrintable(refusal));
    return false;
}
