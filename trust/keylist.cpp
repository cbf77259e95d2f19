#include "trust/keylist.h"

#include <QDomDocument>
#include <QRegularExpression>

namespace {

bool isDecimal(const QString& text)
{
    static const QRegularExpression digits(QStringLiteral("^[1-9][0-9]{0,15}$"));
    return digits.match(text).hasMatch();
}

bool isRawKeyText(const QString& text)
{
    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{64}$"));
    return hex.match(text).hasMatch();
}

std::optional<TrustedKey> parseKey(const QDomElement& element, QString& error)
{
    const QString text = element.attribute(QStringLiteral("Ed25519"));
    EvpKey key =
        isRawKeyText(text) ? ed25519KeyFromRaw(QByteArray::fromHex(text.toLatin1())) : nullptr;
    if (!key) {
        error = QStringLiteral("a Key without a valid Ed25519 attribute (64 hex digits)");
        return std::nullopt;
    }
    const QString id = ed25519KeyId(key.get());
    if (element.attribute(QStringLiteral("Id")) != id) {
        error = QStringLiteral("key %1 is listed with the Id \"%2\"")
                    .arg(id, element.attribute(QStringLiteral("Id")));
        return std::nullopt;
    }
    return TrustedKey{id, std::move(key)};
}

} // namespace

QString KeyList::signerOf(const QByteArray& data, const QByteArray& signature) const
{
    for (const TrustedKey& trusted : keys) {
        if (ed25519Verify(trusted.key.get(), data, signature))
            return trusted.id;
    }
    return {};
}

QStringList KeyList::ids() const
{
    QStringList ids;
    for (const TrustedKey& trusted : keys)
        ids << trusted.id;
    return ids;
}

std::optional<KeyList> parseKeyList(const QByteArray& bytes, QString& error)
{
    QDomDocument doc;
    if (bytes.size() > maxKeyListBytes || !doc.setContent(bytes, false, &error)) {
        error = QStringLiteral("not a well-formed list: %1").arg(error);
        return std::nullopt;
    }
    const QDomElement root = doc.documentElement();
    const QString version = root.attribute(QStringLiteral("Version"));
    if (root.tagName() != u"KeyList" || !isDecimal(version)) {
        error = QStringLiteral("no <KeyList> with a Version of 1 or more");
        return std::nullopt;
    }
    KeyList list;
    list.version = version.toLongLong();
    for (QDomElement element = root.firstChildElement(); !element.isNull();
         element = element.nextSiblingElement()) {
        if (element.tagName() != u"Key") {
            error =
                QStringLiteral("an element <%1> where only <Key> belongs").arg(element.tagName());
            return std::nullopt;
        }
        std::optional<TrustedKey> key = parseKey(element, error);
        if (!key)
            return std::nullopt;
        list.keys.push_back(std::move(*key));
    }
    if (list.keys.empty()) {
        error = QStringLiteral("it lists no key");
        return std::nullopt;
    }
    return list;
}

std::optional<KeyList> singleKeyList(const QString& path)
{
    EvpKey key = readEd25519PublicKey(path);
    if (!key)
        return std::nullopt;
    KeyList list;
    list.version = 1;
    const QString id = ed25519KeyId(key.get());
    list.keys.push_back(TrustedKey{id, std::move(key)});
    return list;
}

QByteArray keyListXml(qint64 version, const std::vector<TrustedKey>& keys)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KeyList Version=\"" +
                     QByteArray::number(version) + "\">\n";
    for (const TrustedKey& trusted : keys)
        xml += "  <Key Id=\"" + trusted.id.toLatin1() + "\" Ed25519=\"" +
               ed25519RawPublicKey(trusted.key.get()).toHex() + "\"/>\n";
    return xml + "</KeyList>\n";
}
