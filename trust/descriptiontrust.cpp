#include "trust/updatetrust.h"

#include "packages/descriptionfields.h"
#include "packages/xmlparser.h"
#include "trust/acceptedissued.h"
#include "trust/descriptionbinding.h"
#include "trust/ed25519.h"
#include "trust/installedkeys.h"
#include "trust/utctime.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <optional>
#include <utility>

namespace {

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

// Over the bytes the parser parsed, never the file read again. signer gets
// the id of the key that verified them.
QString signatureRefusal(const QString& basePath, const QByteArray& description, QString& signer)
{
    QString refusal;
    std::optional<KeyList> keys = installedKeyList(basePath, refusal);
    if (!keys)
        return refusal;
    takePublishedKeyList(basePath, *keys);
    if (description.isEmpty())
        return QStringLiteral("no description");
    const QString signaturePath = basePath + QStringLiteral("/Description.xml.sig");
    if (!QFileInfo::exists(signaturePath))
        return QStringLiteral("no signature");
    const std::optional<QByteArray> signature = readWhole(signaturePath, ed25519SignatureSize);
    if (signature)
        signer = keys->signerOf(description, *signature);
    return signer.isEmpty() ? QStringLiteral("bad signature") : QString();
}

// Sets toRecord to the Issued time to remember once everything else passed.
QString freshnessRefusal(const QString& basePath, const QDomDocument& doc,
                         std::optional<qint64>& toRecord)
{
    const std::optional<qint64> issued = parseUtcTime(issuedElement(doc).text());
    if (!issued)
        return QStringLiteral("malformed time: no valid Issued");
    const std::optional<qint64> expires = parseUtcTime(expiresElement(doc).text());
    if (!expires)
        return QStringLiteral("malformed time: no valid Expires");
    if (*issued > *expires)
        return QStringLiteral("malformed time: Issued after Expires");
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    if (*expires <= now)
        return QStringLiteral("expired at %1").arg(formatUtcTime(*expires));
    if (*issued > now + issuedAheadAllowance)
        return QStringLiteral("issued in the future: %1").arg(formatUtcTime(*issued));
    AcceptedIssued accepted(basePath);
    if (accepted.state() == AcceptedIssued::State::Unreadable)
        return QStringLiteral("malformed time in %1").arg(accepted.path());
    if (accepted.state() == AcceptedIssued::State::Known && *issued < accepted.seconds())
        return QStringLiteral("replayed: issued %1, older than %2 accepted before")
            .arg(formatUtcTime(*issued), formatUtcTime(accepted.seconds()));
    if (accepted.state() == AcceptedIssued::State::None || *issued > accepted.seconds())
        toRecord = *issued;
    return {};
}

// The history's reason for a refusal, from the text's first words.
Reason refusalReason(const QString& refusal)
{
    static const std::pair<const char*, Reason> reasons[] = {
        {"unreadable key", Reason::NoKey},
        {"unusable key list", Reason::BadKeyList},
        {"no description", Reason::NoDescription},
        {"no signature", Reason::NoSignature},
        {"bad signature", Reason::BadSignature},
        {"for client group", Reason::WrongGroup},
        {"malformed time", Reason::MalformedTime},
        {"expired", Reason::Expired},
        {"issued in the future", Reason::NotYetValid},
        {"replayed", Reason::Replayed},
    };
    for (const auto& [start, reason] : reasons) {
        if (refusal.startsWith(QLatin1String(start)))
            return reason;
    }
    return Reason::Refused;
}

// Remembering is a safeguard for later runs; the description has passed.
void recordIssued(const QString& basePath, qint64 issued)
{
    AcceptedIssued accepted(basePath);
    if (!accepted.record(issued))
        qWarning("cannot record the accepted issue time in %s", qPrintable(accepted.path()));
}

// A packaged installation without keys takes nothing; the check's history
// record says why.
bool refuseWithoutKeys(Reason* reason)
{
    qWarning("no update key installed: updates are refused");
    if (reason != nullptr)
        *reason = Reason::NoUpdateKey;
    return false;
}

// Installed from a package: nothing unsigned is taken, even without a key.
bool signedUpdatesOnly(const QString& basePath)
{
    return QFileInfo::exists(basePath + QStringLiteral("/signed-updates-only"));
}

} // namespace

void warnWhenUnverified(const QString& basePath)
{
    if (!holdsUpdateKeys(basePath) && !signedUpdatesOnly(basePath))
        qWarning("updates are not verified: no %s", qPrintable(updateKeyPath(basePath)));
}

bool acceptDescription(const QString& basePath, XmlParser& parser,
                       const InstallationIdentity& installation, QString* keyId, Reason* reason)
{
    if (!holdsUpdateKeys(basePath))
        return signedUpdatesOnly(basePath) ? refuseWithoutKeys(reason) : true;
    QString signer;
    QString refusal = signatureRefusal(basePath, parser.content, signer);
    const bool newVersion = offersNewVersion(parser.doc);
    if (refusal.isEmpty() && newVersion)
        refusal = bindingRefusal(parser, installation);
    std::optional<qint64> toRecord;
    if (refusal.isEmpty() && newVersion)
        refusal = freshnessRefusal(basePath, parser.doc, toRecord);
    if (!refusal.isEmpty()) {
        qWarning("description refused: %s", qPrintable(refusal));
        if (reason != nullptr)
            *reason = refusalReason(refusal);
        return false;
    }
    if (toRecord)
        recordIssued(basePath, *toRecord);
    if (newVersion)
        withdrawStalePackages(parser, installation);
    if (keyId != nullptr)
        *keyId = signer;
    return true;
}
