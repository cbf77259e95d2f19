#include "trust/installedkeys.h"

#include "base/nofollowfile.h"
#include "base/syncdirectory.h"

#include <QFileInfo>
#include <QSaveFile>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// At most limit bytes, read whole; nullopt when the file holds more.
std::optional<QByteArray> readBounded(QFile& file, qint64 limit)
{
    QByteArray bytes = file.read(limit + 1);
    if (bytes.size() > limit || !file.atEnd())
        return std::nullopt;
    return bytes;
}

std::optional<QByteArray> readPublished(const QString& path, qint64 limit)
{
    QFile file;
    if (!openRegularFileNoFollow(file, path))
        return std::nullopt;
    return readBounded(file, limit);
}

std::optional<QByteArray> readInstalledList(const QString& path)
{
    QFile file;
    if (!openRegularFileNoFollow(file, path))
        return std::nullopt;
    struct stat info {};
    if (::fstat(file.handle(), &info) != 0 || info.st_uid != ::geteuid() ||
        (info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return std::nullopt;
    return readBounded(file, maxKeyListBytes);
}

// Why the published bytes are not taken as the next list; empty when they are.
QString publishedListRefusal(const QString& basePath, const KeyList& current,
                             std::optional<KeyList>& published, QByteArray& bytes)
{
    const std::optional<QByteArray> read =
        readPublished(basePath + QStringLiteral("/Keys.xml"), maxKeyListBytes);
    if (!read)
        return QStringLiteral("unreadable or larger than %1 bytes").arg(maxKeyListBytes);
    bytes = *read;
    // One of another size is read too, and is then no trusted key's signature.
    const std::optional<QByteArray> signature =
        readPublished(basePath + QStringLiteral("/Keys.xml.sig"), 4 * ed25519SignatureSize);
    if (!signature)
        return QStringLiteral("no signature");
    const QString signer = current.signerOf(bytes, *signature);
    if (signer.isEmpty())
        return QStringLiteral("signed by no trusted key");
    QString error;
    published = parseKeyList(bytes, error);
    if (!published)
        return QStringLiteral("malformed: %1").arg(error);
    if (published->version <= current.version)
        return QStringLiteral("version %1 is not newer than %2")
            .arg(published->version)
            .arg(current.version);
    return {};
}

// All-or-nothing and on disk before anything is verified with it.
bool installList(const QString& basePath, const QByteArray& bytes)
{
    QSaveFile file(keyListPath(basePath));
    if (!file.open(QIODevice::WriteOnly) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                             QFileDevice::ReadGroup | QFileDevice::ReadOther) ||
        file.write(bytes) != bytes.size())
        return false;
    return file.commit() && syncDirectory(basePath);
}

} // namespace

QString updateKeyPath(const QString& basePath)
{
    return basePath + QStringLiteral("/update-key.pem");
}

QString keyListPath(const QString& basePath)
{
    return basePath + QStringLiteral("/trusted-keys.xml");
}

bool holdsUpdateKeys(const QString& basePath)
{
    return QFileInfo::exists(updateKeyPath(basePath)) || QFileInfo::exists(keyListPath(basePath));
}

std::optional<KeyList> installedKeyList(const QString& basePath, QString& refusal)
{
    const QString listPath = keyListPath(basePath);
    if (QFileInfo::exists(listPath)) {
        const std::optional<QByteArray> bytes = readInstalledList(listPath);
        QString error = QStringLiteral("not a regular file of the updater's own");
        std::optional<KeyList> list = bytes ? parseKeyList(*bytes, error) : std::nullopt;
        if (!list)
            refusal = QStringLiteral("unusable key list %1: %2").arg(listPath, error);
        return list;
    }
    std::optional<KeyList> list = singleKeyList(updateKeyPath(basePath));
    if (!list)
        refusal = QStringLiteral("unreadable key %1").arg(updateKeyPath(basePath));
    return list;
}

void takePublishedKeyList(const QString& basePath, KeyList& current)
{
    const QString listPath = basePath + QStringLiteral("/Keys.xml");
    struct stat info {};
    if (::lstat(QFile::encodeName(listPath).constData(), &info) != 0)
        return; // the source publishes none: nothing changes
    std::optional<KeyList> published;
    QByteArray bytes;
    QString refusal = publishedListRefusal(basePath, current, published, bytes);
    QFile::remove(listPath);
    QFile::remove(listPath + QStringLiteral(".sig"));
    if (refusal.isEmpty() && !installList(basePath, bytes))
        refusal = QStringLiteral("cannot write %1").arg(keyListPath(basePath));
    if (!refusal.isEmpty()) {
        qWarning("key list ignored: %s", qPrintable(refusal));
        return;
    }
    qWarning("key list %lld taken: keys %s", published->version,
             qPrintable(published->ids().join(QStringLiteral(", "))));
    current = std::move(*published);
}
