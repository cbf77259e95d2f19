#include "keylistcheck.h"

#include "report.h"
#include "trust/updatetrust.h"

#include <QFile>

namespace {

QByteArray readUpTo(const QString& path, qint64 limit, bool& read)
{
    QFile file(path);
    read = file.open(QIODevice::ReadOnly);
    return read ? file.read(limit + 1) : QByteArray();
}

// Who signed the published list, against what installations hold; whether
// they take it.
bool signerProblems(const KeyList& published, const std::optional<KeyList>& trusted,
                    const QByteArray& bytes, const QByteArray& signature, QStringList& problems)
{
    // Without the installations' key only the list's own keys can show that
    // the signature is over these bytes; a list signed by a key it withdraws
    // is checked by verify --key.
    if (!trusted) {
        const QString signer = published.signerOf(bytes, signature);
        if (signer.isEmpty())
            problems << QStringLiteral("Keys.xml.sig is the signature of none of the keys it "
                                       "lists over Keys.xml (a list signed by a key it "
                                       "withdraws: check it with verify --key)");
        else
            say(QStringLiteral("key list signed by key %1").arg(signer));
        return true;
    }
    const QString signer = trusted->signerOf(bytes, signature);
    if (signer.isEmpty())
        problems << QStringLiteral("Keys.xml is signed by no key installations hold "
                                   "(%1): they ignore it")
                        .arg(trusted->ids().join(QStringLiteral(", ")));
    else
        say(QStringLiteral("key list signed by key %1").arg(signer));
    if (published.version <= trusted->version)
        problems << QStringLiteral("Keys.xml version %1 is not above %2: installations ignore it")
                        .arg(published.version)
                        .arg(trusted->version);
    return !signer.isEmpty() && published.version > trusted->version;
}

} // namespace

std::optional<KeyList> publishedKeyListProblems(const QString& directory,
                                                std::optional<KeyList> trusted,
                                                QStringList& problems)
{
    const QString path = directory + QStringLiteral("/Keys.xml");
    if (!QFile::exists(path))
        return trusted;
    bool read = false;
    const QByteArray bytes = readUpTo(path, maxKeyListBytes, read);
    QString error = QStringLiteral("cannot be read");
    std::optional<KeyList> published = read ? parseKeyList(bytes, error) : std::nullopt;
    if (!published) {
        problems << QStringLiteral("Keys.xml: %1: installations ignore it").arg(error);
        return trusted;
    }
    say(QStringLiteral("key list: version %1, keys %2")
            .arg(published->version)
            .arg(published->ids().join(QStringLiteral(", "))));
    if (published->version < 2)
        problems << QStringLiteral("Keys.xml version 1: installations start there and take "
                                   "only a higher one");
    const QByteArray signature = readUpTo(path + QStringLiteral(".sig"), 64, read);
    if (!read) {
        problems << QStringLiteral("Keys.xml has no signature Keys.xml.sig: installations "
                                   "ignore it");
        return trusted;
    }
    if (!signerProblems(*published, trusted, bytes, signature, problems))
        return trusted;
    return published;
}
